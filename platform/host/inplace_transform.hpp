#pragma once
// In-place FFTW transforms of double2 arrays, planned under the planner lock. double2 has the
// layout of fftw_complex (real part first).
#include <fftw3.h>

#include <cstdint>

#include "platform/host/fftw_plans.hpp"
#include "platform/host/vector_types.hpp"

namespace kestrav {

// `count` unnormalised transforms of `length` points each, laid end to end from `data`; sign
// FFTW_FORWARD (e^{-j}) or FFTW_BACKWARD. The plan does not touch the array. Throws
// ResourceError when FFTW cannot plan them.
FftwPlan planInPlaceTransforms(double2* data, std::int64_t length, std::int64_t count, int sign);

// Runs the plan in place on `data`, which must be laid out and aligned like the planned array
// (both from makeFftwArray).
inline void transformInPlace(const FftwPlan& plan, double2* data) {
  auto* complex = reinterpret_cast<fftw_complex*>(data);
  fftw_execute_dft(plan.get(), complex, complex);
}

}  // namespace kestrav
