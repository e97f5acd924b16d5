#include <algorithm>
#include <vector>

#include "backends/reference/reference_paths.hpp"
#include "platform/host/fftw_plans.hpp"
#include "stages/fine/fine_zoom.hpp"
#include "stages/fine/signal_maps_double.hpp"

namespace kestrav {

// The product conj(first) second, the second recording shifted down by the candidate's offset,
// summed in 2048 runs of K samples, zoomed over four bins of the runs' 2048-point spectrum.
FineEstimate estimateFineFrequency(const FineRequest& request, CztFunction czt) {
  const std::optional<FrequencyZoom> zoom = frequencyZoomOf(request);
  if (!zoom) return {};
  const int K = zoom->runLength;

  // Only the 2048 K products that the runs sum are formed; the samples after them take no part.
  const double w = frequencyShiftStep(request);
  const int used = FrequencyRuns * K;
  auto product =
      makeFftwArray<double2>(static_cast<std::size_t>(used), "the fine frequency product");
  withSegments(request.segments, [&](const auto* first, const auto* second) {
    for (int i = 0; i < used; ++i) {
      product[i] = conjugateProduct(first[i], shiftFrequency(second[i], i, w));
    }
  });
  std::vector<double2> runSums(FrequencyRuns, double2{0.0, 0.0});
  for (int j = 0; j < FrequencyRuns; ++j) accumulateRun(product.get(), runSums.data(), j, K);
  product.reset();

  const ZoomGrid& grid = zoom->grid;
  return estimateAtPeak(grid, strongestZoomPoint(czt, runSums.data(), FrequencyRuns, grid.points,
                                                 grid.step, grid.start, request.traceHalfWidth));
}

}  // namespace kestrav
