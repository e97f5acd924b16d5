#pragma once
// The precise estimate's primitives on the GPU. The frames of a batch of blocks are filled on the
// device with the host's element maps, transformed together by batched double-precision FFTs, and
// reduced on the device in the host's order: bin by bin for the spectrum, run by run for the
// product. While the segments are held (SegmentHold) they stay on the device from call to call;
// the device memory is the two segments and two batches of frames of at most batchPoints points.
#include <cstdint>
#include <memory>

#include "stages/precise/precise_primitives.hpp"

namespace kestrav {

// 256 frames of 65536 points: 256 MiB of frames for each segment.
inline constexpr std::int64_t PreciseBatchPoints = std::int64_t{1} << 24;

// A batch is at least one frame, whatever batchPoints asks; tests cut small layouts into
// several batches with small values.
std::unique_ptr<PrecisePrimitives> makeCudaPrecisePrimitives(
    std::int64_t batchPoints = PreciseBatchPoints);

}  // namespace kestrav
