#pragma once
// One candidate's segments as the precise estimate reads them, in host memory or, for the
// device's kernels, in device memory.
#include "platform/host/sample_segments.hpp"

namespace kestrav {

// second[0 .. n - 1] of samples is aligned with first[0 .. n - 1] at the candidate's integer
// lag, and second[-secondBefore .. n - 1 + secondAfter] may be read.
struct PreciseSegments {
  SegmentPointers samples;
  int secondBefore = 0;
  int secondAfter = 0;
};

}  // namespace kestrav
