#pragma once
// The narrow interface between the search driver and the compute backends: the coarse search
// over the delay window, and the two fine estimates of the refinement. The reference, host and
// CUDA backends implement it side by side; the driver, peak picking, loading and front end are
// written once against it.
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "stages/coarse/coarse_search.hpp"
#include "stages/fine/fine_request.hpp"
#include "stages/precise/precise_primitives.hpp"

namespace kestrav {

class ComputeBackend {
 public:
  virtual ~ComputeBackend() = default;
  virtual std::string_view name() const = 0;
  // Writes cells[k] for every lag k < lagCount; cells.size() == lagCount.
  virtual void coarseSearch(const CoarseRequest& request, std::span<LagCell> cells) = 0;
  // Refines one candidate whose offset is request.frequencyOffset (sampleCount >= 2048).
  virtual Refinement refine(const FineRequest& request) = 0;
  // The transforms the precise estimate is made of.
  virtual PrecisePrimitives& precisePrimitives() = 0;
};

// Raised with every change to the types above or to the requests they take, so that a CUDA module
// from another build is refused rather than called with the wrong layout.
inline constexpr int BackendInterfaceVersion = 2;

enum class BackendKind { Automatic, Reference, Host, Cuda };

// The plain loops that follow the formulas; the yardstick of every other backend.
std::unique_ptr<ComputeBackend> makeReferenceBackend();
// The host backend on FFTW.
std::unique_ptr<ComputeBackend> makeHostBackend();
// The backends compiled into this build ("reference, host" or "reference, host, cuda").
std::string compiledBackends();
// The GPU the CUDA backend would use, or why there is none (no module, no driver, no device).
std::string gpuDescription();
// The backend of the given kind. Automatic picks the CUDA backend when its module loads and finds
// a usable device, and the host backend otherwise, without a word. Throws InputError when the
// CUDA backend is asked for and cannot be had.
std::unique_ptr<ComputeBackend> makeBackend(BackendKind kind);

}  // namespace kestrav
