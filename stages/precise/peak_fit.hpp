#pragma once
// Continuous peak positions: a quadratic through the powers around a zoom's strongest point,
// placed on the zoom's own grid, and the maximum of a sum of phasors by Newton's method.
#include <span>

#include "platform/host/vector_types.hpp"
#include "stages/fine/fine_request.hpp"

namespace kestrav {

// Where the power of a refined estimate's zoom peaks, in the estimate's units (gridStart +
// x gridStep for a fractional index x), from a least-squares quadratic through its trace. NaN
// when the estimate carries no zoom or fewer than three traced points.
double zoomPeakPosition(const FineEstimate& estimate);

struct PhasorPeak {
  double position = 0.0;
  double power = 0.0;  // |A(position)|^2
  int steps = 0;
  bool converged = false;
};

// The x near `start` that maximises |A(x)|^2, A(x) = sum_k terms[k] e^{j rates[k] x}: Newton
// steps on the power, each at most maxStep long and halved until the power does not fall, until
// a step is shorter than `tolerance`.
PhasorPeak maximizePhasorSum(std::span<const double2> terms, std::span<const double> rates,
                             double start, double maxStep, double tolerance);

}  // namespace kestrav
