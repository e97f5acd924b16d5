#include "stages/fine/fine_zoom.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "platform/host/errors.hpp"
#include "platform/host/fftw_plans.hpp"
#include "platform/host/worker_threads.hpp"
#include "stages/fine/signal_maps_double.hpp"

namespace kestrav {

int zoomLength(double span, double gridStep, const char* zoom) {
  const double points = std::floor(span / gridStep);
  if (!(points >= 1.0)) return 0;
  if (points > 2147483647.0) {
    char count[64];
    std::snprintf(count, sizeof count, "%.0f", points);
    throw InputError(std::string(zoom) + " would need " + count +
                     " points at this sample rate and sample count, more than 2147483647");
  }
  return static_cast<int>(points);
}

namespace {

// floor(span / fixedStep) points over [low, low + span) of a zoom input sampled at `rate`: the
// angular step and start in radians per sample of that input.
std::optional<ZoomGrid> gridOver(double low, double span, double rate, double fixedStep,
                                 const char* zoom) {
  ZoomGrid grid;
  grid.low = low;
  grid.span = span;
  grid.points = zoomLength(span, fixedStep, zoom);
  if (grid.points < 1) return std::nullopt;
  grid.step = (span * -TwoPi) / (static_cast<double>(grid.points) * rate);
  grid.start = (low * TwoPi) / rate;
  grid.fixedStep = fixedStep;
  return grid;
}

}  // namespace

std::optional<FrequencyZoom> frequencyZoomOf(const FineRequest& request) {
  const int n = request.sampleCount;
  // Fewer samples than runs: the run sums would reach past the recordings.
  if (n < FrequencyRuns) return std::nullopt;
  const int K = std::max(1, static_cast<int>(std::floor(n * 0.00048828125)));
  const double T = static_cast<double>(FrequencyRuns * K) / request.sampleRate;
  const double low = -2.0 / T;
  const std::optional<ZoomGrid> grid =
      gridOver(low, 2.0 / T - low, 2048.0 / T, 0.0001, "the fine frequency zoom");
  if (!grid) return std::nullopt;
  return FrequencyZoom{K, *grid};
}

std::optional<DelayZoom> delayZoomOf(const FineRequest& request) {
  const int K = static_cast<int>(std::floor(request.sampleCount * 0.00048828125));
  if (K < 1) return std::nullopt;
  const double fs = request.sampleRate;
  const double low = -2.0 / fs;
  const std::optional<ZoomGrid> grid =
      gridOver(low, 2.0 / fs - low, 4096.0 / fs, 1e-9, "the fine delay zoom");
  if (!grid) return std::nullopt;
  return DelayZoom{K, *grid};
}

double frequencyShiftStep(const FineRequest& request) {
  return request.frequencyOffset * -TwoPi / request.sampleRate;
}

ZoomPeak strongestZoomPoint(CztFunction czt, const double2* x, int N, int M, double step,
                            double start, int traceHalfWidth) {
  auto zoom = makeFftwArray<double2>(static_cast<std::size_t>(M), "the zoom");
  czt(x, N, zoom.get(), M, step, start);
  ZoomPeak peak;
  for (int k = 0; k < M; ++k) {
    zoom[k] = power(zoom[k]);
    if (zoom[k].x > zoom[peak.index].x) peak.index = k;
  }
  fillTrace(peak, M, traceHalfWidth, [&](int first, int end, std::vector<double>& trace) {
    for (int k = first; k < end; ++k) trace.push_back(zoom[k].x);
  });
  return peak;
}

FineEstimate estimateAtPeak(const ZoomGrid& grid, ZoomPeak peak) {
  FineEstimate estimate;
  estimate.correction = static_cast<double>(peak.index) * grid.fixedStep + grid.low;
  estimate.zoomIndex = peak.index;
  estimate.zoomPoints = grid.points;
  estimate.gridStart = grid.low;
  estimate.gridStep = grid.span / grid.points;
  estimate.traceFirst = peak.traceFirst;
  estimate.trace = std::move(peak.trace);
  return estimate;
}

std::vector<double2> centredReversedSpectrum(const std::vector<double2>& summed) {
  // The summed spectrum S reversed and scaled by 1 / 4096, then its halves swapped:
  // shifted[m] = S[(2048 - m) mod 4096] / 4096, the bins centred on zero frequency.
  std::vector<double2> shifted(DelayFrameLength);
  for (int m = 0; m < DelayFrameLength; ++m) {
    shifted[m] =
        divide(summed[(DelayBlockLength - m + DelayFrameLength) % DelayFrameLength], 4096.0);
  }
  return shifted;
}

}  // namespace kestrav
