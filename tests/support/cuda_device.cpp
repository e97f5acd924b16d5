#include "support/cuda_device.hpp"

#include "gpu/cuda_backend.hpp"

namespace kestrav::testing {

bool cudaDeviceAvailable(std::string* why) { return usableCudaDevice(why); }

void requireCuda(cudaError_t status, const char* what) {
  if (status != cudaSuccess) {
    throw std::runtime_error(std::string(what) + " failed: " + cudaGetErrorString(status));
  }
}

}  // namespace kestrav::testing
