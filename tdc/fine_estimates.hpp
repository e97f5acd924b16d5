#pragma once
// The double-precision refinement of one candidate: its residual frequency offset, then its
// residual delay, each from a chirp-z zoom.
#include <vector>

#include "czt/czt.hpp"
#include "engine/backend.hpp"

namespace kestrav {

// Both estimates with the chirp-z routine passed in, every intermediate array held whole: the
// direct sum for the reference path, Bluestein's method for the plain host path.
FineEstimate estimateFineFrequency(const FineRequest& request, CztFunction czt);
FineEstimate estimateFineDelay(const FineRequest& request, CztFunction czt);

// The same estimates with the samples streamed over every core and the zoom evaluated in short
// blocks, so that memory stays small at any sample count and zoom length. The run sums and the
// summed cross-spectrum are bit-identical to those above; the zoom agrees with cztHost to
// rounding, and is cztHost's exactly when it fits in one block.
FineEstimate estimateFineFrequencyStreamed(const FineRequest& request);
FineEstimate estimateFineDelayStreamed(const FineRequest& request);

// The frequency estimate, then the delay estimate at the corrected frequency offset.
Refinement refineOnHost(const FineRequest& request, CztFunction czt);
Refinement refineOnHostStreamed(const FineRequest& request);

// The delay estimate's zoom input from the summed cross-spectrum S of 4096 bins:
// S[(2048 - m) mod 4096] / 4096, its bins reversed, scaled and centred on zero frequency.
std::vector<double2> centredReversedSpectrum(const std::vector<double2>& summed);

}  // namespace kestrav
