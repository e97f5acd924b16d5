// Two copies of one emission measured against each other: the other's sidelobes taken out of
// each, the copies' peaks found between lags and read at their height, and the pairs that
// cannot be separated refused.
#include "engine/copy_measures.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "tools/modulated_pair.hpp"

namespace kestrav {
namespace {

constexpr int Samples = 65536;
constexpr int Lags = 64;
constexpr double Rate = 1.0e6;

// Lag k stands for a delay of k samples: the second segment holds Lags more samples.
SamplePair pairOf(const ModulatedEmitter& emitter) {
  ModulatedPairConfig config;
  config.sampleCount = Samples + Lags;
  config.emitters = {emitter};
  config.snrDb = 30.0;
  const ComplexPair generated = generateModulatedPair(config);
  SamplePair pair;
  pair.floatSamples = true;
  for (int i = 0; i < Samples + Lags; ++i) {
    const auto at = static_cast<std::size_t>(i);
    const auto sample = [](std::complex<double> v) {
      return float2{static_cast<float>(v.real()), static_cast<float>(v.imag())};
    };
    if (i < Samples) pair.firstFloat.push_back(sample(generated.first[at]));
    pair.secondFloat.push_back(sample(generated.second[at]));
  }
  return pair;
}

std::optional<CopyMeasures> measure(const SamplePair& pair, int strong, int copy, bool inFirst) {
  const ProbeContext context{pair, Samples, LagWindow{Lags / 2, Lags, 0}, CoarseSizes{}, Rate};
  return measureCopies(context, strong, copy, 900.0, inFirst, 1.0);
}

TEST(CopyMeasures, EachCopyIsReadWithoutTheOthersSidelobes) {
  struct Case {
    const char* name;
    Waveform waveform;
    double symbolRate;
    double secondEcho;  // microseconds after the direct path (20 us), at the second receiver
    double firstEcho;   // ... at the first
    int copyLag;        // where the copy's coarse peak was picked
    double delay;       // microseconds, the copy's less the direct path's
  };
  // At 125 kBd the direct path's sidelobe at 12.4 us is -16 dB: left in, it reads the echo
  // near -8 dB and pulls its peak to 14 lags; the search's lag 34 is such a pulled peak.
  const Case cases[] = {{"second, wide lobe", Waveform::Psk, 125.0e3, 12.4, 0.0, 34, 12.4},
                        {"first, wide lobe", Waveform::Psk, 125.0e3, 0.0, 12.4, 8, -12.4},
                        {"second, lobe of a lag", Waveform::Ofdm, 0.0, 12.4, 0.0, 32, 12.4},
                        {"first, lobe of a lag", Waveform::Ofdm, 0.0, 0.0, 12.4, 8, -12.4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModulatedEmitter e{c.waveform, 20.0e-6, 900.0, 0.0, c.symbolRate};
    e.echoDelay = c.secondEcho * 1e-6;
    e.echoPowerDb = -6.0;
    e.firstEchoDelay = c.firstEcho * 1e-6;
    e.firstEchoPowerDb = -6.0;
    const std::optional<CopyMeasures> measured =
        measure(pairOf(e), 20, c.copyLag, c.firstEcho > 0.0);
    ASSERT_TRUE(measured.has_value());
    EXPECT_NEAR(20.0 * std::log10(measured->copyStrength / measured->strongStrength), -6.0, 0.5);
    EXPECT_NEAR(measured->delay * 1e6, c.delay, 0.1);
  }
}

TEST(CopyMeasures, CopiesThatCannotBeSeparatedAreRefused) {
  ModulatedEmitter e{Waveform::Psk, 20.0e-6, 900.0, 0.0, 62.5e3};
  e.echoDelay = 30.0e-6;
  e.echoPowerDb = -6.0;
  const SamplePair pair = pairOf(e);
  // Two lags apart in a lobe of sixteen: alike enough to be one.
  EXPECT_FALSE(measure(pair, 20, 22, false).has_value());
  // The neighbours either side of a copy must lie in the window.
  EXPECT_FALSE(measure(pair, 1, 31, false).has_value());
  EXPECT_FALSE(measure(pair, 20, Lags - 2, false).has_value());
  EXPECT_TRUE(measure(pair, 20, 50, false).has_value());
}

}  // namespace
}  // namespace kestrav
