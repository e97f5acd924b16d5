// The coarse search on the host: the reference against a direct long double evaluation, the fused
// and vector-lane rows against the reference's (int16 and fractional float samples), pairs of
// known delay and offset with the progress counts, and the requests refused.
#include "stages/coarse/coarse_search.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <mutex>
#include <numbers>
#include <random>
#include <vector>

#include "backends/host/coarse_lanes.hpp"
#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "platform/host/errors.hpp"
#include "stages/coarse/coarse_row.hpp"
#include "support/coarse_recordings.hpp"
#include "support/generated_pairs.hpp"

namespace kestrav {
namespace {

using namespace testing::coarse;

// A generated pair quantised to full-range int16: the second recording sees the signal later by
// `delaySamples` and higher by `offsetHz`.
Recordings generatedRecordings(const Shape& shape, double delaySamples, double offsetHz,
                               std::uint64_t seed) {
  testing::GeneratedPair pair = testing::generatedPair(
      testing::oneEmitter(shape.sampleCount + shape.lagCount, shape.sampleRate,
                          delaySamples / shape.sampleRate, offsetHz, 10.0, seed),
      testing::Samples::Int16, shape.sampleCount);
  return Recordings{shape, std::move(pair.first), std::move(pair.second), {}, {}};
}

using LongComplex = std::complex<long double>;

// The cell of lag k by the definition: the decimated product summed exactly, a direct DFT, the
// first strongest bin and the peak-to-mean power ratio, all in long double.
LagCell directCell(const Recordings& r, const CoarseSizes& sizes, int lag) {
  const int D = sizes.decimation;
  const int L = static_cast<int>(sizes.fftLength);
  std::vector<LongComplex> row(static_cast<std::size_t>(L));
  for (int i = 0; i < sizes.decimatedLength * D; ++i) {
    const short2 a = r.first[i], s = r.second[i + lag];
    row[i / D] += std::conj(LongComplex(a.x, a.y)) * LongComplex(s.x, s.y);
  }
  long double total = 0, peak = -1;
  int peakBin = 0;
  for (int j = 0; j < L; ++j) {
    LongComplex sum = 0;
    for (int b = 0; b < L; ++b) {
      const long double phase = -2 * std::numbers::pi_v<long double> * ((j * b) % L) / L;
      sum += row[b] * LongComplex(std::cos(phase), std::sin(phase));
    }
    total += std::norm(sum);
    if (std::norm(sum) > peak) {
      peak = std::norm(sum);
      peakBin = j;
    }
  }
  const int signedBin = peakBin > L / 2 ? peakBin - L : peakBin;
  return LagCell{lag, static_cast<double>(signedBin) / L * sizes.decimatedRate,
                 static_cast<double>(10 * std::log10(L * peak / total))};
}

TEST(CoarseReference, MatchesDirectTransformOfTheDecimatedProduct) {
  const Shape shapes[] = {
      {"D = 1, M = L", 64, 20000.0, 3},
      {"D = 3, M = 100 padded to 128", 300, 3 * Span + 5, 6},
      {"D = 125, M = 8", 1000, 2048000.0, 4},
      {"D = 7, beyond 1024 samples but not a multiple of it", 1500, 7 * Span, 5},
      {"D = 125, M = 2", 250, 2048000.0, 2},
  };
  unsigned seed = 100;
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    const Recordings r = randomRecordings(shape, ++seed);
    const CoarseSizes sizes =
        deriveCoarseSizes(shape.sampleCount, shape.sampleRate, shape.lagCount, Span);
    std::vector<LagCell> cells(static_cast<std::size_t>(shape.lagCount));
    coarseSearchReference(r.request(), cells);
    for (int k = 0; k < shape.lagCount; ++k) {
      const LagCell expected = directCell(r, sizes, k);
      EXPECT_EQ(cells[k].lagIndex, k);
      EXPECT_EQ(cells[k].frequencyOffset, expected.frequencyOffset) << "lag " << k;
      EXPECT_NEAR(cells[k].level, expected.level, 1e-3) << "lag " << k;
    }
  }
}

// The fused rows and every available lane kernel's rows equal the reference rows bit for bit,
// zero padding included (rows start dirty), lanes past a group's lags left alone. (The host
// search's cells against the reference's: backend_parity_test.)
TEST(CoarseHost, RowsMatchTheReference) {
  unsigned seed = 10;
  for (const Shape& shape : HostShapes) {
    SCOPED_TRACE(shape.name);
    const Recordings r = randomRecordings(shape, ++seed);
    const CoarseRequest request = r.request();
    const CoarseSizes sizes =
        deriveCoarseSizes(shape.sampleCount, shape.sampleRate, shape.lagCount, Span);
    const std::size_t L = sizes.fftLength, lags = static_cast<std::size_t>(shape.lagCount);
    ASSERT_GT(L, 0u);
    const auto sameRow = [L](const float2* got, const float2* want) {
      return std::memcmp(got, want, L * sizeof(float2)) == 0;
    };
    std::vector<float2> products(static_cast<std::size_t>(shape.sampleCount));
    std::vector<float2> expected(L * lags);
    for (std::size_t k = 0; k < lags; ++k) {
      formDecimatedRowReference(request, sizes, static_cast<int>(k), products,
                                std::span(expected).subspan(k * L, L));
    }
    // Fused, in two calls: from lag 0 and from a later lag.
    std::vector<float2> rows(L * lags, float2{1, 1});
    std::vector<float2> scratch(static_cast<std::size_t>(sizes.decimation));
    const int half = shape.lagCount / 2;
    formDecimatedRows(request, sizes, 0, half, rows, scratch);
    formDecimatedRows(request, sizes, half, shape.lagCount - half,
                      std::span(rows).subspan(half * L), scratch);
    for (std::size_t k = 0; k < lags; ++k) {
      ASSERT_TRUE(sameRow(&rows[k * L], &expected[k * L])) << "fused, lag " << k;
    }
    for (const InstructionSet set : {InstructionSet::Avx2, InstructionSet::Avx512}) {
      if (!instructionSetAvailable(set)) continue;
      const int lanes = lagsPerLaneGroup(set);
      const std::size_t stride = L + 3;  // rows need not be contiguous
      std::vector<float> laneScratch(laneScratchFloats(sizes.decimation));
      for (int firstLag = 0; firstLag < shape.lagCount; firstLag += lanes) {
        const int rowCount = std::min(lanes, shape.lagCount - firstLag);
        std::vector<float2> group(static_cast<std::size_t>(lanes) * stride, float2{7, 7});
        formLaneGroupRows(set, request, sizes, firstLag, rowCount, group.data(), stride,
                          laneScratch);
        for (int k = 0; k < rowCount; ++k) {
          ASSERT_TRUE(sameRow(&group[k * stride], &expected[(firstLag + k) * L]))
              << lanes << " lanes, lag " << firstLag + k;
        }
        for (std::size_t i = rowCount * stride; i < group.size(); ++i) {
          ASSERT_EQ(group[i].x, 7.0f) << lanes << " lanes, past lag " << firstLag + rowCount;
        }
      }
    }
  }
}

TEST(CoarseSearch, StrongestCellIsAtTheTrueDelayAndOffsetAndProgressReachesEveryLag) {
  const struct {
    Shape shape;
    double delaySamples, offsetHz;
  } cases[] = {
      {{"1 MHz", 65536, 1.0e6, 100}, 37.0, -2500.0},
      {{"2.048 MHz, fractional delay", 200000, 2048000.0, 64}, 20.4, 3100.0},
      {{"20 kHz, no decimation", 20000, 20000.0, 40}, 5.0, 123.0},
  };
  std::uint64_t seed = 400;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shape.name);
    const Recordings r = generatedRecordings(c.shape, c.delaySamples, c.offsetHz, ++seed);
    const CoarseSizes sizes =
        deriveCoarseSizes(c.shape.sampleCount, c.shape.sampleRate, c.shape.lagCount, Span);
    for (const auto search : {coarseSearchReference, coarseSearchHost}) {
      std::mutex lock;
      std::vector<int> reports;
      CoarseRequest request = r.request();
      request.progress = [&](int done) {
        std::lock_guard guard(lock);
        reports.push_back(done);
      };
      std::vector<LagCell> cells(static_cast<std::size_t>(c.shape.lagCount));
      search(request, cells);
      // Progress, reported by workers in any order: positive counts that reach every lag.
      ASSERT_FALSE(reports.empty());
      EXPECT_EQ(*std::max_element(reports.begin(), reports.end()), c.shape.lagCount);
      EXPECT_GT(*std::min_element(reports.begin(), reports.end()), 0);
      const LagCell best =
          *std::max_element(cells.begin(), cells.end(),
                            [](const LagCell& a, const LagCell& b) { return a.level < b.level; });
      EXPECT_LE(std::fabs(best.lagIndex - c.delaySamples), 1.0);
      EXPECT_LE(std::fabs(best.frequencyOffset - c.offsetHz),
                sizes.decimatedRate / static_cast<double>(sizes.fftLength));
    }
  }
}

TEST(CoarseSearch, TooFewSamplesForOneDecimationRunLeaveZeroCells) {
  const Recordings r = randomRecordings({"D = 125", 124, 2048000.0, 4}, 7);
  for (const auto search : {coarseSearchReference, coarseSearchHost}) {
    std::vector<LagCell> cells(4, LagCell{9, 9.0, 9.0});
    search(r.request(), cells);
    for (const LagCell& cell : cells) {
      EXPECT_EQ(cell.lagIndex, 0);
      EXPECT_EQ(cell.frequencyOffset, 0.0);
      EXPECT_EQ(cell.level, 0.0);
    }
  }
}

TEST(CoarseSearch, RejectsRequestsTheSegmentsCannotServe) {
  const Recordings r = randomRecordings({"", 1000, 20000.0, 10}, 8);
  const struct {
    const char* what;
    int sampleCount, lagCount;
    std::size_t cellCount;
  } cases[] = {
      {"second segment too short", 1000, 11, 11},
      {"first segment too short", 1001, 9, 9},
      {"one cell too few", 1000, 10, 9},
      {"negative lag count", 1000, -1, 0},
  };
  for (const auto search : {coarseSearchReference, coarseSearchHost}) {
    for (const auto& c : cases) {
      CoarseRequest request = r.request();
      request.sampleCount = c.sampleCount;
      request.lagCount = c.lagCount;
      std::vector<LagCell> cells(c.cellCount);
      EXPECT_THROW(search(request, cells), InputError) << c.what;
    }
  }
}

}  // namespace
}  // namespace kestrav
