#include <algorithm>
#include <cmath>
#include <vector>

#include "czt/inplace_transform.hpp"
#include "tdc/fine_estimates.hpp"
#include "tdc/fine_zoom.hpp"
#include "tdc/signal_maps_double.hpp"

namespace kestrav {

// Blocks of 2048 samples of both recordings, the second shifted down by the candidate's offset,
// zero-padded to frames of 4096 and transformed; the summed cross-spectrum, reversed and
// centred, zoomed over delays of -2 to +2 sample periods.
FineEstimate estimateFineDelay(const FineRequest& request, CztFunction czt) {
  constexpr int BlockLength = 2048;
  constexpr int FrameLength = 2 * BlockLength;
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

  // Frame layout: the second half of every frame stays zero.
  const double w = request.frequencyOffset * -TwoPi / fs;
  const std::int64_t samples = std::int64_t{BlockLength} * K;
  const auto frameElements = static_cast<std::size_t>(FrameLength) * static_cast<std::size_t>(K);
  auto firstFrames = makeFftwArray<double2>(frameElements, "the first recording's frames");
  auto secondFrames = makeFftwArray<double2>(frameElements, "the second recording's frames");
  std::fill(firstFrames.get(), firstFrames.get() + frameElements, double2{0.0, 0.0});
  std::fill(secondFrames.get(), secondFrames.get() + frameElements, double2{0.0, 0.0});
  for (std::int64_t i = 0; i < samples; ++i) {
    const std::int64_t at = frameIndex(i, BlockLength);
    firstFrames[at] = toDouble2(request.first[i]);
    secondFrames[at] = shiftFrequency(request.second[i], static_cast<int>(i), w);
  }

  const FftwPlan framePlan = planInPlaceTransforms(firstFrames.get(), FrameLength, K, FFTW_FORWARD);
  transformInPlace(framePlan, firstFrames.get());
  transformInPlace(framePlan, secondFrames.get());
  for (std::size_t i = 0; i < frameElements; ++i) {
    firstFrames[i] = conjugateProduct(firstFrames[i], secondFrames[i]);
  }
  secondFrames.reset();
  std::vector<double2> summed(FrameLength, double2{0.0, 0.0});
  for (int q = 0; q < FrameLength; ++q) {
    accumulateRows(firstFrames.get(), summed.data(), q, K, FrameLength);
  }
  firstFrames.reset();

  // The summed spectrum S reversed and scaled by 1 / 4096, then its halves swapped:
  // shifted[m] = S[(2048 - m) mod 4096] / 4096, the bins centred on zero frequency.
  std::vector<double2> shifted(FrameLength);
  for (int m = 0; m < FrameLength; ++m) {
    shifted[m] = divide(summed[(BlockLength - m + FrameLength) % FrameLength], 4096.0);
  }

  const double step = (span * -TwoPi) / (static_cast<double>(M) * scale);
  const double start = (tLow * TwoPi) / scale;
  const ZoomPeak peak =
      strongestZoomPoint(czt, shifted.data(), FrameLength, M, step, start, request.traceHalfWidth);
  // The fixed grid step, not the zoom's own spacing span / M.
  FineEstimate estimate;
  estimate.correction = static_cast<double>(peak.index) * GridStep + tLow;
  estimate.zoomIndex = peak.index;
  estimate.zoomPoints = M;
  estimate.gridStart = tLow;
  estimate.gridStep = span / M;
  estimate.traceFirst = peak.traceFirst;
  estimate.trace = peak.trace;
  return estimate;
}

}  // namespace kestrav
