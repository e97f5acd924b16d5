#include "platform/gpu/gpu_check.hpp"

#include "platform/gpu/gpu_status.hpp"
#include "platform/host/errors.hpp"

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

void throwOnFftFailure(cufftResult status, const std::string& what) {
  if (status == CUFFT_SUCCESS) return;
  throw ResourceError("the GPU cannot " + what + " (cuFFT status " +
                      std::to_string(static_cast<int>(status)) + ")");
}

void throwOnBlasFailure(cublasStatus_t status, const std::string& what) {
  if (status == CUBLAS_STATUS_SUCCESS) return;
  throw ResourceError("the GPU cannot " + what + " (cuBLAS status " +
                      std::to_string(static_cast<int>(status)) + ")");
}

}  // namespace kestrav
