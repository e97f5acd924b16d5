#pragma once
// The CUDA backend lives in a module of its own (libkestrav-cuda.so), loaded at run time only when
// a search asks for it and a CUDA driver with a device is present, so that the program, the
// library and the Python binding link no CUDA library and start in milliseconds.
#include <cstddef>

#include "backends/compute_backend.hpp"

extern "C" {

// What the module exports, under the name kestrav_cuda_module.
struct KestravCudaModule {
  int interfaceVersion;  // BackendInterfaceVersion of the build that made the module
  // A backend on the first usable device, owned by the caller; or null, with the reason written
  // to whyNot (at most whyNotSize bytes, NUL-terminated).
  kestrav::ComputeBackend* (*makeBackend)(char* whyNot, std::size_t whyNotSize);
  // The device the backend would use, or "none: " and the reason, in the same way.
  void (*describeDevice)(char* text, std::size_t textSize);
};

using KestravCudaModuleEntry = const KestravCudaModule* (*)();

}  // extern "C"

namespace kestrav {

inline constexpr const char* CudaModuleFileName = "libkestrav-cuda.so";
inline constexpr const char* CudaModuleEntryName = "kestrav_cuda_module";

// The module, loaded once per process: null when this build has no CUDA backend, no CUDA driver
// or device is present, or the module cannot be found or loaded; the reason then goes to whyNot.
// The module is looked for where KESTRAV_CUDA_MODULE points, else beside the program or library
// that holds this code, else in ../lib from there (an installed program).
const KestravCudaModule* loadCudaModule(std::string* whyNot);

}  // namespace kestrav
