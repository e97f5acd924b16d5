#include "tdc/fine_zoom.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "engine/errors.hpp"
#include "engine/fftw_plans.hpp"
#include "tdc/signal_maps_double.hpp"

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

ZoomPeak strongestZoomPoint(CztFunction czt, const double2* x, int N, int M, double step,
                            double start, int traceHalfWidth) {
  auto zoom = makeFftwArray<double2>(static_cast<std::size_t>(M), "the zoom");
  czt(x, N, zoom.get(), M, step, start);
  ZoomPeak peak;
  for (int k = 0; k < M; ++k) {
    zoom[k] = power(zoom[k]);
    if (zoom[k].x > zoom[peak.index].x) peak.index = k;
  }
  const int halfWidth = std::max(0, traceHalfWidth);
  if (halfWidth > 0) {
    peak.traceFirst = std::max(0, peak.index - halfWidth);
    const int traceEnd = static_cast<int>(std::min<long long>(M, 1LL + peak.index + halfWidth));
    for (int k = peak.traceFirst; k < traceEnd; ++k) peak.trace.push_back(zoom[k].x);
  }
  return peak;
}

}  // namespace kestrav
