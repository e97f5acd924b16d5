#pragma once
// Bluestein's chirp-z transform on the GPU, in double precision: x and out are device arrays of
// N and M points, with the definition of czt.hpp. Every allocation, transform and release is a
// checked site of the label "czt"; a failure ends the process. Throws ResourceError when the
// transform length leaves the 32-bit range of the launches and plans.
#include "platform/host/vector_types.hpp"

namespace kestrav {

void cztCuda(const double2* x, int N, double2* out, int M, double step, double start);

}  // namespace kestrav
