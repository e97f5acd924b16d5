#pragma once
// WAV recordings of I/Q: two channels, in-phase first, as SDR programs write them. RIFF, RF64 and
// Sony Wave64 files with 8-bit, 16-bit or float samples are read through libsndfile.
#include <memory>
#include <string>

#include "engine/sample_source.hpp"

namespace kestrav {

struct WavHeader {
  SampleFormat format = SampleFormat::Ci16;  // cu8 for 8-bit, ci16 for 16-bit, cf32 for float
  double sampleRate = 0.0;
  long long samples = 0;
  std::string container;  // "RIFF", "RF64", "W64"
};

// Whether the path's name is that of a WAV file (.wav, .rf64, .w64).
bool isWavPath(const std::string& path);

// Reads the header. Throws InputError when the file cannot be opened or is not a WAV file
// libsndfile reads, has other than two channels, or holds samples that are not 8-bit, 16-bit or
// float.
WavHeader readWavHeader(const std::string& path, const char* role);

// Opens the file for reading samples; 8-bit samples keep their values (offset binary, 128 is 0).
std::unique_ptr<SampleSource> openWav(const std::string& path, const char* role);

}  // namespace kestrav
