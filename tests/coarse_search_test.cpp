// The coarse search on the host: the reference against a direct long double evaluation, the fused
// and vector-lane rows and the host cells against the reference (int16 and fractional float
// samples), pairs of known delay and offset with the progress counts, and the requests refused.
#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
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

#include "platform/host/errors.hpp"
#include "backends/host/coarse_lanes.hpp"
#include "stages/coarse/coarse_row.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

constexpr double Span = 16384.0;

enum class Values { FullRange, Extremes, MostNegative, Fractional };

struct Shape {
  const char* name;
  int sampleCount;
  double sampleRate;
  int lagCount;
  Values values = Values::FullRange;
};

// N samples of the first recording and N + lagCount of the second, as int16 or as floats.
struct Recordings {
  Shape shape;
  std::vector<short2> first, second;
  std::vector<float2> firstFloat, secondFloat;

  CoarseRequest request() const {
    CoarseRequest request{SpanPair<short2>{first, second}, shape.sampleCount, shape.lagCount,
                          shape.sampleRate, Span, {}};
    if (!firstFloat.empty()) request.segments = SpanPair<float2>{firstFloat, secondFloat};
    return request;
  }
};

Recordings randomRecordings(const Shape& shape, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> fullRange(-32768, 32767), pick(0, 6);
  const short extremes[] = {-32768, -32767, 32767, 32766, 0, 1, -1};
  // Fractional values no int16 holds: beyond 32767, and tiny in every fifth sample.
  std::uniform_real_distribution<float> wide(-70000.0f, 70000.0f), tiny(-1e-3f, 1e-3f);
  const auto component = [&]() -> short {
    switch (shape.values) {
      case Values::Extremes:
        return extremes[pick(random)];
      case Values::MostNegative:
        return -32768;
      default:
        return static_cast<short>(fullRange(random));
    }
  };
  Recordings r{shape, {}, {}, {}, {}};
  for (const int count : {shape.sampleCount, shape.sampleCount + shape.lagCount}) {
    if (shape.values == Values::Fractional) {
      auto& out = r.firstFloat.empty() ? r.firstFloat : r.secondFloat;
      for (int i = 0; i < count; ++i) {
        out.push_back(i % 5 == 4 ? float2{tiny(random), tiny(random)}
                                 : float2{wide(random), wide(random)});
      }
    } else {
      auto& out = r.first.empty() ? r.first : r.second;
      for (int i = 0; i < count; ++i) out.push_back(short2{component(), component()});
    }
  }
  return r;
}

// A generated pair quantised to full-range int16: the second recording sees the signal later by
// `delaySamples` and higher by `offsetHz`.
Recordings generatedRecordings(const Shape& shape, double delaySamples, double offsetHz,
                               std::uint64_t seed) {
  PairConfig config;
  config.sampleCount = shape.sampleCount + shape.lagCount;
  config.sampleRate = shape.sampleRate;
  config.emitters = {Emitter{delaySamples / shape.sampleRate, offsetHz, 0.0}};
  config.snrDb = 10.0;
  config.seed = seed;
  SamplePairInt16 pair = quantizePair(generatePair(config));
  pair.first.resize(static_cast<std::size_t>(shape.sampleCount));
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

// Shapes that leave decimation groups, lane groups, vectors and conversion chunks partly filled.
const Shape HostShapes[] = {
    {"N below 1024, D = 1, fewer lags than a vector", 700, 20000.0, 5},
    {"D = 1, N and lags not multiples of the lanes", 1003, 20000.0, 37, Values::Extremes},
    {"D = 1 over several converted chunks", 6000, 20000.0, 20},
    {"D = 2", 5000, 40000.0, 16},
    {"D = 2, M = L: no padding", 4096, 40000.0, 64},
    {"D = 3, one lag", 3001, 3 * Span + 5, 1, Values::Extremes},
    {"D = 61", 30001, 61 * Span + 100, 70},
    {"D = 125, M = 40: groups with a short tail", 5000, 2048000.0, 37},
    {"D = 125, a full group of 32 and one lag more", 100003, 2048000.0, 33, Values::Extremes},
    {"D = 125, every component -32768", 4000, 2048000.0, 64, Values::MostNegative},
    {"D = 125, M = 1, L = 1", 200, 2048000.0, 3},
    {"D = 200: a tree taller than the registers hold", 20000, 200 * Span, 17},
    {"D = 1000", 9000, 1000 * Span, 40, Values::Extremes},
    {"L = 262144: host cells row by row", 140000, 16000.0, 3},
    {"floats, D = 1, lags not a multiple of the lanes", 1003, 20000.0, 37, Values::Fractional},
    {"floats, D = 3 over several converted chunks", 9001, 49152.0, 20, Values::Fractional},
    {"floats, D = 125, a group of 32 and one lag more", 100003, 2048000.0, 33, Values::Fractional},
    {"floats, D = 200: a taller tree", 20000, 200 * Span, 17, Values::Fractional},
};

// The fused rows and every available lane kernel's rows equal the reference rows bit for bit,
// zero padding included (rows start dirty), lanes past a group's lags left alone; the host
// search's cells are the reference's, but for the order of the spectrum's power sum.
TEST(CoarseHost, RowsAndCellsMatchTheReference) {
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
    std::vector<LagCell> reference(lags), host(lags);
    coarseSearchReference(request, reference);
    coarseSearchHost(request, host);
    for (std::size_t k = 0; k < lags; ++k) {
      EXPECT_EQ(host[k].lagIndex, static_cast<int>(k));
      EXPECT_EQ(host[k].frequencyOffset, reference[k].frequencyOffset) << "lag " << k;
      if (std::isnan(reference[k].level)) {
        EXPECT_TRUE(std::isnan(host[k].level)) << "lag " << k;
      } else {
        EXPECT_NEAR(host[k].level, reference[k].level, 1e-5) << "lag " << k;
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
