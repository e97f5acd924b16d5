#pragma once
// The steps of the coarse search that every path shares: checking a request, planning the row
// transforms and reducing a spectrum to its lag cell.
#include <cstdint>
#include <span>

#include "platform/host/fftw_plans.hpp"
#include "platform/host/vector_types.hpp"
#include "stages/coarse/coarse_search.hpp"
#include "stages/coarse/lag_cell.hpp"

namespace kestrav {

// The common start of a coarse search: throws InputError unless the segments hold N and
// N + lagCount samples, there is one cell per lag and the counts and rates can be searched;
// then zeroes every cell and returns the sizes. An fftLength of 0 leaves nothing to evaluate
// (no lags, or fewer samples than one decimation run) and the cells stay zero.
CoarseSizes startCoarseSearch(const CoarseRequest& request, std::span<LagCell> cells);

// An in-place forward transform of `rows` contiguous rows of L points on arrays aligned like
// `data` (allocated by FFTW). Throws ResourceError when FFTW cannot plan it.
FftwfPlan planRowTransforms(std::uint64_t fftLength, int rows, float2* data);

// The cell of lag `lagIndex` from its L-point spectrum (L >= 1): the first bin of largest
// power, its frequency, and the peak-to-mean power ratio in decibels (not a number for an
// all-zero row).
LagCell evaluateSpectrum(std::span<const float2> spectrum, int lagIndex, double decimatedRate);
}  // namespace kestrav
