#include "backends/host/coarse_lanes.hpp"

#include <algorithm>

namespace kestrav {
namespace {

// Samples converted at a time: the floats of a chunk stay in the first levels of cache.
constexpr int ChunkSamples = 2048;
constexpr int WidestGroup = 32;

int chunkOutputsFor(int decimation) { return std::max(1, ChunkSamples / decimation); }

}  // namespace

int lagsPerLaneGroup(InstructionSet set) { return set == InstructionSet::Avx512 ? 32 : 16; }

std::size_t laneScratchFloats(int decimation) {
  // The first recording interleaved, then the second's real and imaginary parts with the
  // lanes' reach beyond the chunk.
  const std::size_t samples =
      static_cast<std::size_t>(chunkOutputsFor(decimation)) * static_cast<std::size_t>(decimation);
  return 2 * samples + 2 * (samples + WidestGroup);
}

void formLaneGroupRows(InstructionSet set, const CoarseRequest& request, const CoarseSizes& sizes,
                       int firstLag, int rowCount, float2* rows, std::size_t rowStride,
                       std::span<float> scratch) {
  LaneGroupJob job;
  job.segments = pointersAt(request.segments, firstLag);
  job.secondAvailable =
      std::int64_t{request.sampleCount} + request.lagCount - std::int64_t{firstLag};
  job.decimation = sizes.decimation;
  job.decimatedLength = sizes.decimatedLength;
  job.rowCount = rowCount;
  job.rows = rows;
  job.rowStride = rowStride;
  job.chunkOutputs = chunkOutputsFor(sizes.decimation);
  job.scratch = scratch.data();
  if (set == InstructionSet::Avx512) {
    formLaneGroupAvx512(job);
  } else {
    formLaneGroupAvx2(job);
  }
  for (int r = 0; r < rowCount; ++r) {
    float2* row = rows + static_cast<std::size_t>(r) * rowStride;
    std::fill(row + sizes.decimatedLength, row + sizes.fftLength, float2{0.0f, 0.0f});
  }
}

}  // namespace kestrav
