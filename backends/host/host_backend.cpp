// The host backend: lags in the vector lanes, the refinement streamed over every core, and the
// precise estimate's primitives on FFTW.
#include <memory>

#include "backends/compute_backend.hpp"
#include "backends/host/host_paths.hpp"

namespace kestrav {

Refinement refineOnHostStreamed(const FineRequest& request) {
  return refineInTurn(request, estimateFineFrequencyStreamed, estimateFineDelayStreamed);
}

namespace {

class HostBackend final : public ComputeBackend {
 public:
  std::string_view name() const override { return "host"; }
  void coarseSearch(const CoarseRequest& request, std::span<LagCell> cells) override {
    coarseSearchHost(request, cells);
  }
  Refinement refine(const FineRequest& request) override { return refineOnHostStreamed(request); }
  PrecisePrimitives& precisePrimitives() override {
    if (!primitives_) primitives_ = makeHostPrecisePrimitives();
    return *primitives_;
  }

 private:
  std::unique_ptr<PrecisePrimitives> primitives_;
};

}  // namespace

std::unique_ptr<ComputeBackend> makeHostBackend() { return std::make_unique<HostBackend>(); }

}  // namespace kestrav
