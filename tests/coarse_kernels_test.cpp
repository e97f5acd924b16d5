// The single-precision element arithmetic: where each value is rounded, and the summation order
// of the decimation, against independent long double evaluations of the stated formulas.
#include "backends/cuda/coarse_kernels.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "stages/coarse/signal_maps.hpp"

namespace kestrav {
namespace {

::testing::AssertionResult bitsEqual(float2 got, float2 want) {
  if (std::bit_cast<std::uint64_t>(got) == std::bit_cast<std::uint64_t>(want)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "got (" << got.x << ", " << got.y << "), want (" << want.x << ", " << want.y << ")";
}

// The real part rounds the exact a.x b.x plus the rounded a.y b.y once (a fused multiply-add);
// the imaginary part is the difference of two rounded products. Int16 products are exact in long
// double, so each cast below is the only rounding of its step.
TEST(SignalMaps, LagProductRoundsWhereStatedOnFullRangeSamples) {
  std::mt19937 random(11);
  std::uniform_int_distribution<int> component(-32768, 32767);
  const auto sample = [&] {
    return short2{static_cast<short>(component(random)), static_cast<short>(component(random))};
  };
  std::vector<std::pair<short2, short2>> cases = {{{-32768, -32768}, {-32768, -32768}},
                                                  {{32767, -32768}, {-32768, 32767}},
                                                  {{32767, 32767}, {32767, 32767}},
                                                  {{-32768, 32767}, {32767, -32768}}};
  for (int i = 0; i < 200000; ++i) cases.emplace_back(sample(), sample());
  int fusedMatters = 0;     // a plain float sum of the two rounded products differs
  int roundingMatters = 0;  // rounding the exact real part once differs
  for (const auto& [a, b] : cases) {
    const long double ax = a.x, ay = a.y, bx = b.x, by = b.y;
    const float2 expected{static_cast<float>(ax * bx + static_cast<float>(ay * by)),
                          static_cast<float>(static_cast<long double>(static_cast<float>(ax * by)) -
                                             static_cast<float>(ay * bx))};
    ASSERT_TRUE(bitsEqual(conjugateProduct(toFloat2(a), toFloat2(b)), expected))
        << "a = (" << a.x << ", " << a.y << "), b = (" << b.x << ", " << b.y << ")";
    fusedMatters += float(a.x) * float(b.x) + float(a.y) * float(b.y) != expected.x;
    roundingMatters += static_cast<float>(ax * bx + ay * by) != expected.x;
  }
  // The sample set tells the stated rounding apart from its near neighbours.
  EXPECT_GT(fusedMatters, 0);
  EXPECT_GT(roundingMatters, 0);
}

TEST(SignalMaps, PowerRoundsThroughDouble) {
  std::mt19937 random(12);
  std::uniform_int_distribution<int> component(-32768, 32767);
  std::uniform_int_distribution<std::uint32_t> mantissa(1u << 23, (1u << 24) - 1);
  std::uniform_int_distribution<int> exponent(-20, 40), exponentGap(-7, 7);
  std::bernoulli_distribution negative(0.5);
  std::vector<float2> values;
  for (int i = 0; i < 50000; ++i) {
    values.push_back(toFloat2(
        short2{static_cast<short>(component(random)), static_cast<short>(component(random))}));
  }
  // Spectrum-like floats with full 24-bit mantissas; exponents within 7 of each other keep the
  // long double sum of the squares exact.
  const auto part = [&](int e) {
    const float magnitude = std::ldexp(static_cast<float>(mantissa(random)), e - 23);
    return negative(random) ? -magnitude : magnitude;
  };
  for (int i = 0; i < 200000; ++i) {
    const int e = exponent(random);
    const float x = part(e);
    values.push_back(float2{x, part(e + exponentGap(random))});
  }
  int doubleMatters = 0;  // squares summed in float differ
  for (const float2 v : values) {
    const long double exactSum =
        static_cast<long double>(v.x) * v.x + static_cast<long double>(v.y) * v.y;
    const float2 expected{static_cast<float>(static_cast<double>(exactSum)), 0.0f};
    ASSERT_TRUE(bitsEqual(powerOf(v), expected)) << "v = (" << v.x << ", " << v.y << ")";
    doubleMatters += v.x * v.x + v.y * v.y != expected.x;
  }
  EXPECT_GT(doubleMatters, 0);
}

TEST(DecimateGroup, BlockIsTheLargestPowerOfTwoNotAbove) {
  const std::pair<int, int> cases[] = {{1, 1},    {2, 2},     {3, 2},     {61, 32},
                                       {125, 64}, {128, 128}, {129, 128}, {INT_MAX, 1 << 30}};
  for (const auto& [n, block] : cases) EXPECT_EQ(reductionBlockOf(n), block) << "n = " << n;
}

using Group = std::vector<float2>;
float2 add(float2 a, float2 b) { return float2{a.x + b.x, a.y + b.y}; }

// Values over 24 binary orders of magnitude, so that the order of a float sum shows.
Group randomGroup(int n, std::mt19937& random) {
  std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
  std::uniform_int_distribution<int> exponent(-12, 12);
  Group values(static_cast<std::size_t>(n));
  for (float2& v : values) {
    v = float2{std::ldexp(mantissa(random), exponent(random)),
               std::ldexp(mantissa(random), exponent(random))};
  }
  return values;
}

// The tail beyond the block folds onto its start, then the block halves.
TEST(DecimateGroup, SumsInTheReductionOrder) {
  const struct {
    int n;
    float2 (*expected)(const Group&);
  } orders[] = {
      {1, [](const Group& d) { return d[0]; }},
      {2, [](const Group& d) { return add(d[0], d[1]); }},
      {3, [](const Group& d) { return add(add(d[0], d[2]), d[1]); }},
      {4, [](const Group& d) { return add(add(d[0], d[2]), add(d[1], d[3])); }},
      {5, [](const Group& d) { return add(add(add(d[0], d[4]), d[2]), add(d[1], d[3])); }},
      {6,
       [](const Group& d) { return add(add(add(d[0], d[4]), d[2]), add(add(d[1], d[5]), d[3])); }},
      {7,
       [](const Group& d) {
         return add(add(add(d[0], d[4]), add(d[2], d[6])), add(add(d[1], d[5]), d[3]));
       }},
      {8,
       [](const Group& d) {
         return add(add(add(d[0], d[4]), add(d[2], d[6])), add(add(d[1], d[5]), add(d[3], d[7])));
       }},
  };
  std::mt19937 random(13);
  for (const auto& order : orders) {
    int orderMatters = 0;  // trials where a left-to-right sum differs
    for (int trial = 0; trial < 200; ++trial) {
      Group values = randomGroup(order.n, random);
      const float2 expected = order.expected(values);
      float2 leftToRight = values[0];
      for (int i = 1; i < order.n; ++i) leftToRight = add(leftToRight, values[i]);
      orderMatters += !bitsEqual(leftToRight, expected);
      ASSERT_TRUE(bitsEqual(decimateGroup(values.data(), order.n), expected))
          << "n = " << order.n << ", trial " << trial;
    }
    EXPECT_TRUE(order.n < 3 || orderMatters > 0) << "n = " << order.n;
  }
}

// The batched rows reduce a group with fewer threads than its reduction block when the block
// exceeds 1024: each thread first sums its own columns, then the threads sum across in the block
// tree. Emulated here thread by thread, the result must be the single-lag order bit for bit.
TEST(DecimateGroup, ThreadPartsAndTheBlockTreeKeepTheReductionOrder) {
  std::mt19937 random(14);
  for (const int n : {1, 2, 3, 5, 125, 1024, 1025, 2047, 2048, 3000, 5000, 70000}) {
    const Group values = randomGroup(n, random);
    Group work = values;
    const float2 expected = decimateGroup(work.data(), n);
    const int block = reductionBlockOf(n);
    const auto value = [&values](int u) { return values[static_cast<std::size_t>(u)]; };
    for (int threads = 1; threads <= block; threads *= 4) {
      Group parts(static_cast<std::size_t>(threads));
      for (int t = 0; t < threads; ++t) parts[t] = threadPartOfGroup(value, n, block, threads, t);
      for (int s = threads / 2; s > 0; s >>= 1) {
        for (int t = 0; t < s; ++t) parts[t] = add(parts[t], parts[t + s]);
      }
      ASSERT_TRUE(bitsEqual(parts[0], expected)) << "n = " << n << ", threads " << threads;
    }
  }
}

TEST(LagRowShape, AGroupOfThreadsPerValueAndAbout256ThreadsABlock) {
  const struct {
    int decimation, threads, groups;
  } cases[] = {{1, 1, 256},   {3, 2, 128},     {125, 64, 4},
               {256, 256, 1}, {1500, 1024, 1}, {100000, 1024, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(lagRowShape(c.decimation).threadsPerGroup, c.threads) << c.decimation;
    EXPECT_EQ(lagRowShape(c.decimation).groupsPerBlock, c.groups) << c.decimation;
  }
}

}  // namespace
}  // namespace kestrav
