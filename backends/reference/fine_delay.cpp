#include <algorithm>
#include <vector>

#include "backends/reference/reference_paths.hpp"
#include "platform/host/inplace_transform.hpp"
#include "stages/fine/fine_zoom.hpp"
#include "stages/fine/signal_maps_double.hpp"

namespace kestrav {

// Blocks of 2048 samples of both recordings, the second shifted down by the candidate's offset,
// zero-padded to frames of 4096 and transformed; the summed cross-spectrum, reversed and
// centred, zoomed over delays of -2 to +2 sample periods.
FineEstimate estimateFineDelay(const FineRequest& request, CztFunction czt) {
  const std::optional<DelayZoom> zoom = delayZoomOf(request);
  if (!zoom) return {};
  const int K = zoom->blocks;

  // Frame layout: the second half of every frame stays zero.
  const double w = frequencyShiftStep(request);
  const std::int64_t samples = std::int64_t{DelayBlockLength} * K;
  const auto frameElements =
      static_cast<std::size_t>(DelayFrameLength) * static_cast<std::size_t>(K);
  auto firstFrames = makeFftwArray<double2>(frameElements, "the first recording's frames");
  auto secondFrames = makeFftwArray<double2>(frameElements, "the second recording's frames");
  std::fill(firstFrames.get(), firstFrames.get() + frameElements, double2{0.0, 0.0});
  std::fill(secondFrames.get(), secondFrames.get() + frameElements, double2{0.0, 0.0});
  withSegments(request.segments, [&](const auto* first, const auto* second) {
    for (std::int64_t i = 0; i < samples; ++i) {
      const std::int64_t at = frameIndex(i, DelayBlockLength);
      firstFrames[at] = toDouble2(first[i]);
      secondFrames[at] = shiftFrequency(second[i], static_cast<int>(i), w);
    }
  });

  const FftwPlan framePlan =
      planInPlaceTransforms(firstFrames.get(), DelayFrameLength, K, FFTW_FORWARD);
  transformInPlace(framePlan, firstFrames.get());
  transformInPlace(framePlan, secondFrames.get());
  for (std::size_t i = 0; i < frameElements; ++i) {
    firstFrames[i] = conjugateProduct(firstFrames[i], secondFrames[i]);
  }
  secondFrames.reset();
  std::vector<double2> summed(DelayFrameLength, double2{0.0, 0.0});
  for (int q = 0; q < DelayFrameLength; ++q) {
    accumulateRows(firstFrames.get(), summed.data(), q, K, DelayFrameLength);
  }
  firstFrames.reset();

  const std::vector<double2> shifted = centredReversedSpectrum(summed);
  const ZoomGrid& grid = zoom->grid;
  return estimateAtPeak(grid, strongestZoomPoint(czt, shifted.data(), DelayFrameLength, grid.points,
                                                 grid.step, grid.start, request.traceHalfWidth));
}

}  // namespace kestrav
