// The generated pairs carry the powers they are configured with.
#include <gtest/gtest.h>

#include <complex>

#include "tools/synthetic_pair.hpp"

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

}  // namespace
}  // namespace kestrav
