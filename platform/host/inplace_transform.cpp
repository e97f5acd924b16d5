#include "platform/host/inplace_transform.hpp"

#include <mutex>
#include <string>

#include "platform/host/errors.hpp"

namespace kestrav {

FftwPlan planInPlaceTransforms(double2* data, std::int64_t length, std::int64_t count, int sign) {
  // The 64-bit interface: Bluestein lengths reach 2^32 points.
  const fftw_iodim64 points{length, 1, 1};
  const fftw_iodim64 batch{count, length, length};
  auto* complex = reinterpret_cast<fftw_complex*>(data);
  fftw_plan plan = nullptr;
  {
    std::lock_guard lock(fftwPlannerLock());
    plan = fftw_plan_guru64_dft(1, &points, 1, &batch, complex, complex, sign, FFTW_ESTIMATE);
  }
  if (plan == nullptr) {
    throw ResourceError("cannot plan " + std::to_string(count) + " transforms of " +
                        std::to_string(length) + " points");
  }
  return FftwPlan(plan);
}

}  // namespace kestrav
