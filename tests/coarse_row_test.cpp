// The sizes derived from a coarse request, the frequency of a spectrum bin, and reducing one lag's
// spectrum to its cell (the strongest bin, its frequency and the peak-to-mean level) on hand-made
// spectra, the vectorised reduction against the plain one.
#include "stages/coarse/coarse_row.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "backends/host/coarse_lanes.hpp"
#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "stages/coarse/coarse_search.hpp"

namespace kestrav {
namespace {

constexpr double Span = 16384.0;  // the frequency span
constexpr double Rate = 16384.0;  // the decimated rate of the hand-made spectra

TEST(CoarseSizes, DecimationLengthsBlocksAndBatches) {
  const struct {
    int sampleCount;
    double sampleRate;
    int lagCount, decimation, decimatedLength;
    std::uint64_t fftLength;
    int reductionBlock, chunkCount, productGrid, batchCount, lagsPerBatch;
  } cases[] = {
      {1000000, 2048000.0, 10, 125, 8000, 8192, 64, 1, 976, 1, 10},  // fs / D exactly the span
      {1024, 20000.0, 4, 1, 1024, 1024, 1, 1, 1, 1, 4},  // below twice the span: no decimation
      {1025, 20000.0, 4, 1, 1025, 2048, 1, 1, 1, 1, 4},
      {1, 20000.0, 4, 1, 1, 1, 1, 1, 0, 1, 4},
      {1023, 40000.0, 3, 2, 511, 512, 2, 1, 0, 1, 3},
      {100000, 16384.0, 10, 1, 100000, 131072, 1, 2, 97, 1, 10},  // equal to the span: not above
      {100000, 8000.0, 10, 1, 100000, 131072, 1, 2, 97, 1, 10},
      // 10000 lags of 8192 points need two batches of 6400 rows.
      {8192, 20000.0, 10000, 1, 8192, 8192, 1, 1, 8, 2, 6400},
      {65535, 20000.0, 2, 1, 65535, 65536, 1, 1, 63, 1, 2},
      {65536, 20000.0, 2, 1, 65536, 65536, 1, 2, 64, 1, 2},
      {67108864, 20000.0, 2, 1, 67108864, 67108864, 1, 1025, 65535, 2, 1},
      // Fewer samples than one decimation run: nothing to transform.
      {124, 2048000.0, 10, 125, 0, 0, 64, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    const CoarseSizes sizes = deriveCoarseSizes(c.sampleCount, c.sampleRate, c.lagCount, Span);
    SCOPED_TRACE(::testing::Message() << "N = " << c.sampleCount << ", fs = " << c.sampleRate
                                      << ", lags = " << c.lagCount);
    EXPECT_EQ(sizes.decimation, c.decimation);
    EXPECT_EQ(sizes.decimatedRate, c.sampleRate / c.decimation);
    EXPECT_EQ(sizes.decimatedLength, c.decimatedLength);
    EXPECT_EQ(sizes.fftLength, c.fftLength);
    EXPECT_EQ(sizes.reductionBlock, c.reductionBlock);
    EXPECT_EQ(sizes.chunkCount, c.chunkCount);
    EXPECT_EQ(sizes.productGrid, c.productGrid);
    EXPECT_EQ(sizes.batchCount, c.batchCount);
    EXPECT_EQ(sizes.lagsPerBatch, c.lagsPerBatch);
  }
}

TEST(CoarseSizes, LongSpectraStillCoverEveryLag) {
  // 2^23 points leave room for 6 rows a batch; 2^26 for none, yet one row still goes.
  for (const int sampleCount : {(1 << 22) + 1, (1 << 25) + 1}) {
    const CoarseSizes sizes = deriveCoarseSizes(sampleCount, 20000.0, 20, Span);
    EXPECT_GE(sizes.lagsPerBatch, 1);
    EXPECT_GE(static_cast<long long>(sizes.batchCount) * sizes.lagsPerBatch, 20);
    EXPECT_LT(static_cast<long long>(sizes.batchCount - 1) * sizes.lagsPerBatch, 20);
  }
}

TEST(BinFrequency, BinsAboveHalfAreNegative) {
  const std::pair<std::uint64_t, double> cases[] = {
      {0, 0.0}, {1, Rate / 8}, {4, 4.0 / 8 * Rate}, {5, -3.0 / 8 * Rate}, {7, -1.0 / 8 * Rate}};
  for (const auto& [index, frequency] : cases) {
    EXPECT_EQ(binFrequency(index, 8, Rate), frequency) << "bin " << index;
  }
  EXPECT_EQ(binFrequency(0, 1, Rate), 0.0);
}

TEST(EvaluateSpectrum, FirstStrongestBinAndPeakOverMeanLevel) {
  // (3, 4), (4, -3) and (0, 5) all have power 25: of equal peaks the lower bin wins.
  const struct {
    int signedBin;
    double peakOverMean;
    std::vector<float2> spectrum;
  } cases[] = {
      {2, 8 * 25.0 / 52, {{0, 0}, {1, 1}, {3, 4}, {0, 0}, {0, 0}, {0, 0}, {4, -3}, {0, 0}}},
      {3, 8 * 25.0 / 51, {{0, 0}, {0, 0}, {0, 0}, {0, 5}, {1, 0}, {3, 4}, {0, 0}, {0, 0}}},
      {-3, 8 * 25.0 / 50, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {3, 4}, {0, 0}, {0, 5}}},
      {0, 1.0, {{3, 4}, {0, 5}, {5, 0}, {-5, 0}}},
      // All power in one bin: the largest level an L-point spectrum can show.
      {-3, 8.0, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {3, 4}, {0, 0}, {0, 0}}},
      {2, 4.0, {{0, 0}, {0, 0}, {-1, 1}, {0, 0}}},  // bin L / 2 is positive
      {0, 1.0, {{1, 0}}},
      {0, 4 * 25.0 / 30, {{3, 4}, {0, 0}, {1, 0}, {0, 2}}},
  };
  for (const auto& c : cases) {
    const LagCell cell = evaluateSpectrum(c.spectrum, 7, Rate);
    const double L = static_cast<double>(c.spectrum.size());
    EXPECT_EQ(cell.lagIndex, 7);
    EXPECT_EQ(cell.frequencyOffset, c.signedBin / L * Rate) << "L = " << L;
    EXPECT_NEAR(cell.level, 10 * std::log10(c.peakOverMean), 1e-5) << "L = " << L;
  }
  const LagCell zero = evaluateSpectrum(std::vector<float2>(16, float2{0, 0}), 3, Rate);
  EXPECT_TRUE(std::isnan(zero.level));  // an all-zero row has no level
  EXPECT_EQ(zero.frequencyOffset, 0.0);
}

void expectSameCell(const std::vector<float2>& spectrum, const char* what) {
  const LagCell plain = evaluateSpectrum(spectrum, 3, Rate);
  for (const InstructionSet set : {InstructionSet::Avx2, InstructionSet::Avx512}) {
    if (!instructionSetAvailable(set)) continue;
    SCOPED_TRACE(::testing::Message() << what << ", " << lagsPerLaneGroup(set) / 2 << " lanes");
    const LagCell vectorised = evaluateSpectrumVectorised(spectrum, 3, Rate, set);
    EXPECT_EQ(vectorised.lagIndex, 3);
    EXPECT_EQ(vectorised.frequencyOffset, plain.frequencyOffset);
    if (std::isnan(plain.level)) {
      EXPECT_TRUE(std::isnan(vectorised.level));
    } else {
      EXPECT_NEAR(vectorised.level, plain.level, 1e-6);
    }
  }
}

TEST(EvaluateSpectrumVectorised, SameCellAsThePlainReduction) {
  std::mt19937 random(50);
  std::normal_distribution<float> normal(0.0f, 1e6f);
  for (const std::size_t length : {1u, 2u, 4u, 8u, 16u, 64u, 1024u, 16384u}) {
    std::vector<float2> spectrum(length);
    for (float2& bin : spectrum) bin = float2{normal(random), normal(random)};
    expectSameCell(spectrum, "random");
    expectSameCell(std::vector<float2>(length, float2{0.0f, 0.0f}), "all zero");
  }
  // Equal peaks in every combination of vector lanes and halves: the lower bin wins.
  const std::pair<std::size_t, std::size_t> pairs[] = {
      {1, 2},  {2, 1},   {5, 2},   {6, 3},   {0, 7},  {4, 12}, {9, 13},
      {3, 11}, {14, 15}, {30, 17}, {62, 63}, {5, 21}, {0, 32}, {40, 8}};
  for (const auto& [low, high] : pairs) {
    std::vector<float2> spectrum(64, float2{0.5f, 0.0f});
    spectrum[low] = float2{3.0f, 4.0f};
    spectrum[high] = float2{0.0f, 5.0f};
    spectrum[(low + high + 32) % 64] = float2{-4.0f, 3.0f};
    expectSameCell(spectrum, "equal peaks");
  }
}

}  // namespace
}  // namespace kestrav
