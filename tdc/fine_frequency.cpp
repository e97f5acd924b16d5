#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/fftw_plans.hpp"
#include "tdc/fine_estimates.hpp"
#include "tdc/fine_zoom.hpp"
#include "tdc/signal_maps_double.hpp"

namespace kestrav {

// The product conj(first) second, the second recording shifted down by the candidate's offset,
// summed in 2048 runs of K samples, zoomed over four bins of the runs' 2048-point spectrum.
FineEstimate estimateFineFrequency(const FineRequest& request, CztFunction czt) {
  constexpr int RunCount = 2048;
  constexpr double GridStep = 0.0001;  // hertz
  const int n = request.sampleCount;
  // Fewer samples than runs: the run sums would reach past the recordings.
  if (n < RunCount) return {};

  const double fs = request.sampleRate;
  const int K = std::max(1, static_cast<int>(std::floor(n * 0.00048828125)));
  const double T = static_cast<double>(RunCount * K) / fs;
  const double fLow = -2.0 / T;
  const double span = 2.0 / T - fLow;
  const double zoomRate = 2048.0 / T;
  const int M = zoomLength(span, GridStep, "the fine frequency zoom");
  if (M < 1) return {};

  // Only the 2048 K products that the runs sum are formed; the samples after them take no part.
  const double w = request.frequencyOffset * -TwoPi / fs;
  const int used = RunCount * K;
  auto product =
      makeFftwArray<double2>(static_cast<std::size_t>(used), "the fine frequency product");
  for (int i = 0; i < used; ++i) {
    product[i] = conjugateProduct(request.first[i], shiftFrequency(request.second[i], i, w));
  }
  std::vector<double2> runSums(RunCount, double2{0.0, 0.0});
  for (int j = 0; j < RunCount; ++j) accumulateRun(product.get(), runSums.data(), j, K);
  product.reset();

  const double step = (span * -TwoPi) / (static_cast<double>(M) * zoomRate);
  const double start = (fLow * TwoPi) / zoomRate;
  const ZoomPeak peak =
      strongestZoomPoint(czt, runSums.data(), RunCount, M, step, start, request.traceHalfWidth);
  // The fixed grid step, not the zoom's own spacing span / M.
  FineEstimate estimate;
  estimate.correction = static_cast<double>(peak.index) * GridStep + fLow;
  estimate.zoomIndex = peak.index;
  estimate.zoomPoints = M;
  estimate.gridStart = fLow;
  estimate.gridStep = span / M;
  estimate.traceFirst = peak.traceFirst;
  estimate.trace = peak.trace;
  return estimate;
}

}  // namespace kestrav
