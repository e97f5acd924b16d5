#pragma once
// What the two fine estimates share: their zoom grids, the length of a grid and the zoom's
// strongest point.
#include <algorithm>
#include <optional>
#include <vector>

#include "platform/host/vector_types.hpp"
#include "stages/fine/czt.hpp"
#include "stages/fine/fine_request.hpp"

namespace kestrav {

inline constexpr double TwoPi = 6.283185307179586;

// floor(span / gridStep), the number of grid points of the band; 0 when not even one fits.
// Throws InputError naming the zoom when the count exceeds the 32-bit range.
int zoomLength(double span, double gridStep, const char* zoom);

// A zoom over [low, low + span) in `points` points, evaluated as the chirp-z transform of the
// estimate's input at start - k step; the correction steps by the fixed `fixedStep`.
struct ZoomGrid {
  double low = 0.0;
  double span = 0.0;
  int points = 0;
  double step = 0.0;
  double start = 0.0;
  double fixedStep = 0.0;
};

// The frequency estimate: 2048 runs of `runLength` samples of the product zoomed over four bins
// of the runs' spectrum, 0.0001 Hz apart. None without 2048 samples or a grid point.
struct FrequencyZoom {
  int runLength = 0;
  ZoomGrid grid;
};
inline constexpr int FrequencyRuns = 2048;
std::optional<FrequencyZoom> frequencyZoomOf(const FineRequest& request);

// The delay estimate: blocks of 2048 samples, their summed cross-spectrum zoomed over delays of
// -2 to +2 sample periods, 1 ns apart. None without a whole block or a grid point.
struct DelayZoom {
  int blocks = 0;
  ZoomGrid grid;
};
inline constexpr int DelayBlockLength = 2048;
inline constexpr int DelayFrameLength = 2 * DelayBlockLength;
std::optional<DelayZoom> delayZoomOf(const FineRequest& request);

// The phase step that shifts the second recording down by the request's frequency offset.
double frequencyShiftStep(const FineRequest& request);

struct ZoomPeak {
  int index = 0;       // the first point of largest power: of two equal maxima the lower wins
  int traceFirst = 0;  // zoom index of trace[0]
  std::vector<double> trace;  // the power at the peak and up to traceHalfWidth points each side
};

// The zoom of the N points x at M >= 1 angular frequencies start - k step by `czt`, reduced to
// its strongest point.
ZoomPeak strongestZoomPoint(CztFunction czt, const double2* x, int N, int M, double step,
                            double start, int traceHalfWidth);

// The trace of the peak: the powers at index - halfWidth .. index + halfWidth within the zoom,
// each taken from `powerAt`.
template <class PowerAt>
void fillTrace(ZoomPeak& peak, int M, int traceHalfWidth, PowerAt&& powerAt) {
  const int halfWidth = std::max(0, traceHalfWidth);
  if (halfWidth == 0) return;
  peak.traceFirst = std::max(0, peak.index - halfWidth);
  const int traceEnd = static_cast<int>(std::min<long long>(M, 1LL + peak.index + halfWidth));
  powerAt(peak.traceFirst, traceEnd, peak.trace);
}

// The estimate of a zoom's peak: the correction low + index * fixedStep (the fixed step, not the
// grid's own spacing span / points), the grid and the trace.
FineEstimate estimateAtPeak(const ZoomGrid& grid, ZoomPeak peak);

// The delay estimate's zoom input from the summed cross-spectrum S of 4096 bins:
// S[(2048 - m) mod 4096] / 4096, its bins reversed, scaled and centred on zero frequency.
std::vector<double2> centredReversedSpectrum(const std::vector<double2>& summed);

}  // namespace kestrav
