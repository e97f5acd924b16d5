#pragma once
// What the run sums of the delayed product say about the estimate: the product's rms duration
// and the post-integration SNR.
#include <span>

#include "platform/host/vector_types.hpp"

namespace kestrav {

// The run sums turned to their fitted frequency and common phase: the in-phase parts carry the
// correlation peak and the quadrature parts the noise that moves it. Time-domain runs hold no
// other spread: every product pairs samples of one instant.
struct RunProfile {
  double rmsDuration = 0.0;         // samples, of the in-phase power about its centre
  double postIntegrationSnr = 0.0;  // (sum in-phase)^2 / (2 sum quadrature^2)
};

// `runs` at angular rates `rates` (per unit of frequency correction), turned by `residual`.
RunProfile measureRuns(std::span<const double2> runs, std::span<const double> rates,
                       double residual);

}  // namespace kestrav
