// The refined best result on generated pairs: nanoseconds and millihertz from the truth.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/search.hpp"
#include "support/generated_pairs.hpp"
#include "support/test_files.hpp"

namespace kestrav {
namespace {

TEST(RefinementAccuracy, WithinThreeNanosecondsAndTwoMillihertz) {
  // Fractional delays and offsets between coarse bins; every recording spans half a second or
  // more, over which the frequency zoom's own floor stays below 2 mHz.
  const struct {
    double rate;
    int samples;
    double delayUs, offsetHz, snrDb;
  } cases[] = {
      {1000000, 1 << 19, 123.4567, -1234.5678, 30}, {2048000, 1 << 20, -45.6789, 4321.123, 20},
      {250000, 1 << 18, 432.1, 777.7, 25},          {500000, 1 << 19, -1000.25, -3333.33, 20},
      {1000000, 1 << 20, 7.77, 100.05, 40},         {2048000, 1 << 20, 300.0003, -6000.4321, 30},
  };
  testing::ScratchDirectory scratch;
  const std::string first = scratch.path("first.iq").string();
  const std::string second = scratch.path("second.iq").string();
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "fs " << c.rate << ", SNR " << c.snrDb << " dB");
    PairConfig config;
    config.sampleCount = c.samples;
    config.sampleRate = c.rate;
    config.emitters = {Emitter{c.delayUs * 1e-6, c.offsetHz, 0.0}};
    config.snrDb = c.snrDb;
    config.seed = 11;
    const testing::GeneratedPair pair = testing::generatedPair(config);
    testing::writeSamples(first, pair.first);
    testing::writeSamples(second, pair.second);

    SearchParameters parameters;
    parameters.sampleCount = c.samples;
    parameters.sampleRate = c.rate;
    parameters.delayWindow = std::ceil(2 * std::fabs(c.delayUs) + 64e6 / c.rate) * 1e-6;
    parameters.frequencySpan = 16384.0;
    parameters.peakThreshold = 15.0;
    parameters.refine = true;
    SearchOptions options;
    options.backend = BackendKind::Host;
    const SearchOutcome outcome =
        searchRecordings(first.c_str(), second.c_str(), parameters, options);
    ASSERT_FALSE(outcome.results.empty());
    EXPECT_NEAR(outcome.results[0].delay, c.delayUs * 1e-6, 3e-9);
    EXPECT_NEAR(outcome.results[0].frequencyOffset, c.offsetHz, 2e-3);
  }
}

}  // namespace
}  // namespace kestrav
