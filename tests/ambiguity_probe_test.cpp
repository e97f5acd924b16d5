// The full-rate cells the classes are decided by, against direct sums: every image of an offset,
// the self-ambiguity, the decimated spectrum of one lag; and the noise level against noise.
#include "stages/coarse/ambiguity_probe.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "engine/result_classes.hpp"

namespace kestrav {
namespace {

std::vector<float2> noiseSamples(int n, std::uint64_t seed, double tone = 0.0) {
  std::mt19937_64 random(seed);
  std::normal_distribution<float> normal(0.0f, 100.0f);
  std::vector<float2> out(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const Cell t = tone != 0.0 ? std::polar(300.0, 6.283185307179586 * tone * i) : Cell{};
    out[static_cast<std::size_t>(i)] = float2{normal(random) + static_cast<float>(t.real()),
                                              normal(random) + static_cast<float>(t.imag())};
  }
  return out;
}

Cell directCell(const std::vector<float2>& a, const std::vector<float2>& b, int offset, int n,
                double f) {
  std::complex<long double> sum = 0.0L;
  for (int i = 0; i < n; ++i) {
    const std::complex<long double> x(a[static_cast<std::size_t>(i)].x,
                                      a[static_cast<std::size_t>(i)].y);
    const std::complex<long double> y(b[static_cast<std::size_t>(i + offset)].x,
                                      b[static_cast<std::size_t>(i + offset)].y);
    const long double phase = -2.0L * 3.14159265358979323846L * f * i;
    sum += std::conj(x) * y * std::polar(1.0L, phase);
  }
  return {static_cast<double>(sum.real()), static_cast<double>(sum.imag())};
}

TEST(AmbiguityProbe, EveryImageMatchesTheDirectSum) {
  struct Case {
    int n;
    int D;
    double f;  // cycles per sample
  };
  const Case cases[] = {{5000, 1, 0.01}, {5000, 7, -0.003}, {4099, 61, 0.0071}, {3000, 2, 0.24}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.D);
    const std::vector<float2> a = noiseSamples(c.n, 1);
    const std::vector<float2> b = noiseSamples(c.n + 3, 2);
    const std::vector<Cell> images = imageCells(a.data(), b.data() + 3, c.n, c.f, c.D);
    ASSERT_EQ(images.size(), static_cast<std::size_t>(c.D));
    for (int k = 0; k < c.D; ++k) {
      const Cell direct = directCell(a, b, 3, c.n, c.f + static_cast<double>(k) / c.D);
      EXPECT_LT(std::abs(images[static_cast<std::size_t>(k)] - direct),
                1e-9 * std::abs(direct) + 1e-6)
          << k;
    }
    EXPECT_LT(std::abs(crossCell(a.data(), b.data() + 3, c.n, c.f) - images[0]),
              1e-9 * std::abs(images[0]) + 1e-6);
  }
}

TEST(AmbiguityProbe, SelfCellAndMeansBehaveAsSums) {
  const std::vector<float2> a = noiseSamples(4000, 3);
  const SegmentMoments m = momentsOf(a.data(), 4000);
  // At no shift the self-ambiguity is the energy about the mean.
  const Cell zero = selfCell(a.data(), 4000, 0, 0.0, m.mean);
  EXPECT_NEAR(zero.real(), m.energy - 4000 * std::norm(m.mean), 1e-6 * m.energy);
  EXPECT_NEAR(zero.imag(), 0.0, 1e-6 * m.energy);
  // A shift pairs sample i with i + lag over the overlap only, either way round.
  for (const int lag : {5, -5, 3999, -3999}) {
    Cell direct = 0.0;
    for (int i = std::max(0, -lag); i < std::min(4000, 4000 - lag); ++i) {
      direct += std::conj(toComplex(a[static_cast<std::size_t>(i)]) - m.mean) *
                (toComplex(a[static_cast<std::size_t>(i + lag)]) - m.mean);
    }
    EXPECT_LT(std::abs(selfCell(a.data(), 4000, lag, 0.0, m.mean) - direct), 1e-6 * m.energy)
        << lag;
  }
  EXPECT_EQ(selfCell(a.data(), 4000, 4000, 0.0, m.mean), Cell(0.0));
}

TEST(AmbiguityProbe, OneLagsSpectrumPeaksAtItsTone) {
  // A tone at bin 37 of a decimated row of 1000 sums zero-padded to 1024.
  const int D = 4, M = 1000;
  const double f = 37.0 / 1024.0 / D;
  const std::vector<float2> a = noiseSamples(D * M, 4);
  std::vector<float2> b(a.size());
  for (int i = 0; i < D * M; ++i) {
    const Cell v =
        toComplex(a[static_cast<std::size_t>(i)]) * std::polar(1.0, 6.283185307179586 * f * i);
    b[static_cast<std::size_t>(i)] =
        float2{static_cast<float>(v.real()), static_cast<float>(v.imag())};
  }
  const std::vector<Cell> row = decimatedRow(a.data(), b.data(), D, M);
  ASSERT_EQ(row.size(), static_cast<std::size_t>(M));
  const std::vector<double> power = spectrumPower(row, 1024);
  std::size_t peak = 0;
  for (std::size_t j = 0; j < power.size(); ++j) peak = power[j] > power[peak] ? j : peak;
  EXPECT_EQ(peak, 37u);
}

// Noise-only spectra: the level of a probability is exceeded by about that share of searches.
TEST(AmbiguityProbe, NoiseLevelHoldsItsFalseAlarmRate) {
  CoarseSizes sizes;
  sizes.decimatedLength = 512;
  const int lags = 20;
  struct Case {
    double probability;
  };
  std::mt19937_64 random(9);
  std::exponential_distribution<double> exponential(1.0);
  for (const Case c : {Case{0.5}, Case{0.1}}) {
    const double level = std::pow(10.0, noiseLevelDb(sizes, lags, c.probability) / 10.0);
    int exceeded = 0;
    const int trials = 2000;
    for (int t = 0; t < trials; ++t) {
      double largest = 0.0;
      for (int cell = 0; cell < 512 * lags; ++cell)
        largest = std::max(largest, exponential(random));
      exceeded += largest > level ? 1 : 0;
    }
    EXPECT_NEAR(static_cast<double>(exceeded) / trials, c.probability, 0.04) << c.probability;
  }
  // Smaller probabilities and larger searches ask for higher levels.
  EXPECT_GT(noiseLevelDb(sizes, lags, 1e-6), noiseLevelDb(sizes, lags, 1e-3));
  EXPECT_GT(noiseLevelDb(sizes, 10 * lags, 1e-3), noiseLevelDb(sizes, lags, 1e-3));
}

}  // namespace
}  // namespace kestrav
