// Both host paths of the coarse search: the reference against a direct long double
// evaluation, the host path against the reference, and a pair with a known delay and offset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "engine/errors.hpp"
#include "tdc/coarse_row.hpp"
#include "tdc/coarse_search.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

constexpr double Span = 16384.0;

struct Recordings {
  std::vector<short2> first;   // N samples
  std::vector<short2> second;  // N + lagCount samples
};

CoarseRequest requestFor(const Recordings& recordings, int sampleCount, int lagCount,
                         double sampleRate) {
  CoarseRequest request;
  request.first = recordings.first;
  request.second = recordings.second;
  request.sampleCount = sampleCount;
  request.lagCount = lagCount;
  request.sampleRate = sampleRate;
  request.frequencySpan = Span;
  return request;
}

Recordings randomRecordings(int sampleCount, int lagCount, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> component(-32768, 32767);
  const auto samples = [&](int count) {
    std::vector<short2> out(static_cast<std::size_t>(count));
    for (short2& s : out) {
      s = short2{static_cast<short>(component(random)), static_cast<short>(component(random))};
    }
    return out;
  };
  Recordings recordings;
  recordings.first = samples(sampleCount);
  recordings.second = samples(sampleCount + lagCount);
  return recordings;
}

// A generated pair, quantised to full-range int16: the second recording sees the signal later
// by `delaySamples` and higher by `offsetHz`.
Recordings generatedRecordings(int sampleCount, int lagCount, double sampleRate,
                               double delaySamples, double offsetHz, std::uint64_t seed) {
  PairConfig config;
  config.sampleCount = sampleCount + lagCount;
  config.sampleRate = sampleRate;
  config.emitters = {Emitter{delaySamples / sampleRate, offsetHz, 0.0}};
  config.snrDb = 10.0;
  config.seed = seed;
  SamplePairInt16 pair = quantizePair(generatePair(config));
  pair.first.resize(static_cast<std::size_t>(sampleCount));
  return Recordings{std::move(pair.first), std::move(pair.second)};
}

using LongComplex = std::complex<long double>;

// The cell of lag k by the definition: the decimated product summed exactly, a direct DFT,
// the first strongest bin and the peak-to-mean power ratio, all in long double.
LagCell directCell(const Recordings& recordings, int decimation, double decimatedRate,
                   int decimatedLength, int fftLength, int lag) {
  std::vector<LongComplex> row(static_cast<std::size_t>(fftLength));
  for (int b = 0; b < decimatedLength; ++b) {
    for (int t = 0; t < decimation; ++t) {
      const short2 a = recordings.first[static_cast<std::size_t>(b * decimation + t)];
      const short2 s = recordings.second[static_cast<std::size_t>(b * decimation + t + lag)];
      row[static_cast<std::size_t>(b)] += std::conj(LongComplex(a.x, a.y)) * LongComplex(s.x, s.y);
    }
  }
  const long double twoPi = 2 * std::numbers::pi_v<long double>;
  long double total = 0;
  long double peak = -1;
  int peakBin = 0;
  for (int j = 0; j < fftLength; ++j) {
    LongComplex sum = 0;
    for (int b = 0; b < fftLength; ++b) {
      const long double phase = -twoPi * static_cast<long double>((j * b) % fftLength) / fftLength;
      sum += row[static_cast<std::size_t>(b)] * LongComplex(std::cos(phase), std::sin(phase));
    }
    const long double power = std::norm(sum);
    total += power;
    if (power > peak) {
      peak = power;
      peakBin = j;
    }
  }
  const int signedBin = peakBin > fftLength / 2 ? peakBin - fftLength : peakBin;
  return LagCell{lag, static_cast<double>(signedBin) / fftLength * decimatedRate,
                 static_cast<double>(10 * std::log10(fftLength * peak / total))};
}

TEST(CoarseReference, MatchesDirectTransformOfTheDecimatedProduct) {
  const struct {
    int sampleCount;
    double sampleRate;
    int lagCount;
  } cases[] = {
      {64, 20000.0, 3},              // D = 1, M = L
      {300, 3 * Span + 5, 6},        // D = 3, M = 100 padded to 128
      {1000, 2048000.0, 4},          // D = 125, M = 8
      {1500, 7 * Span, 5},           // D = 7, beyond 1024 samples but not a multiple of it
      {250, 2048000.0, 2},           // D = 125, M = 2
  };
  unsigned seed = 100;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "N = " << c.sampleCount << ", fs = " << c.sampleRate);
    const Recordings recordings = randomRecordings(c.sampleCount, c.lagCount, ++seed);
    const CoarseSizes sizes = deriveCoarseSizes(c.sampleCount, c.sampleRate, c.lagCount, Span);
    std::vector<LagCell> cells(static_cast<std::size_t>(c.lagCount));
    coarseSearchReference(requestFor(recordings, c.sampleCount, c.lagCount, c.sampleRate), cells);
    for (int k = 0; k < c.lagCount; ++k) {
      const LagCell expected =
          directCell(recordings, sizes.decimation, sizes.decimatedRate, sizes.decimatedLength,
                     static_cast<int>(sizes.fftLength), k);
      const LagCell& cell = cells[static_cast<std::size_t>(k)];
      EXPECT_EQ(cell.lagIndex, k);
      EXPECT_EQ(cell.frequencyOffset, expected.frequencyOffset) << "lag " << k;
      EXPECT_NEAR(cell.level, expected.level, 1e-3) << "lag " << k;
    }
  }
}

struct Shape {
  int sampleCount;
  double sampleRate;
  int lagCount;
  double offsetHz;

  Recordings recordings(std::uint64_t seed) const {
    return generatedRecordings(sampleCount, lagCount, sampleRate, 2.0, offsetHz, seed);
  }
  CoarseRequest request(const Recordings& pair) const {
    return requestFor(pair, sampleCount, lagCount, sampleRate);
  }
};

const Shape HostShapes[] = {
    {700, 20000.0, 2, 1500.0},             // N below 1024, D = 1
    {5000, 2048000.0, 37, -4000.0},        // D = 125, M = 40: groups with a short tail
    {30001, 61 * Span + 100, 300, 2500.0}, // D = 61
    {100000, 2048000.0, 150, -6000.0},     // D = 125, N not a multiple of 1024
    {4096, 40000.0, 64, 7000.0},           // D = 2, M = L: no padding
    {3000, 20000.0, 9, -9000.0},           // D = 1, L = 4096
    {200, 2048000.0, 3, 0.0},              // M = 1, L = 1
};

TEST(CoarseHost, DecimatedRowsAreBitIdenticalToTheReference) {
  std::uint64_t seed = 200;
  for (const Shape& shape : HostShapes) {
    SCOPED_TRACE(::testing::Message() << "N = " << shape.sampleCount);
    const Recordings recordings = shape.recordings(++seed);
    const CoarseRequest request = shape.request(recordings);
    const CoarseSizes sizes =
        deriveCoarseSizes(shape.sampleCount, shape.sampleRate, shape.lagCount, Span);
    const std::size_t fftLength = sizes.fftLength;
    // Rows start dirty so that the zero padding is checked too.
    std::vector<float2> hostRows(fftLength * static_cast<std::size_t>(shape.lagCount),
                                 float2{1, 1});
    std::vector<float2> scratch(static_cast<std::size_t>(sizes.decimation));
    formDecimatedRows(request, sizes, 0, shape.lagCount, hostRows, scratch);

    std::vector<float2> products(static_cast<std::size_t>(shape.sampleCount));
    std::vector<float2> row(fftLength, float2{1, 1});
    for (int k = 0; k < shape.lagCount; ++k) {
      formDecimatedRowReference(request, sizes, k, products, row);
      ASSERT_EQ(std::memcmp(row.data(), hostRows.data() + k * fftLength,
                            fftLength * sizeof(float2)),
                0)
          << "lag " << k;
    }
  }
}

TEST(CoarseHost, CellsMatchTheReference) {
  std::uint64_t seed = 300;
  for (const Shape& shape : HostShapes) {
    SCOPED_TRACE(::testing::Message() << "N = " << shape.sampleCount);
    const Recordings recordings = shape.recordings(++seed);
    const CoarseRequest request = shape.request(recordings);
    std::vector<LagCell> reference(static_cast<std::size_t>(shape.lagCount));
    std::vector<LagCell> host(reference.size());
    coarseSearchReference(request, reference);
    coarseSearchHost(request, host);
    for (std::size_t k = 0; k < host.size(); ++k) {
      EXPECT_EQ(host[k].lagIndex, static_cast<int>(k));
      EXPECT_EQ(host[k].frequencyOffset, reference[k].frequencyOffset) << "lag " << k;
      EXPECT_NEAR(host[k].level, reference[k].level, 1e-5) << "lag " << k;
    }
  }
}

TEST(CoarseSearch, StrongestCellIsAtTheTrueDelayAndOffset) {
  const struct {
    int sampleCount;
    double sampleRate;
    int lagCount;
    double delaySamples;
    double offsetHz;
  } cases[] = {
      {65536, 1.0e6, 100, 37.0, -2500.0},
      {200000, 2048000.0, 64, 20.4, 3100.0},
      {20000, 20000.0, 40, 5.0, 123.0},
  };
  std::uint64_t seed = 400;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "N = " << c.sampleCount);
    const Recordings recordings = generatedRecordings(c.sampleCount, c.lagCount, c.sampleRate,
                                                      c.delaySamples, c.offsetHz, ++seed);
    const CoarseSizes sizes = deriveCoarseSizes(c.sampleCount, c.sampleRate, c.lagCount, Span);
    const double binWidth = sizes.decimatedRate / static_cast<double>(sizes.fftLength);
    for (const auto search : {coarseSearchReference, coarseSearchHost}) {
      std::vector<LagCell> cells(static_cast<std::size_t>(c.lagCount));
      search(requestFor(recordings, c.sampleCount, c.lagCount, c.sampleRate), cells);
      const LagCell best = *std::max_element(
          cells.begin(), cells.end(),
          [](const LagCell& a, const LagCell& b) { return a.level < b.level; });
      EXPECT_LE(std::fabs(best.lagIndex - c.delaySamples), 1.0);
      EXPECT_LE(std::fabs(best.frequencyOffset - c.offsetHz), binWidth);
    }
  }
}

TEST(CoarseSearch, TooFewSamplesForOneDecimationRunLeaveZeroCells) {
  const Recordings recordings = randomRecordings(124, 4, 7);  // D = 125
  for (const auto search : {coarseSearchReference, coarseSearchHost}) {
    std::vector<LagCell> cells(4, LagCell{9, 9.0, 9.0});
    search(requestFor(recordings, 124, 4, 2048000.0), cells);
    for (const LagCell& cell : cells) {
      EXPECT_EQ(cell.lagIndex, 0);
      EXPECT_EQ(cell.frequencyOffset, 0.0);
      EXPECT_EQ(cell.level, 0.0);
    }
  }
}

TEST(CoarseSearch, RejectsRequestsTheSegmentsCannotServe) {
  const Recordings recordings = randomRecordings(1000, 10, 8);
  const struct {
    const char* what;
    int sampleCount;
    int lagCount;
    std::size_t cellCount;
  } cases[] = {
      {"second segment too short", 1000, 11, 11},
      {"first segment too short", 1001, 9, 9},
      {"one cell too few", 1000, 10, 9},
      {"negative lag count", 1000, -1, 0},
  };
  for (const auto search : {coarseSearchReference, coarseSearchHost}) {
    for (const auto& c : cases) {
      std::vector<LagCell> cells(c.cellCount);
      EXPECT_THROW(search(requestFor(recordings, c.sampleCount, c.lagCount, 20000.0), cells),
                   InputError)
          << c.what;
    }
  }
}

}  // namespace
}  // namespace kestrav
