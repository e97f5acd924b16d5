#include "platform/gpu/gpu_check.hpp"

#include "platform/gpu/gpu_status.hpp"

namespace kestrav {

void GpuCheck(cudaError_t status, const char* label, int line) {
  if (status == cudaSuccess) return;
  const int code = static_cast<int>(status);
  failGpuCall(label, line, code, linkedRuntimeStatusName(code, cudaGetErrorName(status)));
}

void GpuCheck(cufftResult status, const char* label, int line) {
  if (status == CUFFT_SUCCESS) return;
  const int code = static_cast<int>(status);
  failGpuCall(label, line, code, FftStatusName(code));
}

}  // namespace kestrav
