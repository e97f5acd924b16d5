#pragma once
// The double-precision refinement of one candidate: its residual frequency offset, then its
// residual delay, each from a chirp-z zoom.
#include "czt/czt.hpp"
#include "engine/backend.hpp"

namespace kestrav {

// Both estimates with the chirp-z routine passed in: the direct sum for the reference path,
// Bluestein's method for the host path.
FineEstimate estimateFineFrequency(const FineRequest& request, CztFunction czt);
FineEstimate estimateFineDelay(const FineRequest& request, CztFunction czt);

// The frequency estimate, then the delay estimate at the corrected frequency offset.
Refinement refineOnHost(const FineRequest& request, CztFunction czt);

}  // namespace kestrav
