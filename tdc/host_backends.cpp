// The two host backends: the plain reference and the fast host path.
#include <memory>

#include "engine/backend.hpp"
#include "tdc/coarse_search.hpp"
#include "tdc/fine_estimates.hpp"

namespace kestrav {

Refinement refineOnHost(const FineRequest& request, CztFunction czt) {
  Refinement refinement;
  refinement.frequency = estimateFineFrequency(request, czt);
  FineRequest shifted = request;
  shifted.frequencyOffset += refinement.frequency.correction;
  refinement.delay = estimateFineDelay(shifted, czt);
  return refinement;
}

Refinement refineOnHostStreamed(const FineRequest& request) {
  Refinement refinement;
  refinement.frequency = estimateFineFrequencyStreamed(request);
  FineRequest shifted = request;
  shifted.frequencyOffset += refinement.frequency.correction;
  refinement.delay = estimateFineDelayStreamed(shifted);
  return refinement;
}

namespace {

class ReferenceBackend final : public ComputeBackend {
 public:
  std::string_view name() const override { return "reference"; }
  void coarseSearch(const CoarseRequest& request, std::span<LagCell> cells) override {
    coarseSearchReference(request, cells);
  }
  Refinement refine(const FineRequest& request) override {
    return refineOnHost(request, cztReference);
  }
};

class HostBackend final : public ComputeBackend {
 public:
  std::string_view name() const override { return "host"; }
  void coarseSearch(const CoarseRequest& request, std::span<LagCell> cells) override {
    coarseSearchHost(request, cells);
  }
  Refinement refine(const FineRequest& request) override {
    return refineOnHostStreamed(request);
  }
};

}  // namespace

std::unique_ptr<ComputeBackend> makeReferenceBackend() {
  return std::make_unique<ReferenceBackend>();
}
std::unique_ptr<ComputeBackend> makeHostBackend() { return std::make_unique<HostBackend>(); }

}  // namespace kestrav
