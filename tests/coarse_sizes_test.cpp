// The sizes derived from a coarse request, and the frequency of a spectrum bin.
#include <gtest/gtest.h>

#include <cstdint>

#include "tdc/coarse_search.hpp"

namespace kestrav {
namespace {

constexpr double Span = 16384.0;

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
  const double rate = 16384.0;
  const std::pair<std::uint64_t, double> cases[] = {
      {0, 0.0}, {1, rate / 8}, {4, 4.0 / 8 * rate}, {5, -3.0 / 8 * rate}, {7, -1.0 / 8 * rate}};
  for (const auto& [index, frequency] : cases) {
    EXPECT_EQ(binFrequency(index, 8, rate), frequency) << "bin " << index;
  }
  EXPECT_EQ(binFrequency(0, 1, rate), 0.0);
}

}  // namespace
}  // namespace kestrav
