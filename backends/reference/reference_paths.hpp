#pragma once
// The reference backend's paths: plain loops that follow the formulas, the yardstick every other
// path is checked against.
#include <span>

#include "stages/coarse/coarse_search.hpp"
#include "stages/fine/czt.hpp"
#include "stages/fine/fine_request.hpp"

namespace kestrav {

// The plain reference: every lag on its own, straight loops over the formulas.
void coarseSearchReference(const CoarseRequest& request, std::span<LagCell> cells);
// Row of lag k, the plain way: the products of the whole decimated range into `products`
// (D * M values), then each group of D summed in the device's order into row[0 .. M-1], and
// zeros up to L.
void formDecimatedRowReference(const CoarseRequest& request, const CoarseSizes& sizes, int lag,
                               std::span<float2> products, std::span<float2> row);

// The direct O(N M) sum: the reference.
void cztReference(const double2* x, int N, double2* out, int M, double step, double start);
// Both fine estimates with the chirp-z routine passed in, every intermediate array held whole: the
// direct sum for the reference path, Bluestein's method for the plain host path.
FineEstimate estimateFineFrequency(const FineRequest& request, CztFunction czt);
FineEstimate estimateFineDelay(const FineRequest& request, CztFunction czt);
// The frequency estimate, then the delay estimate at the corrected frequency offset.
Refinement refineOnHost(const FineRequest& request, CztFunction czt);

}  // namespace kestrav
