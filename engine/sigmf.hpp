#pragma once
// Recordings described by SigMF metadata: NAME.sigmf-meta (JSON) beside NAME.sigmf-data.
#include <string>

#include "engine/sample_format.hpp"

namespace kestrav {

struct SigmfRecording {
  std::string metaPath;
  std::string dataPath;
  SampleFormat format = SampleFormat::Ci16;
  double sampleRate = 0.0;  // hertz
};

// Whether the path names a SigMF recording by its metadata or its data file.
bool isSigmfPath(const std::string& path);

// Reads the metadata of the recording the path names. `role` ("first", "second") names it in
// messages. Throws InputError when the metadata cannot be read, is not JSON, lacks or mistypes
// core:datatype or core:sample_rate, names a datatype that is not ci16_le, cf32_le, ci8 or cu8
// (big-endian ones included), or when the data file is missing.
SigmfRecording readSigmf(const std::string& path, const char* role);

}  // namespace kestrav
