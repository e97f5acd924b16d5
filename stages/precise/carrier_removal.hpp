#pragma once
// Carriers that one recording holds and the other lacks, taken out of a copy of the segments
// before the precise estimate reads them. A carrier tens of decibels above the noise leaks
// through the frames' edges into every bin of the cross-spectrum, where no band weight can
// reach it; fitted over the whole segment and subtracted, it leaves the noise it sat on.
#include <span>
#include <vector>

#include "platform/host/vector_types.hpp"
#include "stages/precise/precise_layout.hpp"
#include "stages/precise/precise_segments.hpp"
#include "stages/precise/segment_copies.hpp"

namespace kestrav {

struct CarrierFreeSegments : SegmentCopies {
  int removed = 0;  // carriers taken out; with none the copies stay empty
};

// firstPower and secondPower hold each recording's |X|^2 over the layout's windowed frames
// (real parts, transform order). A bin is a carrier's when its power stands far above its
// neighbourhood in one recording and, `shiftBins` on (the offset between them), not in the other.
CarrierFreeSegments removeCarriers(const PreciseSegments& segments, const PreciseLayout& layout,
                                   std::span<const double2> firstPower,
                                   std::span<const double2> secondPower, int shiftBins);

}  // namespace kestrav
