#pragma once
// The host backend's paths on FFTW: lags in the vector lanes, the refinement streamed over every
// core, zooms in short blocks, and the precise estimate's primitives.
#include <memory>
#include <span>

#include "platform/host/instruction_sets.hpp"
#include "stages/coarse/coarse_search.hpp"
#include "stages/fine/czt.hpp"
#include "stages/fine/fine_request.hpp"
#include "stages/fine/fine_zoom.hpp"
#include "stages/precise/precise_primitives.hpp"

namespace kestrav {

// The host path on FFTW.
void coarseSearchHost(const CoarseRequest& request, std::span<LagCell> cells);

// Rows of lags firstLag .. firstLag + rowCount - 1, each L values apart in `rows`, with the
// product and the decimation fused group by group; `scratch` holds D values. Bit-identical to
// the reference rows.
void formDecimatedRows(const CoarseRequest& request, const CoarseSizes& sizes, int firstLag,
                       int rowCount, std::span<float2> rows, std::span<float2> scratch);

// The same cell in one vectorised pass with the given instruction set (which must be
// available): the same bin, and the same level but for the order in which the powers are summed
// (within 1e-6 dB).
LagCell evaluateSpectrumVectorised(std::span<const float2> spectrum, int lagIndex,
                                   double decimatedRate,
                                   InstructionSet set = widestInstructionSet());

// Bluestein's method on FFTW in double precision.
void cztHost(const double2* x, int N, double2* out, int M, double step, double start);
// Bluestein's method in short blocks (CztBlocks) on every core: the same outputs as cztHost to
// rounding, with working buffers of a few blocks only.
void cztInBlocks(const double2* x, int N, double2* out, int M, double step, double start);

// The fine estimates with the samples streamed over every core and the zoom evaluated in short
// blocks, so that memory stays small at any sample count and zoom length. The run sums and the
// summed cross-spectrum are bit-identical to the plain estimates'; the zoom agrees with cztHost to
// rounding, and is cztHost's exactly when it fits in one block.
FineEstimate estimateFineFrequencyStreamed(const FineRequest& request);
FineEstimate estimateFineDelayStreamed(const FineRequest& request);
Refinement refineOnHostStreamed(const FineRequest& request);

// The same peak and trace from the zoom computed in short blocks (CztBlocks) on every core,
// keeping only each worker's running maximum. The trace's points are computed again from their
// blocks afterwards, bit for bit the values the maximum was chosen from.
ZoomPeak strongestZoomPointInBlocks(const double2* x, int N, int M, double step, double start,
                                    int traceHalfWidth);

// The host implementation on FFTW, double precision, one frame at a time.
std::unique_ptr<PrecisePrimitives> makeHostPrecisePrimitives();

}  // namespace kestrav
