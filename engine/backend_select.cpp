#include "engine/backend.hpp"
#include "engine/errors.hpp"

namespace kestrav {

std::string compiledBackends() { return "reference, host"; }

std::string gpuDescription() { return "none (built without CUDA)"; }

std::unique_ptr<ComputeBackend> makeBackend(BackendKind kind) {
  switch (kind) {
    case BackendKind::Reference:
      return makeReferenceBackend();
    case BackendKind::Cuda:
      throw InputError("the CUDA backend is not available in this build");
    case BackendKind::Host:
    case BackendKind::Automatic:
      break;
  }
  return makeHostBackend();
}

}  // namespace kestrav
