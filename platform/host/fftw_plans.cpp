#include "platform/host/fftw_plans.hpp"

#include <string>

#include "platform/host/errors.hpp"

namespace kestrav {

std::mutex& fftwPlannerLock() {
  static std::mutex lock;
  return lock;
}

void* fftwAllocate(std::size_t bytes, const char* purpose) {
  void* memory = bytes == 0 ? nullptr : fftw_malloc(bytes);
  if (bytes != 0 && memory == nullptr) {
    throw ResourceError("cannot allocate " + std::to_string(bytes) + " bytes for " + purpose);
  }
  return memory;
}

}  // namespace kestrav
