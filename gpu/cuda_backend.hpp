#pragma once
// Whether this process can use a GPU: a driver, a device, and code for that device in the
// program. Host declarations only; the backend itself is made by makeCudaBackend (backend.hpp).
#include <string>

namespace kestrav {

// True when a device can run the program's kernels; otherwise false, with the reason in whyNot
// (when not null), for example the runtime's words for a missing driver.
bool usableCudaDevice(std::string* whyNot);

// The device the CUDA backend would use ("NVIDIA H100 80GB HBM3, compute capability 9.0,
// 79.2 GiB"), or "none: " and the reason.
std::string describeCudaDevice();

}  // namespace kestrav
