#pragma once
// Whether this process can use a GPU: a driver, a device, and code for that device in the
// program. Host declarations only.
#include <memory>
#include <string>

#include "backends/compute_backend.hpp"

namespace kestrav {

// True when a device can run the program's kernels; otherwise false, with the reason in whyNot
// (when not null), for example the runtime's words for a missing driver.
bool usableCudaDevice(std::string* whyNot);

// The device the CUDA backend would use ("NVIDIA H100 80GB HBM3, compute capability 9.0,
// 79.2 GiB"), or "none: " and the reason.
std::string describeCudaDevice();

// The CUDA backend when a usable device is present; otherwise null, with the reason in whyNot
// (when not null). The module hands it to the loader; tests and benchmarks call it directly.
std::unique_ptr<ComputeBackend> makeCudaBackend(std::string* whyNot);

}  // namespace kestrav
