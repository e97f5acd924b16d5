#pragma once
// How the precise estimate cuts one candidate's segments into transform frames. The first segment
// is split into blocks; each block sits in a frame of `frameLength` points with `margin` points of
// the second segment on either side, so that a fractional shift of the second segment reads real
// neighbouring samples instead of zeros. Products are summed in runs of `runLength` samples on one
// grid shared by all frames.
#include <cstdint>

#include "platform/host/host_device.hpp"

namespace kestrav {

struct PreciseLayout {
  int sampleCount = 0;  // n, samples of the first segment
  int margin = 0;       // second-segment samples read on each side of a block
  int frameLength = 0;  // transform length, a power of two
  int blockLength = 0;  // first-segment samples per frame, a multiple of runLength
  int blockCount = 0;   // blockCount * blockLength >= sampleCount
  int runLength = 0;    // samples per run of the delayed product
  int runCount = 0;     // runs cover sample -margin up to the last frame's end
  int taperLength = 0;  // raised-cosine ends of the first segment
  double centre = 0.0;  // (n - 1) / 2: the time origin of every phase, in samples
};

// The layout for n >= 1 samples, with frames of at most `longestFrame` points (a power of two of
// at least 256; shorter frames only serve tests).
inline constexpr int LongestPreciseFrame = 65536;
PreciseLayout planPreciseLayout(int sampleCount, int longestFrame = LongestPreciseFrame);

// Sample index (of either segment, 0 = first[0]) that frame position p of block b holds.
KESTRAV_HD std::int64_t frameSampleIndex(const PreciseLayout& layout, int block, int position) {
  return std::int64_t{block} * layout.blockLength - layout.margin + position;
}

}  // namespace kestrav
