// The CUDA backend: the coarse search, the refinement and the precise estimate's transforms on
// the GPU, behind the backend interface.
#include "backends/cuda/cuda_backend.hpp"

#include <cublas_v2.h>
#include <cuda_runtime_api.h>

#include <cstdio>
#include <memory>
#include <string>

#include "backends/compute_backend.hpp"
#include "backends/cuda/coarse_cuda.hpp"
#include "backends/cuda/coarse_kernels.hpp"
#include "backends/cuda/fine_cuda.hpp"
#include "backends/cuda/precise_cuda.hpp"
#include "platform/gpu/gpu_check.hpp"
#include "platform/gpu/gpu_status.hpp"
#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

void resetDevice() { static_cast<void>(cudaDeviceReset()); }

class CudaBackend final : public ComputeBackend {
 public:
  CudaBackend() = default;
  CudaBackend(const CudaBackend&) = delete;
  CudaBackend& operator=(const CudaBackend&) = delete;
  ~CudaBackend() override {
    if (blas_ != nullptr) static_cast<void>(cublasDestroy_v2(blas_));
  }

  std::string_view name() const override { return "cuda"; }
  void coarseSearch(const CoarseRequest& request, std::span<LagCell> cells) override {
    coarseSearchCuda(request, cells);
  }
  Refinement refine(const FineRequest& request) override {
    return refineCuda(request, blasHandle());
  }
  PrecisePrimitives& precisePrimitives() override {
    if (!precise_) precise_ = makeCudaPrecisePrimitives();
    return *precise_;
  }

 private:
  // Made on the first refinement: a search without one needs no cuBLAS.
  cublasHandle_t blasHandle() {
    if (blas_ == nullptr) {
      cublasHandle_t handle = nullptr;
      throwOnBlasFailure(cublasCreate_v2(&handle), "create a cuBLAS handle for the refinement");
      blas_ = handle;
    }
    return blas_;
  }

  cublasHandle_t blas_ = nullptr;
  std::unique_ptr<PrecisePrimitives> precise_;
};

}  // namespace

bool usableCudaDevice(std::string* whyNot) {
  std::string reason;
  int count = 0;
  const cudaError_t status = cudaGetDeviceCount(&count);
  if (status != cudaSuccess) {
    reason = cudaGetErrorString(status);
  } else if (count < 1) {
    reason = "the driver reports no device";
  } else if (const int image = coarseKernelImageStatus(); image != cudaSuccess) {
    cudaDeviceProp properties{};
    static_cast<void>(cudaGetDeviceProperties(&properties, 0));
    reason = std::string(properties.name) + " (compute capability " +
             std::to_string(properties.major) + "." + std::to_string(properties.minor) +
             ") cannot run this program's kernels: " +
             cudaGetErrorString(static_cast<cudaError_t>(image));
  }
  if (reason.empty()) return true;
  // Clears the failed call's status, so that it does not surface at a later call.
  static_cast<void>(cudaGetLastError());
  if (whyNot != nullptr) *whyNot = reason;
  return false;
}

std::string describeCudaDevice() {
  std::string whyNot;
  if (!usableCudaDevice(&whyNot)) return "none: " + whyNot;
  int device = 0;
  cudaDeviceProp properties{};
  static_cast<void>(cudaGetDevice(&device));
  static_cast<void>(cudaGetDeviceProperties(&properties, device));
  char memory[32];
  std::snprintf(memory, sizeof memory, "%.1f GiB",
                static_cast<double>(properties.totalGlobalMem) / (1024.0 * 1024.0 * 1024.0));
  return std::string(properties.name) + ", compute capability " + std::to_string(properties.major) +
         "." + std::to_string(properties.minor) + ", " + memory;
}

std::unique_ptr<ComputeBackend> makeCudaBackend(std::string* whyNot) {
  if (!usableCudaDevice(whyNot)) return nullptr;
  setDeviceResetHook(resetDevice);
  return std::make_unique<CudaBackend>();
}

}  // namespace kestrav
