// The refined best result on generated pairs: nanoseconds and millihertz from the truth.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "engine/search.hpp"
#include "support/test_files.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

struct AccuracyCase {
  double rate;
  int samples;
  double delayUs;
  double offsetHz;
  double snrDb;
};

// Stein's bound for two receivers of equal SNR over a flat band of 0.6 fs.
struct Bound {
  double delay;
  double frequency;
};
Bound steinBound(const AccuracyCase& c) {
  const double snr = std::pow(10.0, c.snrDb / 10.0);
  const double gamma = snr * snr / (2.0 * snr + 1.0);
  const double bandwidth = 0.6 * c.rate;
  const double duration = c.samples / c.rate;
  const double root = std::sqrt(bandwidth * duration * gamma);
  return {0.551 / (bandwidth * root), 0.551 / (duration * root)};
}

TEST(RefinementAccuracy, WithinThreeNanosecondsAndTwoMillihertz) {
  // Fractional delays and offsets between coarse bins; every recording spans half a second or
  // more, over which the frequency zoom's own floor stays below 2 mHz.
  const AccuracyCase cases[] = {
      {1000000, 1 << 19, 123.4567, -1234.5678, 30},
      {2048000, 1 << 20, -45.6789, 4321.123, 20},
      {250000, 1 << 18, 432.1, 777.7, 25},
      {500000, 1 << 19, -1000.25, -3333.33, 20},
      {1000000, 1 << 20, 7.77, 100.05, 40},
      {2048000, 1 << 20, 300.0003, -6000.4321, 30},
  };
  testing::ScratchDirectory scratch;
  const std::string first = scratch.path("first.iq").string();
  const std::string second = scratch.path("second.iq").string();
  for (const AccuracyCase& c : cases) {
    PairConfig config;
    config.sampleCount = c.samples;
    config.sampleRate = c.rate;
    config.emitters = {Emitter{c.delayUs * 1e-6, c.offsetHz, 0.0}};
    config.snrDb = c.snrDb;
    config.seed = 11;
    const SamplePairInt16 pair = quantizePair(generatePair(config));
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
    const double delayError = outcome.results[0].delay - c.delayUs * 1e-6;
    const double frequencyError = outcome.results[0].frequencyOffset - c.offsetHz;
    const Bound bound = steinBound(c);
    std::printf("fs %8.0f Hz  N %7d  SNR %2.0f dB  delay error %+6.3f ns (bound %.3f)  "
                "frequency error %+6.3f mHz (bound %.3f)\n",
                c.rate, c.samples, c.snrDb, delayError * 1e9, bound.delay * 1e9,
                frequencyError * 1e3, bound.frequency * 1e3);
    EXPECT_LE(std::fabs(delayError), 3e-9) << c.rate;
    EXPECT_LE(std::fabs(frequencyError), 2e-3) << c.rate;
  }
}

}  // namespace
}  // namespace kestrav
