// The double-precision element maps of the refinement: where each value is rounded (operands
// chosen so that every other placement of a fused multiply-add gives other bits), the frame
// layout, and the order of the sums.
#include "stages/fine/signal_maps_double.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace kestrav {
namespace {

void expectSame(double2 got, double2 want) {
  EXPECT_EQ(got.x, want.x);
  EXPECT_EQ(got.y, want.y);
}

constexpr double2 RoundingA{0x1.0ab49799e5c1ep+0, 0x1.d6ea631b193b6p-1};
constexpr double2 RoundingB{-0x1.f7452c941ad7ap+0, 0x1.71b4a8bae4p+0};

TEST(SignalMapsDouble, FrequencyShift) {
  const short2 sample{1000, -32768};
  expectSame(shiftFrequency(sample, 12345, 0.0), double2{1000.0, -32768.0});
  // Element i turns by (i + 1) w.
  expectSame(shiftFrequency(sample, 4, 0.37), shiftFrequency(sample, 0, 5.0 * 0.37));
  expectSame(shiftFrequency(sample, 1, 0.37), shiftFrequency(sample, 0, 2.0 * 0.37));
  const double2 quarter = shiftFrequency(short2{1000, 0}, 0, std::numbers::pi / 2);
  EXPECT_NEAR(quarter.x, 0.0, 1e-12);
  EXPECT_NEAR(quarter.y, 1000.0, 1e-12);
  // The real part is the difference of two rounded products, the imaginary part a fused
  // multiply-add of s x onto the rounded c y.
  const double x = 10044.0, y = 18657.0, c = std::cos(0.502), s = std::sin(0.502);
  const double real = c * x - s * y, imag = std::fma(s, x, c * y);
  ASSERT_NE(real, std::fma(c, x, -(s * y)));
  ASSERT_NE(real, std::fma(-s, y, c * x));
  ASSERT_NE(imag, s * x + c * y);
  ASSERT_NE(imag, std::fma(c, y, s * x));
  expectSame(shiftFrequency(short2{10044, 18657}, 0, 0.502), double2{real, imag});
}

TEST(SignalMapsDouble, FrameIndexFillsTheFirstHalfOfEachFrame) {
  const std::pair<std::int64_t, std::int64_t> cases[] = {
      {0, 0}, {2047, 2047}, {2048, 4096}, {4095, 6143}, {4096, 8192}, {1048575, 2095103}};
  for (const auto& [in, out] : cases) EXPECT_EQ(frameIndex(in, 2048), out) << in;
  EXPECT_EQ(frameIndex(5, 3), 8);  // any half: 5 = 3 + 2 lands at 2 * 3 + 2
}

TEST(SignalMapsDouble, ProductsDivisionAndPower) {
  expectSame(conjugateProduct(double2{3, 4}, double2{1, 2}), double2{11, 2});
  expectSame(conjugateProduct(short2{-32768, 32767}, double2{-1.5, 0.25}),
             double2{-32768.0 * -1.5 + 32767.0 * 0.25, -32768.0 * 0.25 - 32767.0 * -1.5});
  const double2 a = RoundingA, b = RoundingB;
  const double real = std::fma(a.x, b.x, a.y * b.y), imag = a.x * b.y - a.y * b.x;
  ASSERT_NE(real, a.x * b.x + a.y * b.y);
  ASSERT_NE(real, std::fma(a.y, b.y, a.x * b.x));
  ASSERT_NE(imag, std::fma(a.x, b.y, -(a.y * b.x)));
  ASSERT_NE(imag, std::fma(-a.y, b.x, a.x * b.y));
  expectSame(conjugateProduct(a, b), double2{real, imag});

  // True division: 5 / 3 differs from 5 * (1 / 3).
  ASSERT_NE(5.0 / 3.0, 5.0 * (1.0 / 3.0));
  expectSame(divide(double2{5.0, -5.0}, 3.0), double2{5.0 / 3.0, -5.0 / 3.0});

  expectSame(power(double2{-3, -4}), double2{25, 0});
  const double fused = std::fma(a.x, a.x, a.y * a.y);
  ASSERT_NE(fused, a.x * a.x + a.y * a.y);
  ASSERT_NE(fused, std::fma(a.y, a.y, a.x * a.x));
  expectSame(power(a), double2{fused, 0.0});
}

TEST(SignalMapsDouble, SumsAccumulateInAscendingOrder) {
  // Added one by one from the first term: 1e16 + 1 rounds back to 1e16, so the sum is 0.
  const std::vector<double2> runs = {{1e16, 1}, {1, 2}, {-1e16, 3}, {7, 4}, {8, 5}, {9, 6}};
  std::vector<double2> out = {{0, 0}, {0.5, 100}};
  accumulateRun(runs.data(), out.data(), 0, 3);
  accumulateRun(runs.data(), out.data(), 1, 3);
  expectSame(out[0], double2{0, 6});
  expectSame(out[1], double2{24.5, 115});
  // Rows of stride 2: out[i] += in[i] + in[i + 2] + in[i + 4].
  accumulateRows(runs.data(), out.data(), 0, 3, 2);
  accumulateRows(runs.data(), out.data(), 1, 3, 2);
  expectSame(out[0], double2{1e16 - 1e16 + 8, 6 + 1 + 3 + 5});
  expectSame(out[1], double2{24.5 + 1 + 7 + 9, 115 + 2 + 4 + 6});
  // terms = 1 adds one element; terms < 1 writes nothing.
  accumulateRun(runs.data(), out.data(), 1, 1);
  expectSame(out[1], double2{42.5, 129});
  for (const int terms : {0, -1}) {
    accumulateRun(runs.data(), out.data(), 1, terms);
    accumulateRows(runs.data(), out.data(), 1, terms, 2);
    expectSame(out[1], double2{42.5, 129});
  }
}

}  // namespace
}  // namespace kestrav
