#pragma once
// Stein's standard deviations of a delay and a frequency offset measured by correlating two
// recordings. With a flat band of width B, a duration T and a post-integration SNR s (the
// correlation peak's power over its noise power):
//   sigma_delay = sqrt(12) / (2 pi B sqrt(2 s)),  sigma_frequency = sqrt(12) / (2 pi T sqrt(2 s)),
// sqrt(12) / (2 pi) = 0.551. A complex correlation splits its noise over two quadratures, of
// which only one moves the peak: hence 2 s. Other spectra and windows enter through their flat
// equivalents, sqrt(12) times the rms bandwidth or duration.
#include <cmath>
#include <numbers>

namespace kestrav {

inline double steinSigma(double flatWidth, double postIntegrationSnr) {
  return std::sqrt(12.0) /
         (2.0 * std::numbers::pi * flatWidth * std::sqrt(2.0 * postIntegrationSnr));
}

inline double flatWidthOfRms(double rmsWidth) { return std::sqrt(12.0) * rmsWidth; }

// The effective SNR of two channels: 1 / gamma = 1 / snr1 + 1 / snr2 + 1 / (snr1 snr2).
inline double effectiveSnr(double snr1, double snr2) {
  return 1.0 / (1.0 / snr1 + 1.0 / snr2 + 1.0 / (snr1 * snr2));
}

// The bound for a signal of flat band B hertz over T seconds seen at the in-band SNRs snr1 and
// snr2 (signal over noise within the band): the post-integration SNR is B T gamma.
struct SteinBound {
  double delay;      // seconds
  double frequency;  // hertz
};
inline SteinBound steinBound(double bandwidth, double duration, double snr1, double snr2) {
  const double snr = bandwidth * duration * effectiveSnr(snr1, snr2);
  return {steinSigma(bandwidth, snr), steinSigma(duration, snr)};
}

}  // namespace kestrav
