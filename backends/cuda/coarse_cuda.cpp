#include "backends/cuda/coarse_cuda.hpp"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "backends/cuda/coarse_kernels.hpp"
#include "backends/cuda/gpu_sites.hpp"
#include "platform/gpu/device_buffer.hpp"
#include "stages/coarse/coarse_row.hpp"
#include "stages/coarse/coarse_search.hpp"

namespace kestrav {
namespace {

// The search on the device with the segments uploaded in their own sample type.
template <class Sample>
void searchOnDevice(std::span<const Sample> firstSegment, std::span<const Sample> secondSegment,
                    const CoarseRequest& request, const CoarseSizes& sizes,
                    std::span<LagCell> cells) {
  const int fftLength = static_cast<int>(sizes.fftLength);
  const int lagsPerBatch = sizes.lagsPerBatch;
  const auto sampleCount = static_cast<std::size_t>(request.sampleCount);
  const std::size_t secondCount = sampleCount + static_cast<std::size_t>(request.lagCount);

  DeviceBuffer<Sample> first(sampleCount, TdcSite::CoarseAllocateFirstSegment);
  DeviceBuffer<Sample> second(secondCount, TdcSite::CoarseAllocateSecondSegment);
  GpuCheck(cudaMemcpy(first.get(), firstSegment.data(), first.bytes(), cudaMemcpyHostToDevice),
           TdcSite::CoarseUploadFirstSegment);
  GpuCheck(cudaMemcpy(second.get(), secondSegment.data(), second.bytes(), cudaMemcpyHostToDevice),
           TdcSite::CoarseUploadSecondSegment);
  // The products never leave the rows' pass; in their buffer's place the batch's row peaks.
  DeviceBuffer<RowPeak> peaks(static_cast<std::size_t>(lagsPerBatch),
                              TdcSite::CoarseAllocateBatchPeaks);
  DeviceBuffer<float2> spectra(static_cast<std::size_t>(lagsPerBatch) * sizes.fftLength,
                               TdcSite::CoarseAllocateLagRows);
  std::vector<RowPeak> batchPeaks(static_cast<std::size_t>(lagsPerBatch));
  {
    // One plan of B rows serves every batch; the rows of a short last batch stay zero. Rows of
    // one point are their own spectra: no plan, which the FFT library need not make for them.
    FftPlan plan;
    if (fftLength > 1) {
      throwOnFftFailure(plan.create(fftLength, CUFFT_C2C, lagsPerBatch),
                        "plan " + std::to_string(lagsPerBatch) + " transforms of " +
                            std::to_string(fftLength) + " points");
    }
    auto* rows = reinterpret_cast<cufftComplex*>(spectra.get());
    for (int firstLag = 0; firstLag < request.lagCount;) {
      const int lags = std::min(lagsPerBatch, request.lagCount - firstLag);
      // The rows' values beyond M must be zero.
      GpuCheck(cudaMemset(spectra.get(), 0, spectra.bytes()), TdcSite::CoarseClearLagRows);
      Sig_Conj_Comp_batch(first.get(), second.get(), firstLag, lags, sizes.decimation,
                          sizes.decimatedLength, spectra.get(), fftLength);
      if (fftLength > 1) {
        throwOnFftFailure(cufftExecC2C(plan.get(), rows, rows, CUFFT_FORWARD),
                          "transform the lag rows");
      }
      Spectrum_Peak_batch(spectra.get(), fftLength, lags, peaks.get());
      checkLaunches(TdcSite::CoarseCheckRowLaunches);
      GpuCheck(cudaMemcpy(batchPeaks.data(), peaks.get(),
                          sizeof(RowPeak) * static_cast<std::size_t>(lags), cudaMemcpyDeviceToHost),
               TdcSite::CoarseDownloadBatchPeaks);
      for (int z = 0; z < lags; ++z) {
        const RowPeak& peak = batchPeaks[static_cast<std::size_t>(z)];
        cells[static_cast<std::size_t>(firstLag + z)] =
            LagCell{firstLag + z,
                    binFrequency(static_cast<std::uint64_t>(peak.index), sizes.fftLength,
                                 sizes.decimatedRate),
                    lagLevel(peak.power, peak.norm, sizes.fftLength)};
      }
      firstLag += lags;
      if (request.progress) request.progress(firstLag);
    }
  }
  first.release(TdcSite::CoarseFreeFirstSegment);
  second.release(TdcSite::CoarseFreeSecondSegment);
  peaks.release(TdcSite::CoarseFreeBatchPeaks);
  spectra.release(TdcSite::CoarseFreeLagRows);
}

}  // namespace

void coarseSearchCuda(const CoarseRequest& request, std::span<LagCell> cells) {
  const CoarseSizes sizes = startCoarseSearch(request, cells);
  if (sizes.fftLength == 0) return;
  if (sizes.fftLength > static_cast<std::uint64_t>(INT_MAX)) {
    throw ResourceError("a coarse spectrum of " + std::to_string(sizes.fftLength) +
                        " points is beyond the FFT's 32-bit lengths");
  }
  withSegments(request.segments, [&](auto first, auto second) {
    searchOnDevice(first, second, request, sizes, cells);
  });
}

}  // namespace kestrav
