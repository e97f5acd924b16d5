// The channel's bend: power spectra that share one realised signal, the second through a pure
// delay or through two paths closer than the lobe, with noise of their own in each.
#include "stages/precise/channel_bend.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace kestrav {
namespace {

constexpr int Length = 16384;
constexpr int Blocks = 4;

struct Spectra {
  std::vector<double2> first, second;
  std::vector<double> rootWeight, rates;
};

// A band over |f| < 0.15 of the rate with a raised edge, realised once and shared; each
// recording adds unit noise of its own (four blocks' mean). The second's gain is |H(w)|^2 of
// a path at `share` amplitude `echo` samples behind the direct one, and its bins sit `shift` up.
Spectra makeSpectra(unsigned seed, double share, double echo, int shift, double noise2 = 1.0) {
  std::mt19937 random(seed);
  std::gamma_distribution<double> chi(Blocks, 1.0 / Blocks);
  Spectra s;
  s.first.resize(Length);
  s.second.resize(Length);
  s.rootWeight.assign(Length, 0.0);
  s.rates.resize(Length);
  for (int k = 0; k < Length; ++k) {
    const double f = (2 * k < Length ? k : k - Length) / double(Length);
    const double w = 2.0 * std::numbers::pi * f;
    s.rates[k] = w;
    const double edge = std::clamp((0.15 - std::fabs(f)) / 0.03, 0.0, 1.0);
    const double level = 100.0 * edge * edge;
    const double signal = level * chi(random);
    const double gain = 1.0 + share * share + 2.0 * share * std::cos(w * echo);
    s.first[k] = double2{signal + chi(random), 0.0};
    s.second[((k + shift) % Length + Length) % Length] =
        double2{0.5 * gain * signal + noise2 * chi(random), 0.0};
    if (level > 1.0) s.rootWeight[k] = std::sqrt(level / 100.0);
  }
  return s;
}

TEST(ChannelBend, APureDelayStaysFlatAndClosePathsBendByTheirCurvature) {
  // Close paths: a 0.6-sample echo at half the amplitude, in phase and inverted; the bend is
  // -a tau^2 / (1 + a)^2, whose root bounds the delay's pull. Pure delays (one with more noise
  // in the second, one with the second's bins shifted) stay within three deviations of none.
  const struct {
    double share, echo;
    int shift;
    double noise2;
  } cases[] = {{0.5, 0.6, 0, 1.0},
               {-0.5, 0.6, 7, 1.0},
               {0.0, 0.0, 0, 1.0},
               {0.0, 0.0, 0, 10.0},
               {0.0, 0.0, -40, 1.0}};
  for (const auto& c : cases) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
      SCOPED_TRACE(::testing::Message() << "share " << c.share << " seed " << seed);
      const Spectra s = makeSpectra(seed, c.share, c.echo, c.shift, c.noise2);
      const ChannelBend bend =
          measureChannelBend(s.first, s.second, c.shift, s.rootWeight, {}, s.rates);
      ASSERT_TRUE(bend.measured);
      ASSERT_GT(bend.sigma, 0.0);
      const double expected = -c.share * c.echo * c.echo / ((1.0 + c.share) * (1.0 + c.share));
      if (c.share == 0.0) {
        EXPECT_LT(std::fabs(bend.curvature), 3.0 * bend.sigma);
        EXPECT_LT(bend.sigma, 0.05);
      } else {
        EXPECT_NEAR(bend.curvature, expected, 0.25 * std::fabs(expected) + 3.0 * bend.sigma);
        EXPECT_GT(std::fabs(bend.curvature), 5.0 * bend.sigma);
        // The pull, a tau / (1 + a), lies within the curvature's root.
        EXPECT_LT(std::fabs(c.share * c.echo / (1.0 + c.share)),
                  std::sqrt(std::fabs(bend.curvature)) * 1.01);
      }
    }
  }
}

TEST(ChannelBend, WhatOneRecordingHoldsAloneIsLeftOutAndTooLittleBandIsNoMeasure) {
  // A carrier-like bin in the second inside the band, marked as excess: no bend. A band of a
  // few bins: not measured.
  Spectra s = makeSpectra(9, 0.0, 0.0, 0);
  s.second[300] = double2{1e6, 0.0};
  std::vector<double> excess(Length, 1.0);
  excess[300] = 1e4;
  const ChannelBend bend = measureChannelBend(s.first, s.second, 0, s.rootWeight, excess, s.rates);
  ASSERT_TRUE(bend.measured);
  EXPECT_LT(std::fabs(bend.curvature), 3.0 * bend.sigma);
  std::vector<double> narrow(Length, 0.0);
  for (int k = 0; k < 40; ++k) narrow[k] = 1.0;
  EXPECT_FALSE(measureChannelBend(s.first, s.second, 0, narrow, {}, s.rates).measured);
}

}  // namespace
}  // namespace kestrav
