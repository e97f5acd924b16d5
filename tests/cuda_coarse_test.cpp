// The coarse search on the GPU against the plain reference on the same generated pairs: every
// cell's frequency bin identical, levels within 1e-4 dB. The two paths transform with different
// FFTs, so two bins whose powers agree to the rounding of a float may come out in either order;
// such a near tie is confirmed with a direct DFT in long double and then accepted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <variant>
#include <vector>

#include "backends/compute_backend.hpp"
#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "support/cuda_device.hpp"
#include "stages/coarse/coarse_row.hpp"
#include "stages/coarse/coarse_search.hpp"
#include "stages/coarse/signal_maps.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

struct Recordings {
  std::vector<short2> first, second;
};

Recordings generate(int sampleCount, double sampleRate, int lagCount, int trueLag, unsigned seed) {
  PairConfig config;
  config.sampleCount = sampleCount + lagCount;
  config.sampleRate = sampleRate;
  config.emitters = {Emitter{trueLag / sampleRate, 0.23 * std::min(sampleRate, 16384.0), 0.0}};
  config.snrDb = 0.0;
  config.seed = seed;
  SamplePairInt16 pair = quantizePair(generatePair(config));
  pair.first.resize(static_cast<std::size_t>(sampleCount));
  return {std::move(pair.first), std::move(pair.second)};
}

CoarseRequest requestFor(const Recordings& recordings, int sampleCount, double sampleRate,
                         int lagCount) {
  CoarseRequest request;
  request.segments = SpanPair<short2>{recordings.first, recordings.second};
  request.sampleCount = sampleCount;
  request.lagCount = lagCount;
  request.sampleRate = sampleRate;
  request.frequencySpan = 16384.0;
  return request;
}

// The power of bin `bin` of lag `lag`'s row, from the maps and a direct DFT in long double.
long double directBinPower(const CoarseRequest& request, const CoarseSizes& sizes, int lag,
                           std::uint64_t bin) {
  const std::size_t D = static_cast<std::size_t>(sizes.decimation);
  std::vector<float2> group(D);
  const auto& samples = std::get<SpanPair<short2>>(request.segments);
  long double re = 0.0L, im = 0.0L;
  for (std::size_t m = 0; m < static_cast<std::size_t>(sizes.decimatedLength); ++m) {
    for (std::size_t u = 0; u < D; ++u) {
      group[u] =
          conjugateProduct(toFloat2(samples.first[m * D + u]),
                           toFloat2(samples.second[m * D + u + static_cast<std::size_t>(lag)]));
    }
    const float2 value = decimateGroup(group.data(), sizes.decimation);
    const long double turn = static_cast<long double>((m * bin) % sizes.fftLength) /
                             static_cast<long double>(sizes.fftLength);
    const long double c = std::cos(2 * std::numbers::pi_v<long double> * turn);
    const long double s = -std::sin(2 * std::numbers::pi_v<long double> * turn);
    re += value.x * c - value.y * s;
    im += value.x * s + value.y * c;
  }
  return re * re + im * im;
}

std::uint64_t binOf(double frequency, const CoarseSizes& sizes) {
  const auto L = static_cast<double>(sizes.fftLength);
  const double signedBin = std::round(frequency / sizes.decimatedRate * L);
  return static_cast<std::uint64_t>(signedBin < 0 ? signedBin + L : signedBin);
}

struct CoarseCase {
  const char* name;
  int sampleCount;
  double sampleRate;
  int lagCount;
};

TEST(CudaCoarseSearch, EveryCellAsTheReferenceGivesIt) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const CoarseCase cases[] = {
      {"2.048 MHz: D = 125 in groups of 64 threads", 262144, 2048000.0, 300},
      {"D = 3: groups of 2 threads, many to a block", 30000, 49152.0, 100},
      {"D = 1 and rows of 2^21: three batches, the last one short", 2097152, 16000.0, 60},
      {"D = 3000: a reduction block of 2048 beyond a block's threads", 1800000, 49152000.0, 50},
      {"fewer samples than one block of the lag product", 700, 20000.0, 40},
  };
  const auto backend = makeBackend(BackendKind::Cuda);
  for (const CoarseCase& c : cases) {
    const Recordings recordings =
        generate(c.sampleCount, c.sampleRate, c.lagCount, c.lagCount / 3, 77);
    CoarseRequest request = requestFor(recordings, c.sampleCount, c.sampleRate, c.lagCount);
    const CoarseSizes sizes =
        deriveCoarseSizes(c.sampleCount, c.sampleRate, c.lagCount, request.frequencySpan);
    std::vector<LagCell> reference(static_cast<std::size_t>(c.lagCount));
    std::vector<LagCell> gpu(static_cast<std::size_t>(c.lagCount), LagCell{-1, 1.0, 1.0});
    coarseSearchReference(request, reference);
    std::vector<int> reported;
    request.progress = [&reported](int lagsDone) { reported.push_back(lagsDone); };
    backend->coarseSearch(request, gpu);
    // Progress after every batch, rising to the whole window.
    ASSERT_EQ(reported.size(), static_cast<std::size_t>(sizes.batchCount)) << c.name;
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end())) << c.name;
    EXPECT_EQ(reported.back(), c.lagCount) << c.name;

    int nearTies = 0;
    for (int k = 0; k < c.lagCount; ++k) {
      const LagCell& want = reference[static_cast<std::size_t>(k)];
      const LagCell& got = gpu[static_cast<std::size_t>(k)];
      ASSERT_EQ(got.lagIndex, k) << c.name;
      if (got.frequencyOffset != want.frequencyOffset) {
        const long double wantPower =
            directBinPower(request, sizes, k, binOf(want.frequencyOffset, sizes));
        const long double gotPower =
            directBinPower(request, sizes, k, binOf(got.frequencyOffset, sizes));
        EXPECT_LT(std::fabs(static_cast<double>(gotPower / wantPower - 1.0L)), 1e-5)
            << c.name << ": lag " << k << " at " << got.frequencyOffset << " Hz, the reference at "
            << want.frequencyOffset << " Hz";
        ++nearTies;
      }
      EXPECT_NEAR(got.level, want.level, 1e-4) << c.name << ": lag " << k;
    }
    // Near ties are rare: a handful in a window, never a pattern.
    EXPECT_LE(nearTies, std::max(1, c.lagCount / 50)) << c.name;
    const LagCell& strongest = gpu[static_cast<std::size_t>(c.lagCount / 3)];
    EXPECT_GT(strongest.level, 10.0) << c.name << ": the generated emitter stands out";
  }
}

// Fewer than two decimated samples make spectra of one point, which are their own transforms.
TEST(CudaCoarseSearch, RowsOfOnePointAreTheirOwnSpectra) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const int sampleCount = 200, lagCount = 40;  // D = 125 at 2.048 MHz: M = 1, L = 1
  const Recordings recordings = generate(sampleCount, 2048000.0, lagCount, 13, 78);
  const CoarseRequest request = requestFor(recordings, sampleCount, 2048000.0, lagCount);
  ASSERT_EQ(deriveCoarseSizes(sampleCount, 2048000.0, lagCount, 16384.0).fftLength, 1u);
  std::vector<LagCell> reference(lagCount);
  std::vector<LagCell> gpu(lagCount, LagCell{-1, 1.0, 1.0});
  coarseSearchReference(request, reference);
  makeBackend(BackendKind::Cuda)->coarseSearch(request, gpu);
  for (int k = 0; k < lagCount; ++k) {
    EXPECT_EQ(gpu[k].lagIndex, k);
    EXPECT_EQ(gpu[k].frequencyOffset, reference[k].frequencyOffset) << "lag " << k;
    EXPECT_EQ(gpu[k].level, reference[k].level) << "lag " << k;
  }
}

TEST(CudaCoarseSearch, AnAllZeroRowHasNoLevelAndTooFewSamplesLeaveTheCellsZero) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const auto backend = makeBackend(BackendKind::Cuda);
  Recordings silent{std::vector<short2>(4096, short2{0, 0}),
                    std::vector<short2>(4099, short2{3, -4})};
  std::vector<LagCell> cells(3);
  backend->coarseSearch(requestFor(silent, 4096, 20000.0, 3), cells);
  for (const LagCell& cell : cells) {
    EXPECT_EQ(cell.frequencyOffset, 0.0);
    EXPECT_TRUE(std::isnan(cell.level));
  }
  // 100 samples at 2.048 MHz are fewer than one decimation run of 125.
  Recordings few{std::vector<short2>(100, short2{1, 1}), std::vector<short2>(103, short2{1, 1})};
  std::vector<LagCell> untouched(3, LagCell{5, 6.0, 7.0});
  backend->coarseSearch(requestFor(few, 100, 2048000.0, 3), untouched);
  for (const LagCell& cell : untouched) {
    EXPECT_EQ(cell.lagIndex, 0);
    EXPECT_EQ(cell.level, 0.0);
  }
}

}  // namespace
}  // namespace kestrav
