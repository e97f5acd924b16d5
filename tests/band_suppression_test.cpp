// Bands one recording holds alone, filtered out of a copy of it: turned down by their excess in
// that recording's own bins (the second's shifted by the offset between them), the rest of it and
// the other recording left as they were.
#include "stages/precise/band_suppression.hpp"

#include <fftw3.h>
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <tuple>
#include <vector>

namespace kestrav {
namespace {

using Complex = std::complex<double>;

std::vector<float2> noise(int count, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<float> normal;
  std::vector<float2> samples(static_cast<std::size_t>(count));
  for (float2& s : samples) s = float2{normal(random), normal(random)};
  return samples;
}

// The copy's power in each of `frame` bins of frequency, from one long transform under a Hann
// window (a square one's own leakage would fill the band).
std::vector<double> powerByFrameBin(const std::vector<float2>& samples, int frame) {
  const int count = static_cast<int>(samples.size());
  std::vector<Complex> x(samples.size());
  for (int i = 0; i < count; ++i) {
    const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (i + 0.5) / count);
    x[i] = w * Complex(samples[i].x, samples[i].y);
  }
  fftw_plan plan =
      fftw_plan_dft_1d(count, reinterpret_cast<fftw_complex*>(x.data()),
                       reinterpret_cast<fftw_complex*>(x.data()), FFTW_FORWARD, FFTW_ESTIMATE);
  fftw_execute(plan);
  fftw_destroy_plan(plan);
  std::vector<double> power(static_cast<std::size_t>(frame), 0.0);
  for (int j = 0; j < count; ++j) {
    const double cycles = (2 * j < count ? j : j - count) / static_cast<double>(count);
    const int bin = static_cast<int>(std::lround(cycles * frame));
    power[static_cast<std::size_t>((bin % frame + frame) % frame)] += std::norm(x[j]);
  }
  return power;
}

TEST(SuppressOneSidedBands, TurnsDownTheHoldersBandAndNothingElse) {
  const int n = 16384;
  const PreciseLayout layout = planPreciseLayout(n);
  const int frame = layout.frameLength;
  const std::vector<float2> first = noise(n, 1);
  const std::vector<float2> second = noise(n + 2 * layout.margin, 2);
  const PreciseSegments segments{PointerPair<float2>{first.data(), second.data() + layout.margin},
                                 layout.margin, layout.margin};
  // The second holds 300 bins at a thousand times, 40 bins on from the cross-spectrum's bins.
  const int from = 3000, width = 300, shift = 40;
  OneSidedExcess excess{std::vector<double>(frame, 1.0), std::vector<double>(frame, 1.0)};
  for (int k = from; k < from + width; ++k) excess.second[k] = 1000.0;

  // The second's own power spectrum shows the band; the first's is level.
  std::vector<double2> firstPower(frame, double2{1.0, 0.0}), secondPower = firstPower;
  for (int k = from; k < from + width; ++k) secondPower[k + shift] = double2{1000.0, 0.0};
  const SuppressedBands suppressed =
      suppressOneSidedBands(segments, layout, excess, firstPower, secondPower, shift);
  const SegmentCopies& copies = suppressed.copies;
  ASSERT_EQ(suppressed.recordings, 1);
  ASSERT_EQ(suppressed.depth.size(), excess.first.size());
  EXPECT_NEAR(suppressed.depth[from + width / 2], 1000.0, 1e-6);
  EXPECT_EQ(suppressed.depth[from - 100], 1.0);
  // The first is copied as it was.
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(copies.first[i].x, first[i].x);
    ASSERT_EQ(copies.first[i].y, first[i].y);
  }
  // The second's band, in its own bins, a thousand times weaker in amplitude; a few bins beyond
  // its edges, as it was.
  const std::vector<double> before = powerByFrameBin(second, frame);
  const std::vector<double> after = powerByFrameBin(copies.second, frame);
  double inside = 0.0, insideBefore = 0.0, outside = 0.0, outsideBefore = 0.0;
  for (int k = 0; k < frame; ++k) {
    const int own = k - shift;
    if (own >= from + 16 && own < from + width - 16) {
      inside += after[k], insideBefore += before[k];
    } else if (own < from - 16 || own >= from + width + 16) {
      outside += after[k], outsideBefore += before[k];
    }
  }
  EXPECT_LT(inside / insideBefore, 1e-5);
  EXPECT_NEAR(outside / outsideBefore, 1.0, 1e-3);
}

TEST(SuppressOneSidedBands, LeavesRecordingsAloneWithoutABandOfTheirOwn) {
  const int n = 4096;
  const PreciseLayout layout = planPreciseLayout(n);
  const int frame = layout.frameLength;
  const std::vector<float2> first = noise(n, 3), second = noise(n, 4);
  const PreciseSegments segments{PointerPair<float2>{first.data(), second.data()}, 0, 0};
  std::vector<double2> firstPower(frame, double2{1.0, 0.0}), secondPower = firstPower;
  // Too little excess to filter, over a band the first does hold.
  OneSidedExcess weak{std::vector<double>(frame, 1.0), std::vector<double>(frame, 1.0)};
  std::vector<double2> bumped = firstPower;
  for (int k = 100; k < 140; ++k) weak.first[k] = 0.5 * SuppressedExcess, bumped[k].x = 5.0;
  // Excess enough, but from a notch of the second's (an echo's): the first is level there.
  OneSidedExcess notch{std::vector<double>(frame, 1.0), std::vector<double>(frame, 1.0)};
  std::vector<double2> notched = secondPower;
  for (int k = 300; k < 340; ++k) notch.first[k] = 50.0, notched[k].x = 0.02;
  for (const auto& [excess, p1, p2] :
       {std::tuple{weak, bumped, secondPower}, std::tuple{notch, firstPower, notched}}) {
    const SuppressedBands suppressed = suppressOneSidedBands(segments, layout, excess, p1, p2, 0);
    EXPECT_EQ(suppressed.recordings, 0);
    EXPECT_TRUE(suppressed.depth.empty());
    EXPECT_TRUE(suppressed.copies.empty());
  }
}

}  // namespace
}  // namespace kestrav
