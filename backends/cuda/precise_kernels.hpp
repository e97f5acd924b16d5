#pragma once
// The launchers of the precise estimate's kernels: host declarations over device pointers, each
// covering its elements by the launch rule. A batch holds the frames of blocks firstBlock ..
// firstBlock + blocks - 1, frame z starting z frameLength points into its buffer; the caller
// keeps blocks frameLength within 32 bits.
#include "platform/host/vector_types.hpp"
#include "stages/precise/precise_layout.hpp"
#include "stages/precise/precise_segments.hpp"

namespace kestrav {

// Both segments' frames of the batch (the segments in device memory), the second shifted down by
// `cycles` per sample, both under the block's window when `windowed`.
void fillPreciseFrames(const PreciseSegments& segments, const PreciseLayout& layout, int firstBlock,
                       int blocks, double cycles, bool windowed, double2* firstFrames,
                       double2* secondFrames);

// spectrum[k] += conj(X1_z[k]) X2_z[k] for z = 0, 1, .., blocks - 1 in turn, k < frameLength.
void addCrossSpectra(const double2* firstFrames, const double2* secondFrames, int frameLength,
                     int blocks, double2* spectrum);

// X1_z[k] *= rootWeight[k] and X2_z[k] *= rootWeight[k] advancePhasor(k, delaySamples).
void weightAndAdvance(double2* firstFrames, double2* secondFrames, const double* rootWeight,
                      int frameLength, int blocks, double delaySamples);

// runs[j] += conj(y1[p]) y2[p] scale over the batch's frame positions that runIndex maps to j:
// block by block, and position by position within a block, as one loop over the frames would.
void addProductRuns(const double2* firstFrames, const double2* secondFrames,
                    const PreciseLayout& layout, int firstBlock, int blocks, double scale,
                    double2* runs);

}  // namespace kestrav
