#pragma once
// The one check of a status-returning runtime or FFT call: a status other than success prints
// "CUDA error at <label>:<line> code=<code>(<name>) " on standard error, resets the device and
// ends the process with status 1. The label names the unit ("tdc" or "czt") and the line is the
// site's fixed number, whatever line the call occupies here.
#include <cuda_runtime_api.h>
#include <cufft.h>

namespace kestrav {

inline constexpr const char* TdcLabel = "tdc";
inline constexpr const char* CztLabel = "czt";

void GpuCheck(cudaError_t status, const char* label, int line);
void GpuCheck(cufftResult status, const char* label, int line);

}  // namespace kestrav
