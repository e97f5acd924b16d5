#include "stages/fine/czt.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

#include "backends/host/czt_blocks.hpp"
#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "stages/fine/czt_maps.hpp"
#include "support/zoom_points.hpp"

namespace kestrav {
namespace {

constexpr double Pi = std::numbers::pi;

using testing::randomPoints;
using testing::relativeError;

std::vector<double2> run(CztFunction czt, const std::vector<double2>& x, int M, double step,
                         double start) {
  std::vector<double2> out(static_cast<std::size_t>(M));
  czt(x.data(), static_cast<int>(x.size()), out.data(), M, step, start);
  return out;
}

TEST(CztFftLength, IsTheSmallestPowerOfTwoNotBelowTheConvolution) {
  const struct {
    int N, M;
    std::int64_t L;
  } cases[] = {{1, 1, 1},
               {2, 1, 2},
               {4096, 4097, 8192},
               {4096, 4098, 16384},
               {4096, 499, 8192},
               {2048, 19531250, 33554432},
               {INT_MAX, INT_MAX, 4294967296}};
  for (const auto& c : cases) EXPECT_EQ(cztFftLength(c.N, c.M), c.L) << c.N << " " << c.M;
}

// The N-point forward DFT, each phase reduced exactly as (n k mod N) / N of a turn: a
// reference that shares nothing with the chirp-z paths.
TEST(Czt, BothPathsReproduceTheForwardDft) {
  for (const int N : {1, 7, 128, 1000}) {
    const std::vector<double2> x = randomPoints(N, 11);
    std::vector<double2> dft(static_cast<std::size_t>(N));
    for (int k = 0; k < N; ++k) {
      long double re = 0.0L, im = 0.0L;
      for (int n = 0; n < N; ++n) {
        const long double turn = static_cast<long double>((std::int64_t{n} * k) % N) / N;
        const long double c = std::cos(2 * std::numbers::pi_v<long double> * turn);
        const long double s = -std::sin(2 * std::numbers::pi_v<long double> * turn);
        re += x[n].x * c - x[n].y * s;
        im += x[n].x * s + x[n].y * c;
      }
      dft[k] = double2{static_cast<double>(re), static_cast<double>(im)};
    }
    const double step = -2.0 * Pi / N;
    // Both carry the rounding of the step -2 pi / N, which grows with n k; Bluestein's method
    // adds that of its chirp phases, which grow as (N + M)^2.
    EXPECT_LT(relativeError(run(cztReference, x, N, step, 0.0), dft, x), 2e-14) << "N " << N;
    EXPECT_LT(relativeError(run(cztHost, x, N, step, 0.0), dft, x), 1e-13) << "N " << N;
  }
}

TEST(Czt, BluesteinAgreesWithTheDirectSum) {
  const struct {
    const char* name;
    int N, M;
    double step, start;
  } cases[] = {
      {"more outputs than inputs", 64, 300, -0.01, 0.3},
      {"fewer outputs than inputs", 4096, 499, -2.0 * Pi / (1024 * 499), -Pi / 1024},
      {"one output", 4096, 1, -0.25, 0.7},
      {"one input", 1, 50, -0.1, 0.2},
      {"step zero", 100, 20, 0.0, 0.5},
      {"prime N", 127, 131, -2.0 * Pi / 131, 1.0},
      {"rising band of a narrow zoom", 2048, 3001, -2.0 * Pi / (2048 * 1000.0), -0.004},
  };
  for (const auto& c : cases) {
    const std::vector<double2> x = randomPoints(c.N, 5);
    const std::vector<double2> want = run(cztReference, x, c.M, c.step, c.start);
    EXPECT_LT(relativeError(run(cztHost, x, c.M, c.step, c.start), want, x), 1e-13) << c.name;
  }
}

TEST(Czt, ReadsOnlyTheInputAndWritesOnlyTheFirstMOutputs) {
  constexpr int Guard = 8;
  const double2 sentinel{-12345.5, 6789.25};
  for (const CztFunction czt : {cztHost, cztReference}) {
    for (const auto& [N, M] : {std::pair{100, 37}, {37, 100}, {0, 10}, {10, 0}}) {
      const std::vector<double2> x = randomPoints(N + Guard, 3);
      std::vector<double2> input = x;
      std::vector<double2> out(static_cast<std::size_t>(M + Guard), sentinel);
      czt(input.data(), N, out.data(), M, -0.05, 0.1);
      EXPECT_EQ(std::memcmp(input.data(), x.data(), x.size() * sizeof(double2)), 0);
      for (int k = 0; k < M + Guard; ++k) {
        const bool untouched = out[k].x == sentinel.x && out[k].y == sentinel.y;
        EXPECT_EQ(untouched, k >= M || N < 1) << "N " << N << " M " << M << " k " << k;
      }
    }
  }
}

TEST(CztMaps, RampAndChirpValues) {
  // exp(-j i x): 1 at element 0 and for a zero step.
  for (const auto& [i, x] : {std::pair{0, 1.7}, std::pair{123, 0.0}}) {
    EXPECT_EQ(cztRamp(i, x).x, 1.0);
    EXPECT_EQ(cztRamp(i, x).y, 0.0);
  }
  EXPECT_EQ(cztRamp(3, 0.1).y, std::sin(-3.0 * 0.1));
  const double x = 1.2566370614359173e-9;  // a long zoom's step
  for (const int k : {1, 4095, 19531249}) {
    const double2 plus = cztChirp(k, x, +1), minus = cztChirp(k, x, -1);
    const double2 mirrored = cztChirp(-k, x, +1);  // k and -k give the same phase
    EXPECT_TRUE(plus.x == mirrored.x && plus.y == mirrored.y) << k;
    EXPECT_TRUE(minus.x == plus.x && minus.y == -plus.y) << k;  // sign -1: the exact conjugate
    // The phase (k (k x)) / 2, its sine and cosine accurate to double precision however large.
    const double kk = k;
    const long double phi = (kk * (kk * x)) * 0.5;
    EXPECT_NEAR(plus.x, static_cast<double>(std::cos(phi)), 2.3e-16) << k;
    EXPECT_NEAR(plus.y, static_cast<double>(std::sin(phi)), 2.3e-16) << k;
  }
}

TEST(CztMaps, ProductsRoundTheImaginaryPartAsOneFusedMultiplyAdd) {
  // Operands whose products round differently under each placement of the fused multiply-add.
  const double2 a{0x1.0ab49799e5c1ep+0, 0x1.d6ea631b193b6p-1};
  const double2 b{-0x1.f7452c941ad7ap+0, 0x1.71b4a8bae4p+0};
  const double fused = std::fma(a.x, b.y, a.y * b.x);
  const double real = a.x * b.x - a.y * b.y;
  ASSERT_NE(fused, a.x * b.y + a.y * b.x);
  ASSERT_NE(fused, std::fma(a.y, b.x, a.x * b.y));
  ASSERT_NE(real, std::fma(a.x, b.x, -(a.y * b.y)));
  ASSERT_NE(real, std::fma(-a.y, b.y, a.x * b.x));

  double2 inPlace = a, into{};
  multiplyInPlace(inPlace, b);
  multiplyInto(into, a, b);
  for (const double2& value : {complexProduct(a, b), inPlace, into}) {
    EXPECT_EQ(value.x, real);
    EXPECT_EQ(value.y, fused);
  }

  double2 turned{2.5, -4.0};
  multiplyInPlace(turned, double2{0.0, 1.0});  // a quarter turn
  EXPECT_EQ(turned.x, 4.0);
  EXPECT_EQ(turned.y, 2.5);
}

// The zoom in short blocks: one block is cztHost's bit for bit (the largest zooms of one block
// are 2N + 1 - N outputs for a power-of-two N), many agree with the direct sum.
TEST(CztBlocks, OneBlockIsCztHostAndManyAgreeWithTheDirectSum) {
  struct Case {
    const char* name;
    int N, M;
    double step, start;
    int blocks;
  };
  const double zoom = -2.0 * Pi / 1024.0;  // divided by M
  const Case cases[] = {
      {"one block, one output", 2048, 1, zoom, 0.3, 1},
      {"one block, largest", 2048, 2049, zoom / 2049, 0.3, 1},
      {"one block, N = 4096", 4096, 1953, zoom / 1953, 0.3, 1},
      {"one block, largest of N = 4096", 4096, 4097, zoom / 4097, 0.3, 1},
      {"one block, N = 7", 7, 5, zoom / 5, 0.3, 1},
      {"one block, one input", 1, 2, zoom / 2, 0.3, 1},
      {"a second block of one output", 2048, 2050, -2.0 * Pi / (2048 * 1000.0), -0.004, 2},
      {"N not a power of two, last block short", 100, 1000, -0.003, 0.2, 7},
      {"one input", 1, 50, -0.1, 0.2, 25},
      {"step zero", 64, 500, 0.0, 0.5, 8},
      {"coarse and fine turns", 256, 8000, -2.0 * Pi * 4 / (256.0 * 8000), -Pi * 2 / 256, 32},
  };
  for (const Case& c : cases) {
    const std::vector<double2> x = randomPoints(c.N, 2);
    EXPECT_EQ(CztBlocks(x.data(), c.N, c.M, c.step, c.start).blockCount(), c.blocks) << c.name;
    const std::vector<double2> blocks = run(cztInBlocks, x, c.M, c.step, c.start);
    if (c.blocks == 1) {
      const std::vector<double2> host = run(cztHost, x, c.M, c.step, c.start);
      EXPECT_EQ(std::memcmp(blocks.data(), host.data(), host.size() * sizeof(double2)), 0)
          << c.name;
    } else {
      EXPECT_LT(relativeError(blocks, run(cztReference, x, c.M, c.step, c.start), x), 1e-13)
          << c.name;
    }
  }
}

}  // namespace
}  // namespace kestrav
