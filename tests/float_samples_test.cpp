// Float recordings (cf32): the element maps read fractional values exactly. (Integer values as
// int16 or as floats searched alike on every backend: backend_parity_test; the fast paths on
// fractional values: backend_parity_test, coarse_search_test, fine_estimates_test.)
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "stages/coarse/signal_maps.hpp"
#include "stages/fine/signal_maps_double.hpp"
#include "stages/precise/precise_layout.hpp"
#include "stages/precise/precise_maps.hpp"

namespace kestrav {
namespace {

// The element maps read a float sample as the value itself: with dyadic values every product
// below is exact, so a truncated or rescaled sample shows.
TEST(FloatSamples, MapsReadFractionalValuesExactly) {
  const float2 s{0.375f, -1234.5625f};
  const auto expectValue = [](auto v, double x, double y) {
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
  };
  expectValue(toFloat2(s), 0.375, -1234.5625);
  expectValue(toDouble2(s), 0.375, -1234.5625);
  expectValue(shiftFrequency(s, 7, 0.0), 0.375, -1234.5625);
  // conj(0.375 - 1234.5625j) (2 - 0.5j)
  expectValue(conjugateProduct(s, double2{2.0, -0.5}), 618.03125, 2468.9375);
  const double2 quarter = shiftFrequency(s, 0, std::numbers::pi / 2);  // times j
  EXPECT_NEAR(quarter.x, 1234.5625, 1e-12);
  EXPECT_NEAR(quarter.y, 0.375, 1e-12);
  // Sample 2000 of 4096 lies inside block 0, clear of the tapered ends.
  const PreciseLayout layout = planPreciseLayout(4096);
  std::vector<float2> segment(4096, float2{0.0f, 0.0f});
  segment[2000] = s;
  const int position = 2000 + layout.margin;
  expectValue(firstFrameValue(segment.data(), layout, 0, position), 0.375, -1234.5625);
  expectValue(secondFrameValue(segment.data(), 0, 0, layout, 0, position, 0.0), 0.375, -1234.5625);
}

}  // namespace
}  // namespace kestrav
