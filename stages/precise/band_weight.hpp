#pragma once
// The signal's band as the data show it, in the manner of a generalised cross-correlation: the
// cross-spectrum, turned to the fitted delay and common phase, is split into bands; per band the
// in-phase mean is the signal's cross power S and the quadrature variance the noise Q that moves
// the peak. The maximum-likelihood weight S / 2Q keeps the bands where the signal is and drops
// the rest.
#include <span>
#include <vector>

#include "platform/host/vector_types.hpp"

namespace kestrav {

inline constexpr int PreciseBandCount = 32;

struct BandProfile {
  // Per bin of the spectrum (transform order): the square root of the weight, linear between
  // band centres and 0 at the Nyquist bin, scaled so that its largest value is 1. All 0 when no
  // band holds a significant signal.
  std::vector<double> rootWeight;
  // Per bin, the bands' cross power (in-phase mean), interpolated as the weight is: the shape of
  // one path's cross-spectrum.
  std::vector<double> crossPower;
  double rmsBandwidth = 0.0;  // cycles per sample, of the weighted in-phase power about its centre
  int bandsKept = 0;
};

// `spectrum` holds conj(X1) X2 per bin in transform order (frameLength bins), from windowed
// frames (no leakage: the bands outside the signal's hold noise alone); the second segment's
// signal lags by delaySamples. bandCount divides the frame length. `excess`, when not empty,
// holds per bin how much more noise than its neighbourhood the bin carries (measureExcess):
// the bands' noise is measured with it divided out, and each bin's weight divided by it.
BandProfile measureBand(std::span<const double2> spectrum, double delaySamples, int bandCount,
                        std::span<const double> excess = {});

// One recording's power, lightly smoothed, over the larger median of its neighbours on either
// side, bin by bin; `shift` moves the spectrum's bin k + shift to k.
std::vector<double> powerRatio(std::span<const double2> power, int shift);

// What one recording holds that the other does not, bin by bin: a carrier or a narrow band in
// either recording alone adds to its own power spectrum only, and to the noise of the cross
// spectrum in those bins. firstPower and secondPower hold |X1|^2 and |X2|^2 summed over
// `blocks` windowed frames (real parts), in transform order; the second's bin k + shiftBins is
// the cross-spectrum's bin k. The excess is the quotient of the two recordings' powerRatio, the
// larger way up, where it stands clearly above what the noise of the estimate allows, and 1
// elsewhere.
std::vector<double> measureExcess(std::span<const double2> firstPower,
                                  std::span<const double2> secondPower, int shiftBins, int blocks);

// The same, each way apart: per bin of the cross-spectrum, how much more the first (second)
// recording holds than the other where that stands clear, 1 elsewhere.
struct OneSidedExcess {
  std::vector<double> first;
  std::vector<double> second;
};
OneSidedExcess measureOneSidedExcess(std::span<const double2> firstPower,
                                     std::span<const double2> secondPower, int shiftBins,
                                     int blocks);

}  // namespace kestrav
