// Reducing one lag's spectrum to its cell: the strongest bin, its frequency and the peak-to-mean
// level, on hand-made spectra; the vectorised reduction against the plain one.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "tdc/coarse_lanes.hpp"
#include "tdc/coarse_row.hpp"

namespace kestrav {
namespace {

constexpr double Rate = 16384.0;

TEST(EvaluateSpectrum, FirstStrongestBinAndPeakOverMeanLevel) {
  // (3, 4), (4, -3) and (0, 5) all have power 25: of equal peaks the lower bin wins.
  const struct {
    std::vector<float2> spectrum;
    double frequency, level;
  } cases[] = {
      {{{0, 0}, {1, 1}, {3, 4}, {0, 0}, {0, 0}, {0, 0}, {4, -3}, {0, 0}}, 2.0 / 8 * Rate,
       10 * std::log10(8 * 25.0 / 52.0)},
      {{{0, 0}, {0, 0}, {0, 0}, {0, 5}, {1, 0}, {3, 4}, {0, 0}, {0, 0}}, 3.0 / 8 * Rate,
       10 * std::log10(8 * 25.0 / 51.0)},
      {{{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {3, 4}, {0, 0}, {0, 5}}, -3.0 / 8 * Rate,
       10 * std::log10(8 * 25.0 / 50.0)},
      {{{3, 4}, {0, 5}, {5, 0}, {-5, 0}}, 0.0, 0.0},
      // All power in one bin: the largest level an L-point spectrum can show.
      {{{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {3, 4}, {0, 0}, {0, 0}}, -3.0 / 8 * Rate,
       10 * std::log10(8.0)},
      {{{0, 0}, {0, 0}, {-1, 1}, {0, 0}}, 2.0 / 4 * Rate, 10 * std::log10(4.0)},
      {{{1, 0}}, 0.0, 0.0},
      {{{3, 4}, {0, 0}, {1, 0}, {0, 2}}, 0.0, 10 * std::log10(4 * 25.0 / 30.0)},
  };
  for (const auto& c : cases) {
    const LagCell cell = evaluateSpectrum(c.spectrum, 7, Rate);
    EXPECT_EQ(cell.lagIndex, 7);
    EXPECT_EQ(cell.frequencyOffset, c.frequency) << "L = " << c.spectrum.size();
    EXPECT_NEAR(cell.level, c.level, 1e-5) << "L = " << c.spectrum.size();
  }
  const LagCell zero = evaluateSpectrum(std::vector<float2>(16, float2{0, 0}), 3, Rate);
  EXPECT_TRUE(std::isnan(zero.level));  // an all-zero row has no level
  EXPECT_EQ(zero.frequencyOffset, 0.0);
}

void expectSameCell(const std::vector<float2>& spectrum, const char* what) {
  const LagCell plain = evaluateSpectrum(spectrum, 3, Rate);
  for (const InstructionSet set : {InstructionSet::Avx2, InstructionSet::Avx512}) {
    if (!instructionSetAvailable(set)) continue;
    SCOPED_TRACE(::testing::Message() << what << ", " << lagsPerLaneGroup(set) / 2 << " lanes");
    const LagCell vectorised = evaluateSpectrumVectorised(spectrum, 3, Rate, set);
    EXPECT_EQ(vectorised.lagIndex, 3);
    EXPECT_EQ(vectorised.frequencyOffset, plain.frequencyOffset);
    if (std::isnan(plain.level)) {
      EXPECT_TRUE(std::isnan(vectorised.level));
    } else {
      EXPECT_NEAR(vectorised.level, plain.level, 1e-6);
    }
  }
}

TEST(EvaluateSpectrumVectorised, SameCellAsThePlainReduction) {
  std::mt19937 random(50);
  std::normal_distribution<float> normal(0.0f, 1e6f);
  for (const std::size_t length : {1u, 2u, 4u, 8u, 16u, 64u, 1024u, 16384u}) {
    std::vector<float2> spectrum(length);
    for (float2& bin : spectrum) bin = float2{normal(random), normal(random)};
    expectSameCell(spectrum, "random");
    expectSameCell(std::vector<float2>(length, float2{0.0f, 0.0f}), "all zero");
  }
  // Equal peaks in every combination of vector lanes and halves: the lower bin wins.
  const std::pair<std::size_t, std::size_t> pairs[] = {
      {1, 2}, {2, 1},  {5, 2},  {6, 3},   {0, 7},   {4, 12}, {9, 13},
      {3, 11}, {14, 15}, {30, 17}, {62, 63}, {5, 21}, {0, 32}, {40, 8}};
  for (const auto& [low, high] : pairs) {
    std::vector<float2> spectrum(64, float2{0.5f, 0.0f});
    spectrum[low] = float2{3.0f, 4.0f};
    spectrum[high] = float2{0.0f, 5.0f};
    spectrum[(low + high + 32) % 64] = float2{-4.0f, 3.0f};
    expectSameCell(spectrum, "equal peaks");
  }
}

}  // namespace
}  // namespace kestrav
