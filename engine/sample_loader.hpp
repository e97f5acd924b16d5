#pragma once
// Reads the two recordings' segments: from the first file sampleCount samples, from the second
// sampleCount + lagCount, placed so that lag index 0 of the window is a delay of firstLag samples.
#include <vector>

#include "engine/search_parameters.hpp"
#include "gpu/vector_types.hpp"

namespace kestrav {

// A file holds floor(bytes / 4) samples of little-endian int16 I then Q.
inline constexpr int BytesPerSample = 4;

struct SamplePair {
  std::vector<short2> first;   // N samples
  std::vector<short2> second;  // N + lagCount samples
};

// Where each segment starts in its file, and how many samples each file can give past it.
struct SegmentPlacement {
  long long firstStart = 0;   // start1
  long long secondStart = 0;  // start2
  long long firstAvailable = 0;
  long long secondAvailable = 0;
};

SegmentPlacement placeSegments(long long firstFileSamples, long long secondFileSamples,
                               int centreLag, int lagCount);

// Loads both segments and lowers parameters.sampleCount to what both files can supply.
// Throws InputError with the reason when a file cannot be opened, is too short for the window
// or cannot be read in full; ResourceError when the segments cannot be allocated.
SamplePair loadSamplePair(const char* firstPath, const char* secondPath,
                          SearchParameters& parameters, int centreLag, int lagCount);

}  // namespace kestrav
