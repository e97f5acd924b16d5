// Float recordings (cf32) on the host: the same integer values as int16 or as float samples give
// bit-identical searches on the reference and host backends, and with fractional values beyond
// the int16 range the fast host paths still give the plain paths' results.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "support/float_pairs.hpp"
#include "tdc/coarse_lanes.hpp"
#include "tdc/coarse_row.hpp"
#include "tdc/coarse_search.hpp"
#include "tdc/fine_estimates.hpp"
#include "tdc/precise_layout.hpp"
#include "tdc/precise_maps.hpp"
#include "tdc/signal_maps.hpp"
#include "tdc/signal_maps_double.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

using testing::inFormat;

// The reference backend's reading of the samples (its coarse rows and its fine estimates over
// whole arrays) with the host's chirp-z zoom in place of the direct sum, which takes about a
// minute at this size. The zoom sees only run sums and spectra in double, whatever the samples.
class ReferenceReading final : public ComputeBackend {
 public:
  std::string_view name() const override { return "reference with the host's zoom"; }
  void coarseSearch(const CoarseRequest& request, std::span<LagCell> cells) override {
    coarseSearchReference(request, cells);
  }
  Refinement refine(const FineRequest& request) override { return refineOnHost(request, cztHost); }
};

TEST(FloatSamples, IntegerValuesGiveBitIdenticalSearches) {
  const auto [pair, parameters] = testing::twoEmitterSearch();
  ReferenceReading reference;
  const std::unique_ptr<ComputeBackend> host = makeHostBackend();
  for (ComputeBackend* backend : {static_cast<ComputeBackend*>(&reference), host.get()}) {
    SCOPED_TRACE(backend->name());
    const SearchOutcome ints =
        testing::searchInMemory(inFormat(pair.first, SampleFormat::Ci16),
                                inFormat(pair.second, SampleFormat::Ci16), parameters, *backend);
    // Both emitters found, refined and estimated precisely: nothing below compares empty results.
    ASSERT_GE(ints.candidates.size(), 2u);
    ASSERT_TRUE(ints.candidates[1].precise.has_value());
    EXPECT_NEAR(ints.candidates[0].delay, 45.678e-6, 1e-8);
    // Both recordings as floats, and int16 beside float (both then searched as floats).
    for (const auto& [firstFormat, secondFormat] :
         {std::pair{SampleFormat::Cf32, SampleFormat::Cf32},
          std::pair{SampleFormat::Ci16, SampleFormat::Cf32}}) {
      SCOPED_TRACE(firstFormat == SampleFormat::Cf32 ? "cf32 and cf32" : "ci16 and cf32");
      testing::expectBitIdentical(
          testing::searchInMemory(inFormat(pair.first, firstFormat),
                                  inFormat(pair.second, secondFormat), parameters, *backend),
          ints);
    }
  }
}

// Values no int16 holds: fractions, beyond 32767, and tiny.
std::vector<float2> fractionalSamples(int count, std::mt19937& random) {
  std::uniform_real_distribution<float> wide(-70000.0f, 70000.0f);
  std::uniform_real_distribution<float> tiny(-1e-3f, 1e-3f);
  std::vector<float2> samples(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = i % 5 == 4 ? float2{tiny(random), tiny(random)}
                            : float2{wide(random), wide(random)};
  }
  return samples;
}

TEST(FloatSamples, FractionalRowsAreBitIdenticalToTheReference) {
  const struct {
    const char* name;
    int sampleCount;
    double sampleRate;
    int lagCount;
  } shapes[] = {
      {"D = 1, lags not a multiple of the lanes", 1003, 20000.0, 37},
      {"D = 3 over several converted chunks", 9001, 49152.0, 20},
      {"D = 125, a full group of 32 and one lag more", 100003, 2048000.0, 33},
      {"D = 200: a tree taller than the registers hold", 20000, 200 * 16384.0, 17},
  };
  std::mt19937 random(61);
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.name);
    const std::vector<float2> first = fractionalSamples(shape.sampleCount, random);
    const std::vector<float2> second =
        fractionalSamples(shape.sampleCount + shape.lagCount, random);
    CoarseRequest request;
    request.firstFloat = first;
    request.secondFloat = second;
    request.sampleCount = shape.sampleCount;
    request.lagCount = shape.lagCount;
    request.sampleRate = shape.sampleRate;
    request.frequencySpan = 16384.0;
    const CoarseSizes sizes =
        deriveCoarseSizes(shape.sampleCount, shape.sampleRate, shape.lagCount, 16384.0);
    const std::size_t L = sizes.fftLength;
    std::vector<float2> products(static_cast<std::size_t>(shape.sampleCount));
    std::vector<std::vector<float2>> expected(static_cast<std::size_t>(shape.lagCount));
    std::vector<float2> row(L), rowScratch(static_cast<std::size_t>(sizes.decimation));
    for (int lag = 0; lag < shape.lagCount; ++lag) {
      expected[lag].resize(L);
      formDecimatedRowReference(request, sizes, lag, products, expected[lag]);
      formDecimatedRows(request, sizes, lag, 1, row, rowScratch);
      ASSERT_EQ(std::memcmp(row.data(), expected[lag].data(), L * sizeof(float2)), 0)
          << "lag " << lag;
    }
    std::vector<float> laneScratch(laneScratchFloats(sizes.decimation));
    for (const InstructionSet set : {InstructionSet::Avx2, InstructionSet::Avx512}) {
      if (!instructionSetAvailable(set)) continue;
      const int lanes = lagsPerLaneGroup(set);
      std::vector<float2> rows(static_cast<std::size_t>(lanes) * L);
      for (int firstLag = 0; firstLag < shape.lagCount; firstLag += lanes) {
        const int rowCount = std::min(lanes, shape.lagCount - firstLag);
        formLaneGroupRows(set, request, sizes, firstLag, rowCount, rows.data(), L, laneScratch);
        for (int r = 0; r < rowCount; ++r) {
          ASSERT_EQ(std::memcmp(rows.data() + r * L, expected[firstLag + r].data(),
                                L * sizeof(float2)),
                    0)
              << "lag " << firstLag + r << ", " << lanes << " lanes";
        }
      }
    }
  }
}

TEST(FloatSamples, FractionalRefinementAsThePlainHostPath) {
  // Zooms of one block each, where the streamed zoom is the plain host path's bit for bit.
  const struct {
    const char* name;
    bool frequency;
    int n;
    double fs, delay, offsetHz, candidateHz;
  } cases[] = {
      {"frequency", true, 4096, 100.0, 0.0, 0.011, 0.0},
      {"delay", false, 262144, 2.048e6, 2.1e-7, -3000.0, -2999.5},
  };
  std::uint64_t seed = 70;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PairConfig config;
    config.sampleCount = c.n;
    config.sampleRate = c.fs;
    config.emitters = {Emitter{c.delay, c.offsetHz, 0.0}};
    config.seed = ++seed;
    const ComplexPair pair = generatePair(config);
    const double scale = fullScale(pair, 32767.0);
    const std::vector<float2> first = testing::scaledFloats(pair.first, scale);
    const std::vector<float2> second = testing::scaledFloats(pair.second, scale);
    FineRequest request;
    request.firstFloat = first.data();
    request.secondFloat = second.data();
    request.sampleCount = c.n;
    request.sampleRate = c.fs;
    request.frequencyOffset = c.candidateHz;
    request.traceHalfWidth = 4;
    const FineEstimate plain = c.frequency ? estimateFineFrequency(request, cztHost)
                                           : estimateFineDelay(request, cztHost);
    const FineEstimate streamed = c.frequency ? estimateFineFrequencyStreamed(request)
                                              : estimateFineDelayStreamed(request);
    ASSERT_GT(plain.zoomPoints, 400);
    EXPECT_EQ(streamed.zoomIndex, plain.zoomIndex);
    EXPECT_EQ(streamed.correction, plain.correction);
    EXPECT_EQ(streamed.trace, plain.trace);
    // The generated truth, within a grid step and a little.
    if (c.frequency) {
      EXPECT_NEAR(c.candidateHz + plain.correction, c.offsetHz, 2e-4);
    } else {
      EXPECT_NEAR(plain.correction, c.delay, 2e-9);
    }
  }
}

// The element maps read a float sample as the value itself: with dyadic values every product
// below is exact, so a truncated or rescaled sample shows.
TEST(FloatSamples, MapsReadFractionalValuesExactly) {
  const float2 s{0.375f, -1234.5625f};
  EXPECT_EQ(toFloat2(s).x, 0.375f);
  EXPECT_EQ(toFloat2(s).y, -1234.5625f);
  const double2 wide = toDouble2(s);
  EXPECT_EQ(wide.x, 0.375);
  EXPECT_EQ(wide.y, -1234.5625);
  // conj(0.375 - 1234.5625j) (2 - 0.5j)
  const double2 product = conjugateProduct(s, double2{2.0, -0.5});
  EXPECT_EQ(product.x, 618.03125);
  EXPECT_EQ(product.y, 2468.9375);
  const double2 unshifted = shiftFrequency(s, 7, 0.0);
  EXPECT_EQ(unshifted.x, 0.375);
  EXPECT_EQ(unshifted.y, -1234.5625);
  const double2 quarter = shiftFrequency(s, 0, std::numbers::pi / 2);  // times j
  EXPECT_NEAR(quarter.x, 1234.5625, 1e-12);
  EXPECT_NEAR(quarter.y, 0.375, 1e-12);

  // Sample 2000 of 4096 lies inside block 0, clear of the tapered ends.
  const PreciseLayout layout = planPreciseLayout(4096);
  std::vector<float2> segment(4096, float2{0.0f, 0.0f});
  segment[2000] = s;
  const int position = 2000 + layout.margin;
  for (const double2 v : {firstFrameValue(segment.data(), layout, 0, position),
                          secondFrameValue(segment.data(), 0, 0, layout, 0, position, 0.0)}) {
    EXPECT_EQ(v.x, 0.375);
    EXPECT_EQ(v.y, -1234.5625);
  }
}

}  // namespace
}  // namespace kestrav
