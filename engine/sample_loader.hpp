#pragma once
// Reads the two recordings' segments: from the first sampleCount samples, from the second
// sampleCount + lagCount, placed so that lag index 0 of the window is a delay of firstLag samples.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/sample_source.hpp"
#include "engine/search_parameters.hpp"
#include "platform/host/vector_types.hpp"

namespace kestrav {

// The loaded segments: int16 pairs as recorded, or float pairs when either recording holds
// float samples (int16 values convert to float exactly).
struct SamplePair {
  bool floatSamples = false;
  std::vector<short2> first;   // N samples
  std::vector<short2> second;  // N + lagCount samples
  std::vector<float2> firstFloat;
  std::vector<float2> secondFloat;
};

// Where each segment starts in its recording, and how many samples each can give past it.
struct SegmentPlacement {
  long long firstStart = 0;   // start1
  long long secondStart = 0;  // start2
  long long firstAvailable = 0;
  long long secondAvailable = 0;
};

SegmentPlacement placeSegments(long long firstFileSamples, long long secondFileSamples,
                               int centreLag, int lagCount);

// The two recordings opened and their segments placed, before anything is read: the effective
// sample count and the memory the segments take are known here. Throws InputError when a
// recording cannot be opened or is too short for the window.
class SamplePairSource {
 public:
  SamplePairSource(std::unique_ptr<SampleSource> first, std::unique_ptr<SampleSource> second,
                   int sampleCount, int centreLag, int lagCount);
  // Two headerless int16 files.
  SamplePairSource(const char* firstPath, const char* secondPath, int sampleCount, int centreLag,
                   int lagCount);
  int sampleCount() const { return sampleCount_; }  // N: what both recordings can supply
  std::uint64_t segmentBytes() const;
  // Reads both segments. Throws InputError when a read comes up short, ResourceError when the
  // segments cannot be allocated.
  SamplePair read();

 private:
  std::unique_ptr<SampleSource> first_;
  std::unique_ptr<SampleSource> second_;
  SegmentPlacement placement_;
  int sampleCount_ = 0;
  int lagCount_ = 0;
  bool floatSamples_ = false;
};

// Loads both int16 files' segments and lowers parameters.sampleCount to what both can supply.
SamplePair loadSamplePair(const char* firstPath, const char* secondPath,
                          SearchParameters& parameters, int centreLag, int lagCount);

}  // namespace kestrav
