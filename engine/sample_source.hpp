#pragma once
// Where a recording's samples come from: a file of a given sample format, or a buffer in memory.
// Either way it has a number of whole samples, and ranges of them are read converted.
#include <cstdio>
#include <memory>
#include <string>

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
  // Throws InputError when fewer can be read.
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

// A regular file of headerless samples; a trailing partial sample is ignored. `role` ("first",
// "second") names the recording in messages. Throws InputError when the path cannot be opened or
// is not a regular file (a FIFO is refused without waiting for a writer).
std::unique_ptr<SampleSource> openSampleFile(const std::string& path, SampleFormat format,
                                             const char* role);

// `samples` samples of the format at `data`, owned by the caller for the source's lifetime.
std::unique_ptr<SampleSource> wrapSamples(const void* data, long long samples, SampleFormat format);

}  // namespace kestrav
