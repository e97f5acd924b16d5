// Choosing a backend: the reference and host backends are always here; the CUDA backend comes
// from its module when one loads and finds a device.
#include <memory>
#include <string>

#include "backends/compute_backend.hpp"
#include "backends/cuda_module.hpp"
#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

// The CUDA backend, or null with the reason.
std::unique_ptr<ComputeBackend> makeCudaBackend(std::string& whyNot) {
  const KestravCudaModule* module = loadCudaModule(&whyNot);
  if (module == nullptr) return nullptr;
  char reason[512] = "";
  std::unique_ptr<ComputeBackend> backend(module->makeBackend(reason, sizeof reason));
  if (!backend) whyNot = reason;
  return backend;
}

}  // namespace

std::string compiledBackends() {
#if KESTRAV_HAVE_CUDA
  return "reference, host, cuda (module " + std::string(CudaModuleFileName) + ")";
#else
  return "reference, host";
#endif
}

std::string gpuDescription() {
#if KESTRAV_HAVE_CUDA
  std::string whyNot;
  const KestravCudaModule* module = loadCudaModule(&whyNot);
  if (module == nullptr) return "none: " + whyNot;
  char text[512] = "";
  module->describeDevice(text, sizeof text);
  return text;
#else
  return "none (built without CUDA)";
#endif
}

std::unique_ptr<ComputeBackend> makeBackend(BackendKind kind) {
  switch (kind) {
    case BackendKind::Reference:
      return makeReferenceBackend();
    case BackendKind::Cuda: {
#if KESTRAV_HAVE_CUDA
      std::string whyNot;
      if (std::unique_ptr<ComputeBackend> backend = makeCudaBackend(whyNot)) return backend;
      throw InputError("--backend=cuda: no CUDA device: " + whyNot);
#else
      throw InputError("--backend=cuda: this build has no CUDA backend (built without CUDA)");
#endif
    }
    case BackendKind::Automatic: {
      std::string whyNot;
      if (std::unique_ptr<ComputeBackend> backend = makeCudaBackend(whyNot)) return backend;
      break;
    }
    case BackendKind::Host:
      break;
  }
  return makeHostBackend();
}

}  // namespace kestrav
