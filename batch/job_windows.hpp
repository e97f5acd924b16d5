#pragma once
// A job's two windows read into memory, and the recordings they come from, each opened once for
// all the jobs of a shard.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "batch/job.hpp"
#include "engine/recording.hpp"
#include "engine/sample_source.hpp"
#include "engine/search_parameters.hpp"

namespace kestrav::batch {

// The segment of one recording a job searches, in memory.
struct WindowSamples {
  SampleFormat format = SampleFormat::Ci16;  // Ci16 (held as int16 pairs) or Cf32 (floats)
  std::vector<short2> ints;
  std::vector<float2> floats;
  long long lead = 0;  // where the segment lies in the view the search is given
  std::string label;   // the recording as messages name it
};

struct JobWindows {
  SearchParameters parameters;
  WindowSamples first;   // parameters.sampleCount samples
  WindowSamples second;  // parameters.sampleCount + the delay window's lags
  std::vector<std::string> warnings;
  // When the job cannot be searched: "input_error" (the recordings are not as planned) or
  // "failed", with the reason; empty otherwise.
  std::string status;
  std::string reason;
};

// The search parameters a job describes; refinement is always on.
SearchParameters parametersOf(const Job& job);

// A non-owning view of a window as the search reads a recording: `lead` samples that are never
// read, then the segment, so that the search places its segments exactly on the window.
std::unique_ptr<SampleSource> windowSource(const WindowSamples& window);

// What a job that threw ends as, from inside a catch block: "input_error" for an InputError (the
// inputs are not as planned), "failed" for anything else; and the reason.
struct JobFailure {
  std::string status;
  std::string reason;
};
JobFailure currentFailure();

class RecordingShelf {
 public:
  // Reads the job's two segments; never throws: what goes wrong becomes the status.
  JobWindows read(const Job& job);

 private:
  struct Opened {
    Recording recording;
    std::unique_ptr<SampleSource> source;
    std::string error;
  };
  Opened& open(const JobSide& side, const char* role);
  void readSide(const Job& job, const JobSide& side, const char* role, long long from,
                long long count, long long lead, WindowSamples& into,
                std::vector<std::string>& warnings);
  std::map<std::string, Opened> opened_;
};

}  // namespace kestrav::batch
