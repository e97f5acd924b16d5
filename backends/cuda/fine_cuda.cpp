#include "backends/cuda/fine_cuda.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "backends/cuda/czt_cuda.hpp"
#include "backends/cuda/fine_kernels.hpp"
#include "backends/cuda/gpu_sites.hpp"
#include "platform/gpu/device_buffer.hpp"
#include "stages/fine/fine_zoom.hpp"

namespace kestrav {
namespace {

constexpr int BlockLength = 2048;  // samples of a run sum's block and of a delay frame's block
constexpr int FrameLength = 2 * BlockLength;

// The zoom's power and its first strongest point (cuBLAS), with the window of powers around it
// that the request asks for.
ZoomPeak strongestZoomPointCuda(double2* zoom, int M, int traceHalfWidth, cublasHandle_t handle,
                                GpuSite launchCheck, GpuSite traceCopy) {
  Sig_Abs_inout_d(zoom, M);
  checkLaunches(launchCheck);
  int oneBased = 0;
  throwOnBlasFailure(
      cublasIzamax_v2(handle, M, reinterpret_cast<const cuDoubleComplex*>(zoom), 1, &oneBased),
      "find the strongest point of a zoom of " + std::to_string(M) + " points");
  // An index outside the zoom would have the trace read outside it.
  if (oneBased < 1 || oneBased > M) {
    throw ResourceError("the GPU found no strongest point of a zoom of " + std::to_string(M) +
                        " points");
  }
  ZoomPeak peak;
  peak.index = oneBased - 1;
  const int halfWidth = std::max(0, traceHalfWidth);
  if (halfWidth > 0) {
    peak.traceFirst = std::max(0, peak.index - halfWidth);
    const int traceEnd = static_cast<int>(std::min<long long>(M, 1LL + peak.index + halfWidth));
    std::vector<double2> window(static_cast<std::size_t>(traceEnd - peak.traceFirst));
    GpuCheck(cudaMemcpy(window.data(), zoom + peak.traceFirst, window.size() * sizeof(double2),
                        cudaMemcpyDeviceToHost),
             traceCopy);
    for (const double2& point : window) peak.trace.push_back(point.x);
  }
  return peak;
}

// The correction follows the fixed grid step, not the zoom's own spacing span / M.
FineEstimate estimateAt(const ZoomPeak& peak, double fixedStep, double gridStart, double span,
                        int M) {
  FineEstimate estimate;
  estimate.correction = static_cast<double>(peak.index) * fixedStep + gridStart;
  estimate.zoomIndex = peak.index;
  estimate.zoomPoints = M;
  estimate.gridStart = gridStart;
  estimate.gridStep = span / M;
  estimate.traceFirst = peak.traceFirst;
  estimate.trace = peak.trace;
  return estimate;
}

cufftDoubleComplex* fftData(double2* data) { return reinterpret_cast<cufftDoubleComplex*>(data); }

// The product conj(first) second, the second recording shifted down by the candidate's offset,
// summed in 2048 runs of K samples, zoomed over four bins of the runs' 2048-point spectrum.
template <class Sample>
FineEstimate fineFrequencyOnDevice(const Sample* first, const Sample* second,
                                   const FineRequest& request, cublasHandle_t handle) {
  constexpr double GridStep = 0.0001;  // hertz
  const int n = request.sampleCount;
  if (n < BlockLength) return {};
  const double fs = request.sampleRate;
  const int K = std::max(1, static_cast<int>(std::floor(n * 0.00048828125)));
  const double T = static_cast<double>(BlockLength * K) / fs;
  const double fLow = -2.0 / T;
  const double span = 2.0 / T - fLow;
  const double zoomRate = 2048.0 / T;
  const int M = zoomLength(span, GridStep, "the fine frequency zoom");
  if (M < 1) return {};

  // Only the 2048 K products that the runs sum are formed.
  const double w = request.frequencyOffset * -TwoPi / fs;
  const int used = BlockLength * K;
  DeviceBuffer<double2> product(static_cast<std::size_t>(used), TdcSite::FrequencyAllocateProduct);
  BuildSignal_df(second, product.get(), used, w);
  Sig_Conj_Mul_SDD(first, product.get(), used);
  DeviceBuffer<double2> runSums(BlockLength, TdcSite::FrequencyAllocateRunSums);
  static_cast<void>(cudaMemset(runSums.get(), 0, runSums.bytes()));
  Sig_Add_d(product.get(), runSums.get(), K, BlockLength, 1);

  DeviceBuffer<double2> zoom(static_cast<std::size_t>(M), TdcSite::FrequencyAllocateZoom);
  const double step = (span * -TwoPi) / (static_cast<double>(M) * zoomRate);
  const double start = (fLow * TwoPi) / zoomRate;
  cztCuda(runSums.get(), BlockLength, zoom.get(), M, step, start);
  const ZoomPeak peak =
      strongestZoomPointCuda(zoom.get(), M, request.traceHalfWidth, handle,
                             TdcSite::FrequencyCheckPowerLaunch, TdcSite::FrequencyDownloadTrace);
  product.release(TdcSite::FrequencyFreeProduct);
  runSums.release(TdcSite::FrequencyFreeRunSums);
  zoom.release(TdcSite::FrequencyFreeZoom);
  return estimateAt(peak, GridStep, fLow, span, M);
}

// Blocks of 2048 samples of both recordings, the second shifted down by the candidate's offset,
// zero-padded to frames of 4096 and transformed; the summed cross-spectrum, reversed and
// centred, zoomed over delays of -2 to +2 sample periods.
template <class Sample>
FineEstimate fineDelayOnDevice(const Sample* first, const Sample* second,
                               const FineRequest& request, cublasHandle_t handle) {
  constexpr double GridStep = 1e-9;  // seconds
  const int n = request.sampleCount;
  const int K = static_cast<int>(std::floor(n * 0.00048828125));
  if (K < 1) return {};
  const double fs = request.sampleRate;
  const double tLow = -2.0 / fs;
  const double span = 2.0 / fs - tLow;
  const double scale = 4096.0 / fs;
  const int M = zoomLength(span, GridStep, "the fine delay zoom");
  if (M < 1) return {};
  const std::int64_t frameElements = std::int64_t{FrameLength} * K;
  if (frameElements > INT_MAX) {
    throw ResourceError("the fine delay estimate on the GPU takes at most " +
                        std::to_string(INT_MAX / FrameLength * BlockLength) +
                        " samples, its frames being 32-bit ranges; the host backend "
                        "(--backend=host) takes more");
  }
  const int frameCount = static_cast<int>(frameElements);
  const int samples = BlockLength * K;
  const double w = request.frequencyOffset * -TwoPi / fs;

  DeviceBuffer<double2> sumSpectrum(FrameLength, TdcSite::DelayAllocateSumSpectrum);
  static_cast<void>(cudaMemset(sumSpectrum.get(), 0, sumSpectrum.bytes()));
  DeviceBuffer<double2> shifted(FrameLength, TdcSite::DelayAllocateShifted);
  static_cast<void>(cudaMemset(shifted.get(), 0, shifted.bytes()));
  DeviceBuffer<double2> zoom(static_cast<std::size_t>(M), TdcSite::DelayAllocateZoom);
  // Frame layout: the kernels write only the first half of every frame.
  DeviceBuffer<double2> firstFrames(static_cast<std::size_t>(frameCount),
                                    TdcSite::DelayAllocateFirstFrames);
  DeviceBuffer<double2> secondFrames(static_cast<std::size_t>(frameCount),
                                     TdcSite::DelayAllocateSecondFrames);
  static_cast<void>(cudaMemset(firstFrames.get(), 0, firstFrames.bytes()));
  static_cast<void>(cudaMemset(secondFrames.get(), 0, secondFrames.bytes()));

  SegmentCopy_d(first, firstFrames.get(), samples, BlockLength);
  FftPlan framePlan;
  throwOnFftFailure(framePlan.create(FrameLength, CUFFT_Z2Z, K),
                    "plan " + std::to_string(K) + " transforms of 4096 points");
  BuildZeroDfSig_d(second, secondFrames.get(), samples, BlockLength, w);
  for (double2* frames : {firstFrames.get(), secondFrames.get()}) {
    throwOnFftFailure(
        cufftExecZ2Z(framePlan.get(), fftData(frames), fftData(frames), CUFFT_FORWARD),
        "transform the delay frames");
  }
  Sig_Conj_Mul_inout_d(firstFrames.get(), secondFrames.get(), frameCount);
  Sig_Add_d(firstFrames.get(), sumSpectrum.get(), K, FrameLength, 0);
  // The summed spectrum S reversed, scaled by 1 / 4096 and centred in one pass:
  // shifted[m] = S[(2048 - m) mod 4096] / 4096, what two scaled inverse transforms and a swap of
  // the halves would give.
  Sig_Reverse_Centre_d(sumSpectrum.get(), shifted.get(), FrameLength, BlockLength, 4096.0);

  const double step = (span * -TwoPi) / (static_cast<double>(M) * scale);
  const double start = (tLow * TwoPi) / scale;
  cztCuda(shifted.get(), FrameLength, zoom.get(), M, step, start);
  const ZoomPeak peak =
      strongestZoomPointCuda(zoom.get(), M, request.traceHalfWidth, handle,
                             TdcSite::DelayCheckPowerLaunch, TdcSite::DelayDownloadTrace);
  framePlan.destroy(TdcSite::DelayDestroyFramePlan);
  firstFrames.release(TdcSite::DelayFreeFirstFrames);
  secondFrames.release(TdcSite::DelayFreeSecondFrames);
  zoom.release(TdcSite::DelayFreeZoom);
  sumSpectrum.release(TdcSite::DelayFreeSumSpectrum);
  shifted.release(TdcSite::DelayFreeShifted);
  return estimateAt(peak, GridStep, tLow, span, M);
}

// Both estimates with the request's segments uploaded in their own sample type.
template <class Sample>
Refinement refineOnDevice(const Sample* firstSamples, const Sample* secondSamples,
                          const FineRequest& request, cublasHandle_t handle) {
  const auto count = static_cast<std::size_t>(request.sampleCount);
  DeviceBuffer<Sample> first(count, TdcSite::RefineAllocateFirstSegment);
  DeviceBuffer<Sample> second(count, TdcSite::RefineAllocateSecondSegment);
  GpuCheck(cudaMemcpy(first.get(), firstSamples, first.bytes(), cudaMemcpyHostToDevice),
           TdcSite::RefineUploadFirstSegment);
  GpuCheck(cudaMemcpy(second.get(), secondSamples, second.bytes(), cudaMemcpyHostToDevice),
           TdcSite::RefineUploadSecondSegment);
  const Refinement refinement = refineInTurn(
      request,
      [&](const FineRequest& r) {
        return fineFrequencyOnDevice(first.get(), second.get(), r, handle);
      },
      [&](const FineRequest& r) {
        return fineDelayOnDevice(first.get(), second.get(), r, handle);
      });
  first.release(TdcSite::RefineFreeFirstSegment);
  second.release(TdcSite::RefineFreeSecondSegment);
  return refinement;
}

}  // namespace

FineEstimate estimateFineFrequencyCuda(const short2* first, const short2* second,
                                       const FineRequest& request, cublasHandle_t handle) {
  return fineFrequencyOnDevice(first, second, request, handle);
}

FineEstimate estimateFineDelayCuda(const short2* first, const short2* second,
                                   const FineRequest& request, cublasHandle_t handle) {
  return fineDelayOnDevice(first, second, request, handle);
}

Refinement refineCuda(const FineRequest& request, cublasHandle_t handle) {
  // Fewer samples than one block: neither estimate has anything to zoom.
  if (request.sampleCount < BlockLength) return {};
  return withSegments(request.segments, [&](const auto* first, const auto* second) {
    return refineOnDevice(first, second, request, handle);
  });
}

}  // namespace kestrav
