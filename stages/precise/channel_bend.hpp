#pragma once
// Whether the second recording's channel bends its power spectrum against the first's. A pure
// delay, with flat noise in each, leaves P2 = g P1 + c bin by bin across the band; paths closer
// than the lobe (|H|^2 = 1 + a^2 + 2a cos(w tau)) bend the gain g with frequency, to second
// order by -g a tau^2 / (1 + a)^2 per (radian per sample)^2, while they move the delay by
// a tau / (1 + a), whose square is at most that curvature.
#include <span>

#include "platform/host/vector_types.hpp"

namespace kestrav {

struct ChannelBend {
  bool measured = false;
  double curvature = 0.0;  // the gain's relative second-order term, samples^2
  double sigma = 0.0;      // its standard deviation
};

// firstPower and secondPower as measureExcess takes them (the second's bin k + shiftBins is the
// first's bin k); binRates in radians per sample. Only bins with weight (rootWeight > 0) and no
// excess (excess empty or 1) count.
ChannelBend measureChannelBend(std::span<const double2> firstPower,
                               std::span<const double2> secondPower, int shiftBins,
                               std::span<const double> rootWeight, std::span<const double> excess,
                               std::span<const double> binRates);

}  // namespace kestrav
