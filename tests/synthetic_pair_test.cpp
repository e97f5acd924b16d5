// The generated pairs carry the powers they are configured with.
#include "tools/synthetic_pair.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

namespace kestrav {
namespace {

double meanPower(const std::vector<std::complex<double>>& recording) {
  double sum = 0.0;
  for (const auto& sample : recording) sum += std::norm(sample);
  return sum / static_cast<double>(recording.size());
}

TEST(GeneratePair, SignalPowerIsTheEmitterPowerAtEveryLength) {
  const struct {
    int sampleCount;
    double powerDb;
  } cases[] = {{1000, 0.0}, {100000, 0.0}, {100000, -10.0}};
  for (const auto& c : cases) {
    PairConfig config;
    config.sampleCount = c.sampleCount;
    config.emitters = {Emitter{1.0e-5, 100.0, c.powerDb}};
    config.snrDb = 200.0;  // noise far below the signal
    config.seed = 5;
    const ComplexPair pair = generatePair(config);
    const double expected = std::pow(10.0, c.powerDb / 10.0);
    EXPECT_NEAR(meanPower(pair.first), expected, 0.1 * expected) << "N = " << c.sampleCount;
    EXPECT_NEAR(meanPower(pair.second), expected, 0.1 * expected) << "N = " << c.sampleCount;
  }
}

// A noiseless pair of one emitter at 1 MHz over 0.6 of the band, with the given second channel.
ComplexPair cleanPair(double delay, const SecondChannel& channel,
                      std::vector<Interferer> added = {}) {
  PairConfig config;
  config.sampleCount = 8192;
  config.emitters = {Emitter{delay, 250.0, 0.0}};
  config.snrDb = 300.0;
  config.seed = 9;
  config.channel = channel;
  config.interferers = std::move(added);
  return generatePair(config);
}

double worstDifference(const std::vector<std::complex<double>>& a,
                       const std::vector<std::complex<double>>& b, std::size_t from,
                       std::size_t to) {
  double worst = 0.0;
  for (std::size_t i = from; i < to; ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

TEST(GeneratePair, ADriftingDelayReadsTheWaveformAtTheDelayOfEachInstant) {
  // With the delay drifting, the second recording near sample i is the constant-delay one at
  // the delay of that instant; the first recording does not change.
  const double delay = 3.3e-6, rate = 20e-6, fs = 1e6;
  const double middle = 0.5 * (8192 - 1) / fs;
  const ComplexPair drifting = cleanPair(delay, SecondChannel{rate, 0.0, {}});
  for (const std::size_t at : {std::size_t{100}, std::size_t{4096}, std::size_t{8000}}) {
    const double local = delay + rate * (static_cast<double>(at) / fs - middle);
    const ComplexPair fixed = cleanPair(local, SecondChannel{});
    EXPECT_LT(worstDifference(drifting.second, fixed.second, at, at + 1), 2e-3) << at;
    EXPECT_LT(worstDifference(drifting.first, fixed.first, 0, 8192), 1e-9) << at;
    // A sample a thousand away has drifted by 0.02 samples: visibly another delay.
    EXPECT_GT(worstDifference(drifting.second, fixed.second, at > 4000 ? at - 1000 : at + 1000,
                              at > 4000 ? at - 990 : at + 1010),
              5e-3)
        << at;
  }
}

TEST(GeneratePair, EchoesAndInterferersLandInTheirRecordingOnly) {
  const double delay = 2.0e-6;
  const ComplexPair direct = cleanPair(delay, SecondChannel{});
  const ComplexPair later = cleanPair(delay + 7.5e-6, SecondChannel{});
  const ComplexPair echoed = cleanPair(delay, SecondChannel{0.0, 0.0, {Echo{7.5e-6, -6.0}}});
  const double gain = std::pow(10.0, -6.0 / 20.0);
  double worst = 0.0;
  for (std::size_t i = 0; i < 8192; ++i) {
    worst = std::max(worst, std::abs(echoed.second[i] - direct.second[i] - gain * later.second[i]));
  }
  EXPECT_LT(worst, 1e-9);
  EXPECT_LT(worstDifference(echoed.first, direct.first, 0, 8192), 1e-9);

  const struct {
    Interferer interferer;
    double power, tolerance;  // a narrow band of 41 random bins strays from its mean power
  } cases[] = {{{1, 100e3, 10.0, 0.0}, 10.0, 0.01},
               {{2, -40e3, 0.0, 0.0}, 1.0, 0.01},
               {{2, 20e3, 6.0, 5e3}, 3.98, 0.3}};
  for (const auto& c : cases) {
    const ComplexPair pair = cleanPair(delay, SecondChannel{}, {c.interferer});
    const auto& hit = c.interferer.recording == 1 ? pair.first : pair.second;
    const auto& spared = c.interferer.recording == 1 ? pair.second : pair.first;
    const auto& original = c.interferer.recording == 1 ? direct.first : direct.second;
    std::vector<std::complex<double>> added(hit.size());
    for (std::size_t i = 0; i < hit.size(); ++i) added[i] = hit[i] - original[i];
    EXPECT_NEAR(meanPower(added), c.power, c.tolerance * c.power) << c.interferer.frequency;
    EXPECT_LT(worstDifference(spared, c.interferer.recording == 1 ? direct.second : direct.first, 0,
                              8192),
              1e-9);
  }
}

}  // namespace
}  // namespace kestrav
