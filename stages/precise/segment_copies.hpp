#pragma once
// Copies of one candidate's segments that the precise estimate may clean before it reads them:
// the first segment, and the second with the margins its frames read.
#include <vector>

#include "platform/host/vector_types.hpp"
#include "stages/precise/precise_layout.hpp"
#include "stages/precise/precise_segments.hpp"

namespace kestrav {

struct SegmentCopies {
  std::vector<float2> first;
  std::vector<float2> second;  // second[before] is the segment's sample 0
  int before = 0;
  int after = 0;
  bool empty() const { return first.empty(); }
  PreciseSegments segments() const;
};

// The samples the layout's frames read, as single-precision copies.
SegmentCopies copySegments(const PreciseSegments& segments, const PreciseLayout& layout);

}  // namespace kestrav
