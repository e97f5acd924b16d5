#pragma once
// A recording as it is named: a file of bare samples (its type from --format or its name), a WAV
// file, a SigMF recording (by its metadata, data or base name) or a SigMF archive. Described
// first, so that sample rates and formats can be checked before anything is read, then opened
// as a SampleSource.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/sample_source.hpp"
#include "engine/sigmf.hpp"

namespace kestrav {

enum class RecordingKind { Samples, Wav, Sigmf, SigmfArchive };

// What the caller asks beside the path.
struct RecordingRequest {
  std::optional<SampleFormat> format;  // --format: bare samples of this type
  int channel = -1;                    // --channel: the channel of a multi-channel SigMF dataset
};

struct Recording {
  RecordingKind kind = RecordingKind::Samples;
  std::string path;  // the file the samples are read from
  SampleFormat format = SampleFormat::Ci16;
  double sampleRate = 0.0;  // from the header or metadata; 0 where there is none
  long long samples = 0;
  DataLayout layout;                   // where the samples lie (not for WAV)
  std::string label;                   // how messages name it
  std::vector<SigmfCapture> captures;  // SigMF only
  std::vector<std::string> warnings;   // said on standard error, the search goes on
};

// The sample type a name implies: .cf32 .fc32 .cfile, .cs16 .ci16 .sc16, .cs8 .ci8 .sc8, .cu8.
std::optional<SampleFormat> formatOfName(const std::string& path);

// Whether the recording the path names may carry its own sample rate (WAV, SigMF), so that the
// command line need not give one.
bool mayCarrySampleRate(const std::string& path);

// Reads what the path names without reading samples. `role` ("first", "second") names the
// recording in messages. Throws InputError when it cannot be used.
Recording describeRecording(const std::string& path, const RecordingRequest& request,
                            const char* role);

// Opens the described recording for reading. Throws InputError as describeRecording does.
std::unique_ptr<SampleSource> openRecording(const Recording& recording, const char* role);

// Warnings for capture boundaries (retunes) inside samples [start, start + count).
std::vector<std::string> captureBoundaryWarnings(const Recording& recording, long long start,
                                                 long long count, const char* role);

// The capture holding sample `sample` (the first when there are none before it); null without
// captures.
const SigmfCapture* captureAt(const Recording& recording, long long sample);

// The time of the recording's sample 0 from the first capture with core:datetime, in seconds
// since 1970 split into whole seconds and a fraction for precision; absent without one.
struct StartTime {
  long long seconds = 0;
  double fraction = 0.0;
};
std::optional<StartTime> startTimeOf(const Recording& recording, double sampleRate);

// Parses an ISO 8601 time as SigMF writes it: 2024-05-01T12:00:00.123456Z, with Z or +hh:mm.
std::optional<StartTime> parseDatetime(const std::string& text);

}  // namespace kestrav
