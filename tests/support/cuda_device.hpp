#pragma once
// What the GPU tests share: skipping without a device, and device arrays filled from and read
// back into host vectors.
#include <cuda_runtime_api.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kestrav::testing {

// True when a device can run the program's kernels; otherwise the reason in why.
bool cudaDeviceAvailable(std::string* why);

// Device memory of a test: a failed runtime call throws, which fails the test.
void requireCuda(cudaError_t status, const char* what);

template <class T>
class DeviceArray {
 public:
  explicit DeviceArray(std::size_t count) : count_(count) {
    void* memory = nullptr;
    requireCuda(cudaMalloc(&memory, count * sizeof(T)), "cudaMalloc");
    data_ = static_cast<T*>(memory);
  }
  explicit DeviceArray(const std::vector<T>& values) : DeviceArray(values.size()) {
    upload(values);
  }
  DeviceArray(const DeviceArray&) = delete;
  DeviceArray& operator=(const DeviceArray&) = delete;
  ~DeviceArray() { static_cast<void>(cudaFree(data_)); }

  T* get() const { return data_; }
  void upload(const std::vector<T>& values) {
    if (values.size() != count_) throw std::invalid_argument("upload of the wrong length");
    requireCuda(cudaMemcpy(data_, values.data(), count_ * sizeof(T), cudaMemcpyHostToDevice),
                "cudaMemcpy to the device");
  }
  std::vector<T> download() const {
    std::vector<T> values(count_);
    requireCuda(cudaMemcpy(values.data(), data_, count_ * sizeof(T), cudaMemcpyDeviceToHost),
                "cudaMemcpy to the host");
    return values;
  }

 private:
  T* data_ = nullptr;
  std::size_t count_ = 0;
};

}  // namespace kestrav::testing

// Ends the test as skipped, with the reason, where no device can run it.
#define SKIP_WITHOUT_CUDA_DEVICE()                                    \
  do {                                                                \
    std::string noDeviceReason_;                                      \
    if (!::kestrav::testing::cudaDeviceAvailable(&noDeviceReason_)) { \
      GTEST_SKIP() << "no CUDA device: " << noDeviceReason_;          \
    }                                                                 \
  } while (false)
