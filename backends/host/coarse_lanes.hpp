#pragma once
// The lag product and decimation of the coarse search with lags in the vector lanes: a group of
// consecutive lags is formed together, lane l holding lag firstLag + l. Every lane runs the same
// decimation tree on its own lag, so the exact summation order costs nothing, and the product for
// one sample of the first recording is a broadcast of it against consecutive samples of the
// second. The rows are bit-identical to formDecimatedRowReference.
#include <cstddef>
#include <cstdint>
#include <span>

#include "backends/compute_backend.hpp"
#include "backends/host/host_paths.hpp"
#include "platform/host/instruction_sets.hpp"
#include "platform/host/sample_segments.hpp"
#include "platform/host/vector_types.hpp"
#include "stages/coarse/coarse_search.hpp"

namespace kestrav {

// Lags formed together: two vectors of lanes, 32 with AVX-512 and 16 with AVX2.
int lagsPerLaneGroup(InstructionSet set);

// The kernels convert the samples to float (or copy float samples) a few thousand at a time,
// into a worker's scratch of this many floats: the recordings are never held converted.
std::size_t laneScratchFloats(int decimation);

// Rows of lags firstLag .. firstLag + rowCount - 1 (rowCount <= lagsPerLaneGroup(set)), row r at
// rows + r * rowStride: the M decimated values, then zeros up to L. The set must be available.
void formLaneGroupRows(InstructionSet set, const CoarseRequest& request, const CoarseSizes& sizes,
                       int firstLag, int rowCount, float2* rows, std::size_t rowStride,
                       std::span<float> scratch);

// What one instruction set's kernel is given: plain pointers and counts.
struct LaneGroupJob {
  // Sample 0 of the first recording and sample firstLag of the second.
  SegmentPointers segments;
  std::int64_t secondAvailable = 0;  // samples from there on; the lanes past them read zeros
  int decimation = 1;                // D
  int decimatedLength = 0;           // M
  int rowCount = 0;                  // rows written; the other lanes are formed and dropped
  float2* rows = nullptr;
  std::size_t rowStride = 0;
  int chunkOutputs = 1;      // decimated outputs converted at a time
  float* scratch = nullptr;  // laneScratchFloats(D) floats
};
void formLaneGroupAvx2(const LaneGroupJob& job);
void formLaneGroupAvx512(const LaneGroupJob& job);

}  // namespace kestrav
