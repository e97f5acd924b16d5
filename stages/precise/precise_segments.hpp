#pragma once
// One candidate's segments as the precise estimate reads them, in host memory or, for the
// device's kernels, in device memory.
#include "platform/host/vector_types.hpp"

namespace kestrav {

// second[0 .. n - 1] is aligned with first[0 .. n - 1] at the candidate's integer lag, and
// second[-secondBefore .. n - 1 + secondAfter] may be read. From float recordings firstFloat and
// secondFloat take the place of first and second.
struct PreciseSegments {
  const short2* first = nullptr;
  const short2* second = nullptr;
  int secondBefore = 0;
  int secondAfter = 0;
  const float2* firstFloat = nullptr;
  const float2* secondFloat = nullptr;

  bool holdsFloats() const { return firstFloat != nullptr || secondFloat != nullptr; }
};

}  // namespace kestrav
