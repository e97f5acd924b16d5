// A resolved echo's two paths, separated on a made-up cross-spectrum: where the two-path model
// holds, leaving out any part of the band moves the main delay by nothing; where a part of the
// band departs from it, the jackknife's spread says by how much the delay depends on that part.
#include "stages/precise/echo_path.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "stages/precise/precise_maps.hpp"

namespace kestrav {
namespace {

constexpr double Pi = std::numbers::pi;

struct Spectrum {
  std::vector<double2> weighted, shape;
  std::vector<double> rates;
};

// A band over |f| < 0.2 of a shape like a raised cosine, a path at `main` and one at `echo` of
// half its amplitude; bins above 0.15 turned by `skew` radians more (a part of the band the model
// misses).
Spectrum twoPaths(double main, double echo, double skew) {
  const int length = 8192;
  Spectrum s;
  for (int k = 0; k < length; ++k) {
    const double f = signedBinFrequency(k, length);
    const double power = std::fabs(f) < 0.2 ? 0.5 + 0.5 * std::cos(Pi * f / 0.2) : 0.0;
    const double turn = f > 0.15 ? skew : 0.0;
    const double2 path = unitPhasor(-f * main + turn / (2.0 * Pi));
    const double2 copy = scaled(unitPhasor(-f * echo + turn / (2.0 * Pi)), 0.5);
    s.weighted.push_back(scaled(double2{path.x + copy.x, path.y + copy.y}, power));
    s.shape.push_back(double2{power, 0.0});
    s.rates.push_back(2.0 * Pi * f);
  }
  return s;
}

TEST(JackknifedMainDelay, SpreadsOnlyWhereThePathsModelMisses) {
  const double main = 3.3, echo = 15.7;
  const Spectrum fits = twoPaths(main, echo, 0.0);
  const TwoPaths paths =
      separatePaths(fits.weighted, fits.shape, fits.rates, main + 0.2, echo - 0.3);
  EXPECT_NEAR(paths.main, main, 1e-6);
  EXPECT_NEAR(paths.echo, echo, 1e-6);
  EXPECT_LT(jackknifedMainDelay(fits.weighted, fits.shape, fits.rates, paths, 16), 1e-6);

  const Spectrum misses = twoPaths(main, echo, 0.3);
  const TwoPaths skewed =
      separatePaths(misses.weighted, misses.shape, misses.rates, main + 0.2, echo - 0.3);
  const double moved = std::fabs(skewed.main - main);
  EXPECT_GT(moved, 1e-3);
  // The spread is of the order of how far the missed part moved the delay.
  const double spread =
      jackknifedMainDelay(misses.weighted, misses.shape, misses.rates, skewed, 16);
  EXPECT_GT(spread, 0.3 * moved);
  EXPECT_LT(spread, 10.0 * moved);
}

}  // namespace
}  // namespace kestrav
