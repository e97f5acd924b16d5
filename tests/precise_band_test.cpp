// The band the precise estimate weights its correlation to, measured from a cross-spectrum, and
// Stein's deviations that it reports.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "tdc/band_weight.hpp"
#include "tdc/stein.hpp"

namespace kestrav {
namespace {

// A cross-spectrum of `length` bins: cross power `signal` within |f| < halfBand, complex noise of
// unit power per bin everywhere, the second segment `delay` samples late, under a common phase.
std::vector<double2> crossSpectrum(int length, double halfBand, double signal, double delay,
                                   unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, std::sqrt(0.5));
  std::vector<double2> spectrum(static_cast<std::size_t>(length));
  for (int k = 0; k < length; ++k) {
    const double f = (2 * k < length ? k : k - length) / static_cast<double>(length);
    const double s = std::fabs(f) < halfBand ? signal : 0.0;
    const double phase = 0.7 - 2.0 * std::numbers::pi * f * delay;
    const double x = s + noise(random);
    const double y = noise(random);
    spectrum[k] = double2{x * std::cos(phase) - y * std::sin(phase),
                          x * std::sin(phase) + y * std::cos(phase)};
  }
  return spectrum;
}

TEST(MeasureBand, KeepsTheSignalsBandAndItsWidth) {
  struct Case {
    double halfBand;
    double signal;  // per-bin cross power over the noise
    double delay;   // samples
    double spread;  // how far the weight may stray from flat within the band: noise in S and Q
  };
  // Strong and barely detectable signals; narrower bands; delays the spectrum is turned by.
  const Case cases[] = {
      {0.3, 100.0, 0.37, 0.05}, {0.3, 0.15, -0.2, 0.3}, {0.2, 5.0, 0.0, 0.05}, {0.41, 1.0, 1.3, 0.1}};
  const int length = 65536;
  for (const Case& c : cases) {
    const BandProfile band =
        measureBand(crossSpectrum(length, c.halfBand, c.signal, c.delay, 3), c.delay, 32);
    // Weight across the middle of the band, none well outside it.
    for (int k = 0; k < length; ++k) {
      const double f = std::fabs((2 * k < length ? k : k - length) / double(length));
      if (f < c.halfBand - 2.0 / 32) {
        EXPECT_NEAR(band.rootWeight[k], 1.0, c.spread) << c.halfBand << " " << k;
      } else if (f > c.halfBand + 2.0 / 32) {
        EXPECT_EQ(band.rootWeight[k], 0.0) << c.halfBand << " " << k;
      }
    }
    // The rms width of a flat band of 2 halfBand, within the band's resolution.
    EXPECT_NEAR(band.rmsBandwidth, 2.0 * c.halfBand / std::sqrt(12.0), 0.02 * c.halfBand)
        << c.halfBand;
  }
}

TEST(MeasureBand, NoSignalKeepsNoBand) {
  const BandProfile band = measureBand(crossSpectrum(65536, 0.3, 0.0, 0.0, 4), 0.0, 32);
  EXPECT_EQ(band.bandsKept, 0);
  for (const double r : band.rootWeight) EXPECT_EQ(r, 0.0);
}

// The bound as tabled for generated pairs: fs 1 MHz, band 0.6 fs, N = 262144, in-band SNR of
// each receiver snr / 0.6.
TEST(SteinBound, ReproducesTheTabledBounds) {
  struct Case {
    double snrDb;
    double delayNs;
    double frequencyMHz;
  };
  const Case cases[] = {{30, 0.057, 0.13}, {10, 0.58, 1.32}, {-10, 11.4, 26}};
  for (const Case& c : cases) {
    const double snr = std::pow(10.0, c.snrDb / 10.0) / 0.6;
    const SteinBound bound = steinBound(0.6e6, 262144 / 1e6, snr, snr);
    EXPECT_NEAR(bound.delay * 1e9, c.delayNs, 0.01 * c.delayNs) << c.snrDb;
    EXPECT_NEAR(bound.frequency * 1e3, c.frequencyMHz, 0.02 * c.frequencyMHz) << c.snrDb;
  }
}

TEST(SteinBound, FlatWidthsAndTheEffectiveSnr) {
  // A flat band of width B has rms width B / sqrt(12); 0.551 / B at a post-integration SNR of 1/2.
  EXPECT_NEAR(steinSigma(flatWidthOfRms(1.0 / std::sqrt(12.0)), 0.5), 0.5513, 1e-4);
  // Equal channels: gamma = snr^2 / (2 snr + 1); one noiseless channel leaves the other's SNR.
  EXPECT_DOUBLE_EQ(effectiveSnr(10.0, 10.0), 100.0 / 21.0);
  EXPECT_NEAR(effectiveSnr(10.0, 1e12), 10.0, 1e-9);
}

}  // namespace
}  // namespace kestrav
