#pragma once
// Where a recording's samples come from: a file of a given sample format, or a buffer in memory.
// Either way it has a number of whole samples, and ranges of them are read converted.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/sample_format.hpp"
#include "platform/host/vector_types.hpp"

namespace kestrav {

class SampleSource {
 public:
  virtual ~SampleSource() = default;
  long long samples() const { return samples_; }
  SampleFormat format() const { return format_; }
  // How messages name the recording: its quoted path, or "(in memory)".
  const std::string& label() const { return label_; }
  // Reads `count` samples from `start` into `out` (int16 pairs, not for cf32) or `outFloat`.
  // Throws InputError when fewer can be read, or when a float sample is not finite.
  virtual void read(long long start, std::size_t count, short2* out) = 0;
  virtual void read(long long start, std::size_t count, float2* out) = 0;

 protected:
  SampleSource(SampleFormat format, long long samples, std::string label)
      : format_(format), samples_(samples), label_(std::move(label)) {}

 private:
  SampleFormat format_;
  long long samples_;
  std::string label_;
};

// A run of consecutive samples stored contiguously in a file.
struct DataPiece {
  long long firstSample = 0;  // counted from the start of the recording's samples
  long long samples = 0;
  long long byteOffset = 0;  // of the piece's first sample in the file
};

// Where a recording's samples lie in its file: runs of samples (a header, a tar member's
// position or a capture's own header between them), each sample a frame of `channels`
// interleaved channel samples of which `channel` is read.
struct DataLayout {
  std::vector<DataPiece> pieces;  // in sample order, without gaps
  int channels = 1;
  int channel = 0;
  long long samples() const {
    return pieces.empty() ? 0 : pieces.back().firstSample + pieces.back().samples;
  }
};

// A regular file of headerless samples; a trailing partial sample is ignored. `role` ("first",
// "second") names the recording in messages. Throws InputError when the path cannot be opened, is
// not a regular file (a FIFO is refused without waiting for a writer), or begins like a container
// (WAV, tar, JSON, zip) whose header would otherwise be read as samples.
std::unique_ptr<SampleSource> openSampleFile(const std::string& path, SampleFormat format,
                                             const char* role);

// A regular file whose samples lie as the layout says. `label` names it in messages.
std::unique_ptr<SampleSource> openLaidOutFile(const std::string& path, const std::string& label,
                                              SampleFormat format, DataLayout layout,
                                              const char* role);

// Opens a regular file for reading without blocking on a FIFO. Throws InputError as
// openSampleFile does; the caller closes the descriptor.
int openRegularFile(const std::string& path, const char* role, long long* size);

// Throws InputError naming the recording and the sample when any of `count` float samples read
// from `start` is not finite: a NaN must never reach a result.
void requireFiniteSamples(const float2* samples, std::size_t count, long long start,
                          const char* role, const std::string& label);

// `samples` samples of the format at `data`, owned by the caller for the source's lifetime.
std::unique_ptr<SampleSource> wrapSamples(const void* data, long long samples, SampleFormat format,
                                          const char* role = "first");

}  // namespace kestrav
