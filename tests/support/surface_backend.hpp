#pragma once
// A backend that does no signal processing: it paints a fixed lag surface with a few peaks and
// returns small refinement corrections, so that the driver, peak picking and the front end can be
// exercised quickly on any input.
#include <cmath>
#include <memory>

#include "backends/compute_backend.hpp"
#include "backends/host/host_paths.hpp"

namespace kestrav::testing {

class SurfaceBackend final : public ComputeBackend {
 public:
  std::string_view name() const override { return "surface"; }
  void coarseSearch(const CoarseRequest& request, std::span<LagCell> cells) override {
    for (std::size_t k = 0; k < cells.size(); ++k) {
      const double x = static_cast<double>(k);
      cells[k].lagIndex = static_cast<int>(k);
      cells[k].frequencyOffset = 100.0 * std::sin(0.37 * x) * request.sampleRate / 16384.0;
      cells[k].level = 12.0 + 10.0 * std::fabs(std::sin(0.05 * x)) + 3.0 * std::sin(1.3 * x);
    }
  }
  Refinement refine(const FineRequest& request) override {
    Refinement refinement;
    refinement.frequency.correction = 0.0125;
    refinement.delay.correction = 0.25 / request.sampleRate;
    return refinement;
  }
  PrecisePrimitives& precisePrimitives() override { return *primitives_; }

 private:
  std::unique_ptr<PrecisePrimitives> primitives_ = makeHostPrecisePrimitives();
};

}  // namespace kestrav::testing
