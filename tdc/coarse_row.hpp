#pragma once
// The stages of the coarse search that every host path shares: checking a request, forming a
// lag's decimated row, planning the row transforms and reducing a spectrum to its lag cell.
#include <cstdint>
#include <span>

#include "engine/backend.hpp"
#include "engine/fftw_plans.hpp"
#include "gpu/vector_types.hpp"
#include "tdc/coarse_search.hpp"
#include "tdc/instruction_sets.hpp"
#include "tdc/lag_cell.hpp"

namespace kestrav {

// The common start of a coarse search: throws InputError unless the segments hold N and
// N + lagCount samples, there is one cell per lag and the counts and rates can be searched;
// then zeroes every cell and returns the sizes. An fftLength of 0 leaves nothing to evaluate
// (no lags, or fewer samples than one decimation run) and the cells stay zero.
CoarseSizes startCoarseSearch(const CoarseRequest& request, std::span<LagCell> cells);

// Row of lag k, the plain way: the products of the whole decimated range into `products`
// (D * M values), then each group of D summed in the device's order into row[0 .. M-1], and
// zeros up to L.
void formDecimatedRowReference(const CoarseRequest& request, const CoarseSizes& sizes, int lag,
                               std::span<float2> products, std::span<float2> row);

// Rows of lags firstLag .. firstLag + rowCount - 1, each L values apart in `rows`, with the
// product and the decimation fused group by group; `scratch` holds D values. Bit-identical to
// the reference rows.
void formDecimatedRows(const CoarseRequest& request, const CoarseSizes& sizes, int firstLag,
                       int rowCount, std::span<float2> rows, std::span<float2> scratch);

// An in-place forward transform of `rows` contiguous rows of L points on arrays aligned like
// `data` (allocated by FFTW). Throws ResourceError when FFTW cannot plan it.
FftwfPlan planRowTransforms(std::uint64_t fftLength, int rows, float2* data);

// The cell of lag `lagIndex` from its L-point spectrum (L >= 1): the first bin of largest
// power, its frequency, and the peak-to-mean power ratio in decibels (not a number for an
// all-zero row).
LagCell evaluateSpectrum(std::span<const float2> spectrum, int lagIndex, double decimatedRate);
// The same cell in one vectorised pass with the given instruction set (which must be
// available): the same bin, and the same level but for the order in which the powers are summed
// (within 1e-6 dB).
LagCell evaluateSpectrumVectorised(std::span<const float2> spectrum, int lagIndex,
                                   double decimatedRate,
                                   InstructionSet set = widestInstructionSet());

}  // namespace kestrav
