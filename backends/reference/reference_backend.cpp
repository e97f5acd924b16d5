// The reference backend: every stage as plain loops over the formulas, the chirp-z zooms as
// direct sums; the precise estimate's primitives are the host's.
#include <memory>

#include "backends/compute_backend.hpp"
#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"

namespace kestrav {

Refinement refineOnHost(const FineRequest& request, CztFunction czt) {
  return refineInTurn(
      request, [&](const FineRequest& r) { return estimateFineFrequency(r, czt); },
      [&](const FineRequest& r) { return estimateFineDelay(r, czt); });
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
  PrecisePrimitives& precisePrimitives() override {
    if (!primitives_) primitives_ = makeHostPrecisePrimitives();
    return *primitives_;
  }

 private:
  std::unique_ptr<PrecisePrimitives> primitives_;
};

}  // namespace

std::unique_ptr<ComputeBackend> makeReferenceBackend() {
  return std::make_unique<ReferenceBackend>();
}

}  // namespace kestrav
