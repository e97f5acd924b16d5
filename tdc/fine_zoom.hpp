#pragma once
// What the two fine estimates share: the length of a zoom grid and the zoom's strongest point.
#include <vector>

#include "czt/czt.hpp"
#include "gpu/vector_types.hpp"

namespace kestrav {

inline constexpr double TwoPi = 6.283185307179586;

// floor(span / gridStep), the number of grid points of the band; 0 when not even one fits.
// Throws InputError naming the zoom when the count exceeds the 32-bit range.
int zoomLength(double span, double gridStep, const char* zoom);

struct ZoomPeak {
  int index = 0;           // the first point of largest power: of two equal maxima the lower wins
  int traceFirst = 0;      // zoom index of trace[0]
  std::vector<double> trace;  // the power at the peak and up to traceHalfWidth points each side
};

// The zoom of the N points x at M >= 1 angular frequencies start - k step by `czt`, reduced to
// its strongest point.
ZoomPeak strongestZoomPoint(CztFunction czt, const double2* x, int N, int M, double step,
                            double start, int traceHalfWidth);

}  // namespace kestrav
