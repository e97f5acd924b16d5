// The continuous peak fits of the precise estimate: a zoom trace's vertex on the zoom's own grid,
// and the maximum of a phasor sum.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "tdc/peak_fit.hpp"

namespace kestrav {
namespace {

// The power of a zoom about a peak at fractional index `vertex`: |sum of 2048 unit phasors|^2 at
// a grid of 1/1000 of the main lobe, the shape the fine zooms trace.
double zoomPower(double index, double vertex) {
  const double x = std::numbers::pi * (index - vertex) * 1e-3;
  return x == 0.0 ? 1.0 : std::pow(std::sin(x) / x, 2.0);
}

FineEstimate tracedZoom(double vertex, int points, int halfWidth) {
  FineEstimate estimate;
  estimate.zoomPoints = points;
  estimate.gridStart = -2e-6;
  estimate.gridStep = 4e-6 / points;
  // The strongest grid point, the lower of two equal ones.
  estimate.zoomIndex = std::clamp(static_cast<int>(std::ceil(vertex - 0.5)), 0, points - 1);
  estimate.traceFirst = std::max(0, estimate.zoomIndex - halfWidth);
  const int end = std::min(points, estimate.zoomIndex + halfWidth + 1);
  for (int k = estimate.traceFirst; k < end; ++k) estimate.trace.push_back(zoomPower(k, vertex));
  return estimate;
}

TEST(ZoomPeakPosition, FindsTheVertexBetweenGridPoints) {
  struct Case {
    double vertex;
    int halfWidth;
  };
  // Mid-grid, off-grid either way, a tie of two points, traces cut by either end of the zoom.
  const Case cases[] = {{1999.0, 3}, {1999.3, 3}, {1999.5, 3}, {1999.71, 3}, {2000.2, 1},
                        {1.4, 3},    {0.2, 3},    {3997.6, 3}};
  for (const Case& c : cases) {
    const FineEstimate zoom = tracedZoom(c.vertex, 3999, c.halfWidth);
    const double want = zoom.gridStart + c.vertex * zoom.gridStep;
    EXPECT_NEAR(zoomPeakPosition(zoom), want, 1e-4 * zoom.gridStep) << c.vertex;
  }
}

TEST(ZoomPeakPosition, WithoutAUsableTraceGivesNothingOrTheGridPoint) {
  FineEstimate none;
  EXPECT_TRUE(std::isnan(zoomPeakPosition(none)));
  FineEstimate untraced = tracedZoom(100.3, 3999, 0);
  EXPECT_TRUE(std::isnan(zoomPeakPosition(untraced)));
  // A trace that bends upwards has no maximum to fit: the strongest grid point stands.
  FineEstimate bent = tracedZoom(100.0, 3999, 3);
  for (std::size_t i = 0; i < bent.trace.size(); ++i) {
    const auto u = static_cast<double>(i);
    bent.trace[i] = 1.0 + 0.01 * u * u;
  }
  bent.zoomIndex = bent.traceFirst + 6;
  EXPECT_DOUBLE_EQ(zoomPeakPosition(bent), bent.gridStart + bent.zoomIndex * bent.gridStep);
}

TEST(MaximizePhasorSum, AlignsEveryPhasorWhereverItStarts) {
  // Terms that all come into phase at x0: A(x) = sum a_k e^{j (r_k (x - x0) + phi)}.
  std::mt19937 random(5);
  std::uniform_real_distribution<double> rate(-0.3 * 2 * std::numbers::pi, 0.3 * 2 * std::numbers::pi);
  std::uniform_real_distribution<double> amplitude(0.5, 2.0);
  const double x0 = 0.3712;
  std::vector<double2> terms;
  std::vector<double> rates;
  for (int k = 0; k < 4096; ++k) {
    const double r = rate(random);
    const double a = amplitude(random);
    const double phase = 1.1 - r * x0;
    terms.push_back(double2{a * std::cos(phase), a * std::sin(phase)});
    rates.push_back(r);
  }
  // Near, half a sample away (beyond one step of 0.25), and on the other side.
  for (const double start : {0.36, 0.87, -0.05}) {
    const PhasorPeak peak = maximizePhasorSum(terms, rates, start, 0.25, 1e-12);
    EXPECT_TRUE(peak.converged) << start;
    EXPECT_NEAR(peak.position, x0, 1e-10) << start;
  }
}

}  // namespace
}  // namespace kestrav
