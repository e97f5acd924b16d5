// The host path: lags in groups formed together in the vector lanes (or, for rows too long to
// hold a group, one lag at a time), each row transformed and reduced to its cell while it is
// still in cache. Every worker owns its rows; one plan serves them all.
#include <algorithm>
#include <atomic>
#include <vector>

#include "backends/host/coarse_lanes.hpp"
#include "backends/host/host_paths.hpp"
#include "platform/host/worker_threads.hpp"
#include "stages/coarse/coarse_row.hpp"
#include "stages/coarse/coarse_search.hpp"
#include "stages/coarse/signal_maps.hpp"

namespace kestrav {
namespace {

// A worker's rows: a lane group while its rows fit in this, one row otherwise.
constexpr std::uint64_t WorkerRowBytes = 32u << 20;
// The rows of all workers together: on a machine of many cores fewer workers take long rows.
constexpr std::uint64_t AllRowBytes = 128u << 20;

// Every row starts on a 64-byte boundary like the planned row, whatever L is.
std::size_t rowStrideOf(std::uint64_t fftLength) {
  return static_cast<std::size_t>(std::max<std::uint64_t>(fftLength, 8));
}

}  // namespace

void formDecimatedRows(const CoarseRequest& request, const CoarseSizes& sizes, int firstLag,
                       int rowCount, std::span<float2> rows, std::span<float2> scratch) {
  withSegments(request.segments, [&](auto firstSegment, auto secondSegment) {
    const std::size_t groupLength = static_cast<std::size_t>(sizes.decimation);
    const std::size_t decimatedLength = static_cast<std::size_t>(sizes.decimatedLength);
    const std::size_t fftLength = sizes.fftLength;
    const auto* first = firstSegment.data();
    for (int r = 0; r < rowCount; ++r) {
      const auto* second = secondSegment.data() + firstLag + r;
      const std::span<float2> row =
          rows.subspan(static_cast<std::size_t>(r) * fftLength, fftLength);
      if (groupLength == 1) {
        // Nothing to sum: the row is the product.
        for (std::size_t b = 0; b < decimatedLength; ++b) {
          row[b] = conjugateProduct(toFloat2(first[b]), toFloat2(second[b]));
        }
      } else {
        for (std::size_t b = 0; b < decimatedLength; ++b) {
          const std::size_t start = b * groupLength;
          for (std::size_t t = 0; t < groupLength; ++t) {
            scratch[t] = conjugateProduct(toFloat2(first[start + t]), toFloat2(second[start + t]));
          }
          row[b] = decimateGroup(scratch.data(), sizes.decimation);
        }
      }
      std::fill(row.begin() + static_cast<std::ptrdiff_t>(decimatedLength), row.end(), float2{});
    }
  });
}

void coarseSearchHost(const CoarseRequest& request, std::span<LagCell> cells) {
  const CoarseSizes sizes = startCoarseSearch(request, cells);
  if (sizes.fftLength == 0) return;

  const std::size_t fftLength = sizes.fftLength;
  const std::size_t rowStride = rowStrideOf(fftLength);
  const InstructionSet set = widestInstructionSet();
  const bool inLanes =
      static_cast<std::uint64_t>(lagsPerLaneGroup(set)) * rowStride * sizeof(float2) <=
      WorkerRowBytes;
  const int rowsPerTask = inLanes ? lagsPerLaneGroup(set) : 1;
  const int taskCount = (request.lagCount + rowsPerTask - 1) / rowsPerTask;
  const std::uint64_t rowBytes = rowsPerTask * rowStride * sizeof(float2);
  const int workers = static_cast<int>(std::min<std::uint64_t>(
      workerCountFor(taskCount), std::max<std::uint64_t>(1, AllRowBytes / rowBytes)));

  struct WorkerBuffers {
    FftwArray<float2> rows;
    std::vector<float> laneScratch;  // the lane kernel's converted samples
    std::vector<float2> rowScratch;  // one decimation group of the row path
  };
  std::vector<WorkerBuffers> buffers(static_cast<std::size_t>(workers));
  for (WorkerBuffers& worker : buffers) {
    worker.rows = makeFftwArray<float2>(rowBytes / sizeof(float2), "the host spectrum rows");
    if (inLanes) {
      worker.laneScratch.resize(laneScratchFloats(sizes.decimation));
    } else {
      worker.rowScratch.resize(static_cast<std::size_t>(sizes.decimation));
    }
  }
  // FFTW arrays share one alignment and every row starts on a 64-byte boundary, so the plan of
  // one row serves every row of every worker.
  const FftwfPlan plan = planRowTransforms(fftLength, 1, buffers.front().rows.get());

  std::atomic<int> nextTask{0};
  std::atomic<int> lagsDone{0};
  runOnWorkers(workers, [&](int w) {
    WorkerBuffers& worker = buffers[w];
    float2* buffer = worker.rows.get();
    for (int task = nextTask++; task < taskCount; task = nextTask++) {
      const int firstLag = task * rowsPerTask;
      const int rowCount = std::min(rowsPerTask, request.lagCount - firstLag);
      if (inLanes) {
        formLaneGroupRows(set, request, sizes, firstLag, rowCount, buffer, rowStride,
                          worker.laneScratch);
      } else {
        formDecimatedRows(request, sizes, firstLag, 1, std::span<float2>(buffer, fftLength),
                          worker.rowScratch);
      }
      // Only the rows of existing lags are transformed, each reduced while still in cache.
      for (int r = 0; r < rowCount; ++r) {
        float2* row = buffer + static_cast<std::size_t>(r) * rowStride;
        auto* complexRow = reinterpret_cast<fftwf_complex*>(row);
        fftwf_execute_dft(plan.get(), complexRow, complexRow);
        cells[static_cast<std::size_t>(firstLag + r)] = evaluateSpectrumVectorised(
            std::span<const float2>(row, fftLength), firstLag + r, sizes.decimatedRate);
      }
      const int done = lagsDone += rowCount;
      if (request.progress) request.progress(done);
    }
  });
}

}  // namespace kestrav
