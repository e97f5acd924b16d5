#include "stages/precise/peak_fit.hpp"

#include <cmath>
#include <limits>

namespace kestrav {

double zoomPeakPosition(const FineEstimate& estimate) {
  const int count = static_cast<int>(estimate.trace.size());
  const int peakAt = estimate.zoomIndex - estimate.traceFirst;
  if (estimate.zoomIndex < 0 || count < 3 || peakAt < 0 || peakAt >= count) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  // Offsets from the strongest point, powers relative to it: the curvature over a few grid
  // steps is a tiny fraction of the power, so it is fitted on the differences.
  const double top = estimate.trace[static_cast<std::size_t>(peakAt)];
  double s[5] = {};
  double t[3] = {};
  for (int i = 0; i < count; ++i) {
    const double u = i - peakAt;
    const double p = estimate.trace[static_cast<std::size_t>(i)] - top;
    double power = 1.0;
    for (int e = 0; e < 5; ++e) {
      s[e] += power;
      if (e < 3) t[e] += power * p;
      power *= u;
    }
  }
  // Normal equations of p = c0 + c1 u + c2 u^2, by Cramer's rule.
  const auto det3 = [](double a, double b, double c, double d, double e, double f, double g,
                       double h, double k) {
    return a * (e * k - f * h) - b * (d * k - f * g) + c * (d * h - e * g);
  };
  const double det = det3(s[0], s[1], s[2], s[1], s[2], s[3], s[2], s[3], s[4]);
  const double c1 = det3(s[0], t[0], s[2], s[1], t[1], s[3], s[2], t[2], s[4]) / det;
  const double c2 = det3(s[0], s[1], t[0], s[1], s[2], t[1], s[2], s[3], t[2]) / det;
  double offset = 0.0;
  if (c2 < 0.0) {
    offset = -c1 / (2.0 * c2);
    // A vertex outside the traced points is an extrapolation: keep the strongest point.
    if (!(offset >= -peakAt && offset <= count - 1 - peakAt)) offset = 0.0;
  }
  return estimate.gridStart + (estimate.zoomIndex + offset) * estimate.gridStep;
}

namespace {

// A(x) and its first two derivatives in x.
struct PhasorSum {
  double2 value{0.0, 0.0};
  double2 first{0.0, 0.0};
  double2 second{0.0, 0.0};
  double power() const { return value.x * value.x + value.y * value.y; }
};

PhasorSum evaluate(std::span<const double2> terms, std::span<const double> rates, double x) {
  PhasorSum sum;
  for (std::size_t k = 0; k < terms.size(); ++k) {
    const double angle = rates[k] * x;
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double2 v{terms[k].x * c - terms[k].y * s, terms[k].x * s + terms[k].y * c};
    const double a = rates[k];
    sum.value.x += v.x;
    sum.value.y += v.y;
    sum.first.x -= a * v.y;  // j a v
    sum.first.y += a * v.x;
    sum.second.x -= a * a * v.x;
    sum.second.y -= a * a * v.y;
  }
  return sum;
}

}  // namespace

PhasorPeak maximizePhasorSum(std::span<const double2> terms, std::span<const double> rates,
                             double start, double maxStep, double tolerance) {
  constexpr int MostSteps = 50;
  constexpr int MostHalvings = 40;
  PhasorPeak peak;
  peak.position = start;
  PhasorSum here = evaluate(terms, rates, start);
  for (peak.steps = 0; peak.steps < MostSteps;) {
    const PhasorSum& a = here;
    // g = |A|^2: g' = 2 Re(conj(A) A'), g'' = 2 (|A'|^2 + Re(conj(A) A'')).
    const double slope = a.value.x * a.first.x + a.value.y * a.first.y;
    const double curvature = a.first.x * a.first.x + a.first.y * a.first.y +
                             a.value.x * a.second.x + a.value.y * a.second.y;
    double step = curvature < 0.0 ? -slope / curvature : std::copysign(maxStep, slope);
    if (!std::isfinite(step)) break;
    step = std::fmax(-maxStep, std::fmin(maxStep, step));
    ++peak.steps;
    // Steps this short lie where the power is a parabola to rounding: the slope, not the power,
    // still tells which way the maximum is, so they are taken as they come.
    const bool fine = std::fabs(step) < 1e-6 * maxStep;
    PhasorSum there = evaluate(terms, rates, peak.position + step);
    for (int h = 0; h < MostHalvings && !fine && there.power() < here.power(); ++h) {
      step *= 0.5;
      there = evaluate(terms, rates, peak.position + step);
    }
    if (!fine && there.power() < here.power()) {
      peak.converged = true;  // no step raises the power: at the maximum to rounding
      break;
    }
    peak.position += step;
    here = there;
    if (std::fabs(step) < tolerance) {
      peak.converged = true;
      break;
    }
  }
  peak.power = here.power();
  return peak;
}

}  // namespace kestrav
