#include "engine/backend.hpp"
#include "engine/errors.hpp"
#include "tdc/precise_primitives.hpp"

#if KESTRAV_HAVE_CUDA
#include "gpu/cuda_backend.hpp"
#endif

namespace kestrav {

ComputeBackend::~ComputeBackend() = default;

PrecisePrimitives& ComputeBackend::precisePrimitives() {
  if (!hostPrimitives_) hostPrimitives_ = makeHostPrecisePrimitives();
  return *hostPrimitives_;
}

#if KESTRAV_HAVE_CUDA
std::string compiledBackends() { return "reference, host, cuda"; }
std::string gpuDescription() { return describeCudaDevice(); }
#else
std::string compiledBackends() { return "reference, host"; }
std::string gpuDescription() { return "none (built without CUDA)"; }
#endif

std::unique_ptr<ComputeBackend> makeBackend(BackendKind kind) {
  switch (kind) {
    case BackendKind::Reference:
      return makeReferenceBackend();
    case BackendKind::Cuda: {
#if KESTRAV_HAVE_CUDA
      std::string whyNot;
      if (std::unique_ptr<ComputeBackend> backend = makeCudaBackend(&whyNot)) return backend;
      throw InputError("--backend=cuda: no CUDA device: " + whyNot);
#else
      throw InputError("--backend=cuda: this build has no CUDA backend (built without CUDA)");
#endif
    }
    case BackendKind::Automatic:
#if KESTRAV_HAVE_CUDA
      if (std::unique_ptr<ComputeBackend> backend = makeCudaBackend(nullptr)) return backend;
#endif
      break;
    case BackendKind::Host:
      break;
  }
  return makeHostBackend();
}

}  // namespace kestrav
