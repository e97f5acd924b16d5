#pragma once
// Recordings described by SigMF metadata: NAME.sigmf-meta (JSON) beside NAME.sigmf-data, or both
// inside a NAME.sigmf archive.
#include <optional>
#include <string>
#include <vector>

#include "engine/sample_format.hpp"
#include "engine/sample_source.hpp"

namespace kestrav {

// One capture segment: where its samples start in the dataset and how they were taken.
struct SigmfCapture {
  long long sampleStart = 0;        // core:sample_start, in samples from the dataset's start
  long long headerBytes = 0;        // core:header_bytes before the capture's samples
  std::optional<double> frequency;  // core:frequency, hertz
  std::string datetime;             // core:datetime as written; empty when absent
};

struct SigmfRecording {
  std::string metaPath;
  std::string dataPath;
  SampleFormat format = SampleFormat::Ci16;
  double sampleRate = 0.0;             // hertz; 0 when the metadata gives none (it is optional)
  int channels = 1;                    // core:num_channels: interleaved channels per sample
  long long trailingBytes = 0;         // core:trailing_bytes after the samples
  std::vector<SigmfCapture> captures;  // in sample order
};

// Whether the path names a SigMF recording by its metadata or its data file.
bool isSigmfPath(const std::string& path);

// Reads the metadata of the recording the path names (NAME.sigmf-meta, NAME.sigmf-data). `role`
// ("first", "second") names it in messages. Throws InputError when the metadata cannot be read
// or parsed (see parseSigmf), or when the data file is missing.
SigmfRecording readSigmf(const std::string& path, const char* role);

// Parses metadata text; `about` names it in messages. Throws InputError when it is not JSON,
// lacks or mistypes core:datatype, names a datatype that is not ci16_le, cf32_le, ci8 or cu8
// (big-endian ones included), or mistypes core:sample_rate, core:num_channels,
// core:trailing_bytes or a capture's core:sample_start, core:header_bytes, core:frequency or
// core:datetime.
SigmfRecording parseSigmf(const std::string& text, const std::string& about);

// Where channel `channel`'s samples lie in a dataset of `dataBytes` bytes starting at
// `dataOffset` in its file, headers and trailing bytes left out. Throws InputError when the
// captures do not fit the dataset.
DataLayout sigmfLayout(const SigmfRecording& recording, long long dataOffset, long long dataBytes,
                       int channel, const std::string& about);

}  // namespace kestrav
