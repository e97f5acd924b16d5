#pragma once
// Owned device memory and FFT plans. Every allocation and release of the device paths is a
// checked site of its unit's table: release() is the checked free. The destructors free
// without a check, and only on the way out of an exception.
#include <cuda_runtime_api.h>
#include <cufft.h>

#include <cstddef>
#include <utility>

#include "platform/gpu/gpu_check.hpp"

namespace kestrav {

template <class T>
class DeviceBuffer {
 public:
  DeviceBuffer() = default;
  // `count` elements, contents undefined; a failed allocation is fatal at the site.
  DeviceBuffer(std::size_t count, GpuSite site) : count_(count) {
    void* memory = nullptr;
    GpuCheck(cudaMalloc(&memory, bytes()), site);
    data_ = static_cast<T*>(memory);
  }
  DeviceBuffer(DeviceBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), count_(std::exchange(other.count_, 0)) {}
  DeviceBuffer& operator=(DeviceBuffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(count_, other.count_);
    return *this;
  }
  DeviceBuffer(const DeviceBuffer&) = delete;
  DeviceBuffer& operator=(const DeviceBuffer&) = delete;
  ~DeviceBuffer() {
    if (data_ != nullptr) static_cast<void>(cudaFree(data_));
  }

  T* get() const { return data_; }
  std::size_t size() const { return count_; }
  std::size_t bytes() const { return count_ * sizeof(T); }

  // The checked free of the site.
  void release(GpuSite site) {
    T* memory = std::exchange(data_, nullptr);
    count_ = 0;
    GpuCheck(cudaFree(memory), site);
  }

 private:
  T* data_ = nullptr;
  std::size_t count_ = 0;
};

// A cuFFT plan of `batch` in-place transforms of `length` points laid end to end.
class FftPlan {
 public:
  FftPlan() = default;
  FftPlan(const FftPlan&) = delete;
  FftPlan& operator=(const FftPlan&) = delete;
  ~FftPlan() {
    if (created_) static_cast<void>(cufftDestroy(handle_));
  }

  cufftResult create(int length, cufftType type, int batch) {
    int points = length;
    const cufftResult status =
        cufftPlanMany(&handle_, 1, &points, nullptr, 1, length, nullptr, 1, length, type, batch);
    created_ = status == CUFFT_SUCCESS;
    return status;
  }
  cufftHandle get() const { return handle_; }
  // The checked destruction of the site.
  void destroy(GpuSite site) {
    created_ = false;
    GpuCheck(cufftDestroy(handle_), site);
  }

 private:
  cufftHandle handle_ = 0;
  bool created_ = false;
};

// Kernel launches return no status: a launch that cannot start (a grid or block the device
// refuses, too few registers) is skipped and leaves its output as it was, which would then be
// read as a result. The launches issued since the last look are checked together, as a site of
// their own, before their results are read.
inline void checkLaunches(GpuSite site) { GpuCheck(cudaGetLastError(), site); }

}  // namespace kestrav
