// Reducing one lag's spectrum to its cell: the strongest bin, its frequency and the
// peak-to-mean level, on hand-made spectra.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tdc/coarse_row.hpp"

namespace kestrav {
namespace {

constexpr double Rate = 16384.0;

TEST(EvaluateSpectrum, EqualStrongestBinsGiveTheLowerIndex) {
  // (3, 4), (4, -3) and (0, 5) all have power 25.
  const struct {
    std::vector<float2> spectrum;
    double frequency;
  } cases[] = {
      {{{0, 0}, {1, 1}, {3, 4}, {0, 0}, {0, 0}, {0, 0}, {4, -3}, {0, 0}}, 2.0 / 8 * Rate},
      {{{0, 0}, {0, 0}, {0, 0}, {0, 5}, {1, 0}, {3, 4}, {0, 0}, {0, 0}}, 3.0 / 8 * Rate},
      {{{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {3, 4}, {0, 0}, {0, 5}}, -3.0 / 8 * Rate},
      {{{3, 4}, {0, 5}, {5, 0}, {-5, 0}}, 0.0},
  };
  for (const auto& c : cases) {
    const LagCell cell = evaluateSpectrum(c.spectrum, 7, Rate);
    EXPECT_EQ(cell.lagIndex, 7);
    EXPECT_EQ(cell.frequencyOffset, c.frequency);
  }
}

TEST(EvaluateSpectrum, LevelIsPeakOverMeanPower) {
  const struct {
    std::vector<float2> spectrum;
    double level;
  } cases[] = {
      // All power in one bin: the largest level an L-point spectrum can show.
      {{{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {3, 4}, {0, 0}, {0, 0}}, 10 * std::log10(8.0)},
      {{{0, 0}, {0, 0}, {-1, 1}, {0, 0}}, 10 * std::log10(4.0)},
      {{{1, 0}}, 0.0},
      // Peak 25 of total 30 over four bins.
      {{{3, 4}, {0, 0}, {1, 0}, {0, 2}}, 10 * std::log10(4 * 25.0 / 30.0)},
      // Equal power everywhere: 0 dB.
      {{{1, 0}, {0, 1}, {-1, 0}, {0, -1}}, 0.0},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(evaluateSpectrum(c.spectrum, 0, Rate).level, c.level, 1e-5)
        << "L = " << c.spectrum.size();
  }
}

TEST(EvaluateSpectrum, AllZeroRowHasNoLevel) {
  const std::vector<float2> zeros(16, float2{0, 0});
  const LagCell cell = evaluateSpectrum(zeros, 3, Rate);
  EXPECT_TRUE(std::isnan(cell.level));
  EXPECT_EQ(cell.frequencyOffset, 0.0);
}

}  // namespace
}  // namespace kestrav
