#include "support/cuda_device.hpp"

#include "backends/cuda/cuda_backend.hpp"
#include "backends/cuda_module.hpp"

namespace kestrav::testing {

// The program reaches the device through its module, so a test runs only where that module loads
// (and then with its reason for skipping, the same words the program gives).
bool cudaDeviceAvailable(std::string* why) {
  return loadCudaModule(why) != nullptr && usableCudaDevice(why);
}

void requireCuda(cudaError_t status, const char* what) {
  if (status != cudaSuccess) {
    throw std::runtime_error(std::string(what) + " failed: " + cudaGetErrorString(status));
  }
}

}  // namespace kestrav::testing
