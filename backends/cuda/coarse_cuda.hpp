#pragma once
// The coarse search on the GPU: the rows of a batch of lags formed in one pass, transformed by
// one batched FFT and reduced to their cells in one more, with the batch's cells copied back
// once. Cells identical in frequency to the host paths' (the first strongest bin), levels equal
// up to the rounding of the two FFTs.
#include <span>

#include "backends/compute_backend.hpp"
#include "stages/coarse/lag_cell.hpp"

namespace kestrav {

void coarseSearchCuda(const CoarseRequest& request, std::span<LagCell> cells);

}  // namespace kestrav
