#pragma once
// FFTW plans and buffers as owned objects. FFTW's planner is not thread-safe, so every plan is
// made and destroyed under one lock; executing a plan on other arrays (the new-array execute
// functions) is safe from any thread.
#include <fftw3.h>

#include <cstddef>
#include <memory>
#include <mutex>

namespace kestrav {

std::mutex& fftwPlannerLock();

struct FftwPlanDeleter {
  void operator()(fftw_plan plan) const {
    std::lock_guard lock(fftwPlannerLock());
    fftw_destroy_plan(plan);
  }
};
struct FftwfPlanDeleter {
  void operator()(fftwf_plan plan) const {
    std::lock_guard lock(fftwPlannerLock());
    fftwf_destroy_plan(plan);
  }
};
using FftwPlan = std::unique_ptr<std::remove_pointer_t<fftw_plan>, FftwPlanDeleter>;
using FftwfPlan = std::unique_ptr<std::remove_pointer_t<fftwf_plan>, FftwfPlanDeleter>;

struct FftwFree {
  void operator()(void* memory) const { fftw_free(memory); }
};
// SIMD-aligned storage from FFTW's allocator; throws ResourceError naming the bytes wanted.
template <class T>
using FftwArray = std::unique_ptr<T[], FftwFree>;
void* fftwAllocate(std::size_t bytes, const char* purpose);
template <class T>
FftwArray<T> makeFftwArray(std::size_t count, const char* purpose) {
  return FftwArray<T>(static_cast<T*>(fftwAllocate(count * sizeof(T), purpose)));
}

}  // namespace kestrav
