#pragma once
// Bands that one recording holds alone (a narrowband interferer, a neighbouring channel) turned
// down in a copy of that recording before the precise estimate reads it. The band weight alone
// cannot make such a band cost little: the estimate's frames are cut square, so a band tens of
// decibels over the noise leaks from their edges into bins far around it, where the weight,
// measured on windowed frames, does not see it. Filtered over the whole segment, where the band
// is as narrow as it really is, it leaves no leakage behind.
#include <span>
#include <vector>

#include "platform/host/vector_types.hpp"
#include "stages/precise/band_weight.hpp"
#include "stages/precise/precise_layout.hpp"
#include "stages/precise/segment_copies.hpp"

namespace kestrav {

// Where a recording holds a band at least this many times over what the other shows there, it
// is filtered; weaker excess leaks too little to matter and is left to the band weight.
inline constexpr double SuppressedExcess = 10.0;

struct SuppressedBands {
  // The segments as filtered, in copies of their own (a backend may hold the segments it was
  // given, which therefore never change under it). Empty when nothing was filtered.
  SegmentCopies copies;
  int recordings = 0;  // recordings filtered
  // Per bin of the cross-spectrum, how far it was turned down (1 / gain; 1 where untouched): such
  // bins hold what one recording held alone, and count as its excess from then on. Empty when
  // nothing was filtered.
  std::vector<double> depth;
};

// Each recording with a run of bins of `excess` (measureOneSidedExcess, in the cross-spectrum's
// bins; the second's own bin is k + shiftBins) at SuppressedExcess or more that its own power
// spectrum shows as a band (firstPower, secondPower: |X|^2 of windowed frames, each in its own
// bins, real parts) is multiplied, over its whole copy, by a gain of 1 / excess there (widened by
// a few bins on either side and eased in and out, linear between bins).
SuppressedBands suppressOneSidedBands(const PreciseSegments& segments, const PreciseLayout& layout,
                                      const OneSidedExcess& excess,
                                      std::span<const double2> firstPower,
                                      std::span<const double2> secondPower, int shiftBins);

}  // namespace kestrav
