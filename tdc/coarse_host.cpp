// The host path: lags in groups of a few rows, each group formed, transformed by one batched
// FFT and evaluated by one worker thread, with every worker on its own buffers.
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "tdc/coarse_row.hpp"
#include "tdc/coarse_search.hpp"
#include "tdc/signal_maps.hpp"

namespace kestrav {
namespace {

// A group batches the transform while its rows stay small; a row longer than this is a group
// of one.
constexpr std::uint64_t GroupBytes = 8u << 20;
constexpr std::uint64_t MaxRowsPerGroup = 8;

int rowsPerGroup(std::uint64_t fftLength, int lagCount) {
  const std::uint64_t rowsInBudget = std::max<std::uint64_t>(1, GroupBytes / (8 * fftLength));
  return static_cast<int>(std::min({rowsInBudget, MaxRowsPerGroup,
                                    static_cast<std::uint64_t>(lagCount)}));
}

struct WorkerBuffers {
  FftwArray<float2> rows;       // rowsPerGroup rows of L values
  std::vector<float2> scratch;  // one decimation group
};

}  // namespace

void formDecimatedRows(const CoarseRequest& request, const CoarseSizes& sizes, int firstLag,
                       int rowCount, std::span<float2> rows, std::span<float2> scratch) {
  const std::size_t groupLength = static_cast<std::size_t>(sizes.decimation);
  const std::size_t decimatedLength = static_cast<std::size_t>(sizes.decimatedLength);
  const std::size_t fftLength = sizes.fftLength;
  const short2* first = request.first.data();
  for (int r = 0; r < rowCount; ++r) {
    const short2* second = request.second.data() + firstLag + r;
    const std::span<float2> row = rows.subspan(static_cast<std::size_t>(r) * fftLength, fftLength);
    for (std::size_t b = 0; b < decimatedLength; ++b) {
      const std::size_t start = b * groupLength;
      for (std::size_t t = 0; t < groupLength; ++t) {
        scratch[t] = conjugateProduct(toFloat2(first[start + t]), toFloat2(second[start + t]));
      }
      row[b] = decimateGroup(scratch.data(), sizes.decimation);
    }
    std::fill(row.begin() + static_cast<std::ptrdiff_t>(decimatedLength), row.end(), float2{});
  }
}

void coarseSearchHost(const CoarseRequest& request, std::span<LagCell> cells) {
  const CoarseSizes sizes = startCoarseSearch(request, cells);
  if (sizes.fftLength == 0) return;

  const std::size_t fftLength = sizes.fftLength;
  const int groupRows = rowsPerGroup(fftLength, request.lagCount);
  const int groupCount = (request.lagCount + groupRows - 1) / groupRows;
  const int tailRows = request.lagCount - (groupCount - 1) * groupRows;
  const unsigned hardwareThreads = std::max(1u, std::thread::hardware_concurrency());
  const unsigned workerCount = std::min(hardwareThreads, static_cast<unsigned>(groupCount));

  std::vector<WorkerBuffers> buffers(workerCount);
  const std::size_t groupValues = static_cast<std::size_t>(groupRows) * fftLength;
  for (WorkerBuffers& worker : buffers) {
    worker.rows = makeFftwArray<float2>(groupValues, "the host spectrum rows");
    worker.scratch.resize(static_cast<std::size_t>(sizes.decimation));
  }
  // One plan per group size; FFTW arrays share one alignment, so every worker may run them.
  const FftwfPlan fullPlan = planRowTransforms(fftLength, groupRows, buffers[0].rows.get());
  const FftwfPlan tailPlan = tailRows == groupRows
                                 ? FftwfPlan()
                                 : planRowTransforms(fftLength, tailRows, buffers[0].rows.get());

  std::atomic<int> nextGroup{0};
  const auto work = [&](WorkerBuffers& worker) {
    const std::span<float2> rows(worker.rows.get(), groupValues);
    auto* complexRows = reinterpret_cast<fftwf_complex*>(worker.rows.get());
    for (int group = nextGroup++; group < groupCount; group = nextGroup++) {
      const int firstLag = group * groupRows;
      const int rowCount = std::min(groupRows, request.lagCount - firstLag);
      formDecimatedRows(request, sizes, firstLag, rowCount, rows, worker.scratch);
      fftwf_execute_dft(rowCount == groupRows ? fullPlan.get() : tailPlan.get(), complexRows,
                        complexRows);
      for (int r = 0; r < rowCount; ++r) {
        cells[static_cast<std::size_t>(firstLag + r)] = evaluateSpectrum(
            rows.subspan(static_cast<std::size_t>(r) * fftLength, fftLength), firstLag + r,
            sizes.decimatedRate);
      }
    }
  };
  {
    std::vector<std::jthread> helpers;
    for (unsigned w = 1; w < workerCount; ++w) helpers.emplace_back(work, std::ref(buffers[w]));
    work(buffers[0]);
  }
}

}  // namespace kestrav
