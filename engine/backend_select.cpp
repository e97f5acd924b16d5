#include "engine/backend.hpp"
#include "engine/errors.hpp"

namespace kestrav {

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
