// The precise estimate against the truth of generated pairs: noiseless, to a hundredth of a
// nanosecond and of a millihertz; noisy, within a few of its own deviations, which stay near
// Stein's bound.
#include "tdc/precise_estimate.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tdc/fine_estimates.hpp"
#include "tdc/stein.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

constexpr double SampleRate = 1e6;
constexpr int Extra = 128;  // samples generated beyond the segments on each side
constexpr int Lag = 5;      // the candidate's integer lag, in samples

struct PairCase {
  int samples;
  double fraction;  // of a sample, added to the lag
  double offsetHz;
  double snrDb;
  unsigned seed;
};

struct Outcome {
  PreciseEstimate precise;
  double delayError;      // seconds
  double frequencyError;  // hertz
};

// A generated pair cut as the loader cuts it, refined as the driver refines it, then estimated
// precisely with the margins the recording offers (or none).
Outcome estimate(const PairCase& c, bool margins = true, bool traces = true) {
  PairConfig config;
  config.sampleCount = c.samples + 2 * Extra;
  config.sampleRate = SampleRate;
  const double delay = (Lag + c.fraction) / SampleRate;
  config.emitters = {Emitter{delay, c.offsetHz, 0.0}};
  config.snrDb = c.snrDb;
  config.seed = c.seed;
  const SamplePairInt16 pair = quantizePair(generatePair(config));
  const short2* first = pair.first.data() + Extra;
  const short2* second = pair.second.data() + Extra + Lag;

  // A coarse offset a fraction of a coarse bin off, as the search leaves it.
  const double coarseHz = c.offsetHz + 0.8;
  FineRequest fine{first, second, c.samples, SampleRate, coarseHz};
  fine.traceHalfWidth = traces ? 3 : 0;
  const Refinement refinement = refineOnHost(fine, cztHost);

  PreciseRequest request;
  request.first = first;
  request.sampleCount = c.samples;
  request.second = second;
  request.secondBefore = margins ? Extra + Lag : 0;
  request.secondAfter = margins ? Extra - Lag : 0;
  request.sampleRate = SampleRate;
  request.lagDelay = Lag / SampleRate;
  request.delay = request.lagDelay + refinement.delay.correction;
  request.frequencyOffset = coarseHz + refinement.frequency.correction;
  request.refinement = refinement;
  const auto primitives = makeHostPrecisePrimitives();
  const PreciseEstimate precise = estimatePrecisely(request, *primitives);
  return {precise, precise.delay - delay, precise.frequencyOffset - c.offsetHz};
}

TEST(PreciseEstimate, NoiselessPairLandsWithinAHundredthOfANanosecondAndMillihertz) {
  const PairCase cases[] = {{262144, 0.37, -1234.5678, 300.0, 21}, {262144, 0.0, 777.7, 300.0, 22}};
  for (const PairCase& c : cases) {
    const Outcome outcome = estimate(c);
    EXPECT_TRUE(outcome.precise.converged);
    EXPECT_LT(std::fabs(outcome.delayError), 0.01e-9) << c.fraction;
    EXPECT_LT(std::fabs(outcome.frequencyError), 0.01e-3) << c.fraction;
  }
}

TEST(PreciseEstimate, NoisyPairsLandWithinFourDeviationsNearTheBound) {
  // Seeded pairs from strong to weak; one without margins beyond the segment, one without the
  // zooms' traces to start from.
  struct NoisyCase {
    PairCase pair;
    bool margins;
    bool traces;
  };
  const NoisyCase cases[] = {{{65536, 0.25, 2500.25, 30.0, 31}, true, true},
                             {{65536, 0.1, -321.0, 0.0, 32}, true, true},
                             {{131072, 0.5, 40.0, -10.0, 33}, true, true},
                             {{65536, 0.4, 1000.0, 10.0, 34}, false, true},
                             {{65536, 0.3, -50.5, 10.0, 35}, true, false}};
  for (const NoisyCase& c : cases) {
    const Outcome outcome = estimate(c.pair, c.margins, c.traces);
    const PreciseEstimate& p = outcome.precise;
    EXPECT_TRUE(p.converged) << c.pair.seed;
    EXPECT_LT(std::fabs(outcome.delayError), 4.0 * p.sigmaDelay) << c.pair.seed;
    EXPECT_LT(std::fabs(outcome.frequencyError), 4.0 * p.sigmaFrequency) << c.pair.seed;
    // The reported deviations against the bound of the generated signal: in-band SNR snr / 0.6.
    const double snr = std::pow(10.0, c.pair.snrDb / 10.0) / 0.6;
    const SteinBound bound = steinBound(0.6 * SampleRate, c.pair.samples / SampleRate, snr, snr);
    EXPECT_NEAR(p.sigmaDelay / bound.delay, 1.0, 0.15) << c.pair.seed;
    EXPECT_NEAR(p.sigmaFrequency / bound.frequency, 1.0, 0.15) << c.pair.seed;
    EXPECT_NEAR(p.effectiveBandwidthHz, 0.6 * SampleRate, 0.05 * 0.6 * SampleRate);
    EXPECT_NEAR(p.effectiveDurationS, c.pair.samples / SampleRate, 0.01 * c.pair.samples / SampleRate);
  }
}

TEST(PreciseEstimate, TooFewSamplesOrNoSignalKeepTheRefinedValues) {
  const short2 zeros[4096] = {};
  PreciseRequest request;
  request.first = zeros;
  request.second = zeros;
  request.sampleRate = SampleRate;
  request.delay = 3.25e-6;
  request.lagDelay = 3e-6;
  request.frequencyOffset = 12.5;
  const auto primitives = makeHostPrecisePrimitives();
  for (const int n : {MinPreciseSamples - 1, 4096}) {
    request.sampleCount = n;
    const PreciseEstimate p = estimatePrecisely(request, *primitives);
    EXPECT_EQ(p.delay, request.delay) << n;
    EXPECT_EQ(p.frequencyOffset, request.frequencyOffset) << n;
    EXPECT_EQ(p.sigmaDelay, std::numeric_limits<double>::infinity()) << n;
    EXPECT_EQ(p.sigmaFrequency, std::numeric_limits<double>::infinity()) << n;
    EXPECT_FALSE(p.converged) << n;
  }
}

}  // namespace
}  // namespace kestrav
