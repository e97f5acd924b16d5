#pragma once
// Reads the two recordings' segments: from the first file sampleCount samples, from the second
// sampleCount + lagCount, placed so that lag index 0 of the window is a delay of firstLag samples.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include <string>

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

// One recording opened for reading: its file and how many whole samples it holds.
struct OpenRecording {
  struct Closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
  };
  using File = std::unique_ptr<std::FILE, Closer>;
  const char* role = "";  // "first" or "second", for messages
  std::string path;
  File file;
  long long samples = 0;
};

// The two recordings opened and their segments placed, before anything is read: the effective
// sample count and the memory the segments take are known here. Throws InputError when a file
// cannot be opened or is too short for the window.
class SamplePairSource {
 public:
  SamplePairSource(const char* firstPath, const char* secondPath, int sampleCount, int centreLag,
                   int lagCount);
  int sampleCount() const { return sampleCount_; }  // N: what both files can supply
  std::uint64_t segmentBytes() const;
  // Reads both segments. Throws InputError when a read comes up short, ResourceError when the
  // segments cannot be allocated.
  SamplePair read();

 private:
  OpenRecording first_;
  OpenRecording second_;
  SegmentPlacement placement_;
  int sampleCount_ = 0;
  int lagCount_ = 0;
};

// Loads both segments and lowers parameters.sampleCount to what both files can supply.
// Throws InputError with the reason when a file cannot be opened, is too short for the window
// or cannot be read in full; ResourceError when the segments cannot be allocated.
SamplePair loadSamplePair(const char* firstPath, const char* secondPath,
                          SearchParameters& parameters, int centreLag, int lagCount);

}  // namespace kestrav
