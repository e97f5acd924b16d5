// The module's entry: the loader in the program or library finds the CUDA backend through the one
// symbol this module exports. Nothing thrown here crosses into the loader.
#include <algorithm>
#include <cstddef>
#include <exception>
#include <memory>
#include <string>

#include "backends/cuda/cuda_backend.hpp"
#include "backends/cuda_module.hpp"

namespace kestrav {
namespace {

void copyText(const std::string& text, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return;
  const std::size_t length = std::min(text.size(), size - 1);
  text.copy(buffer, length);
  buffer[length] = '\0';
}

ComputeBackend* makeBackendForLoader(char* whyNot, std::size_t whyNotSize) {
  try {
    std::string reason;
    std::unique_ptr<ComputeBackend> backend = makeCudaBackend(&reason);
    if (!backend) copyText(reason, whyNot, whyNotSize);
    return backend.release();
  } catch (const std::exception& error) {
    copyText(error.what(), whyNot, whyNotSize);
    return nullptr;
  }
}

void describeDeviceForLoader(char* text, std::size_t textSize) {
  try {
    copyText(describeCudaDevice(), text, textSize);
  } catch (const std::exception& error) {
    copyText(std::string("none: ") + error.what(), text, textSize);
  }
}

}  // namespace
}  // namespace kestrav

// The module's one exported symbol: the loader finds the backend through it.
extern "C" __attribute__((visibility("default"))) const KestravCudaModule* kestrav_cuda_module() {
  static const KestravCudaModule module{kestrav::BackendInterfaceVersion,
                                        kestrav::makeBackendForLoader,
                                        kestrav::describeDeviceForLoader};
  return &module;
}
