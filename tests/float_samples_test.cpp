// Float recordings (cf32) on the host: the same integer values as int16 or as float samples give
// bit-identical searches on the reference and host backends, and the element maps read fractional
// values exactly. (The fast paths on fractional values: coarse_search_test, fine_estimates_test.)
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "support/float_pairs.hpp"
#include "stages/coarse/coarse_search.hpp"
#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "stages/precise/precise_layout.hpp"
#include "stages/precise/precise_maps.hpp"
#include "stages/coarse/signal_maps.hpp"
#include "stages/fine/signal_maps_double.hpp"

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
  PrecisePrimitives& precisePrimitives() override { return *primitives_; }

 private:
  std::unique_ptr<PrecisePrimitives> primitives_ = makeHostPrecisePrimitives();
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
