#pragma once
// The search as the program and the C entry run it: validate, load, search, report.
#include <string>
#include <vector>

#include "backends/compute_backend.hpp"
#include "engine/kestrav.h"
#include "engine/sample_source.hpp"
#include "engine/search_driver.hpp"
#include "engine/search_parameters.hpp"

namespace kestrav {

struct SearchOptions {
  BackendKind backend = BackendKind::Automatic;
  // A backend supplied by the caller (tests, fuzzing) in place of the one `backend` names.
  ComputeBackend* backendOverride = nullptr;
  DriverOptions driver;
  // The results carry the precise delay and frequency offset where there is one (driver.precise).
  bool reportPrecise = false;
  bool removeDc = false;  // each recording's mean subtracted before the search
};

struct SearchOutcome {
  std::vector<SearchResult> results;        // at most MaxResults, strongest first
  std::vector<SearchCandidate> candidates;  // the same results with their lag and refinement
  std::vector<LagCell> surface;             // every lag's cell, when asked for
  int sampleCount = 0;                      // the effective sample count after loading
  LagWindow window;
  CoarseSizes sizes;
  std::string backendName;
  double loadSeconds = 0.0;
  StageTimes times;
  std::vector<ResultQuality> qualities;  // one for each result
  double peakThreshold = 0.0;            // decibels, as applied
  double classFalseAlarm = 0.0;
  double noiseLevel = 0.0;            // decibels: the level below which results are noise
  std::vector<float> map;             // the whole coarse surface, when asked for
  std::optional<SurfacePatch> patch;  // the surface round the best result, when asked for
};

// A recording file and the format of its samples.
struct RecordingFile {
  std::string path;
  SampleFormat format = SampleFormat::Ci16;
};

// Each throws InputError (the parameters or recordings cannot be used) or ResourceError.
// Two headerless int16 files:
SearchOutcome searchRecordings(const char* firstPath, const char* secondPath,
                               SearchParameters parameters, const SearchOptions& options);
// Two files of any sample format:
SearchOutcome searchRecordings(const RecordingFile& first, const RecordingFile& second,
                               SearchParameters parameters, const SearchOptions& options);
// Two recordings from any source (files, buffers in memory):
SearchOutcome searchSources(std::unique_ptr<SampleSource> first,
                            std::unique_ptr<SampleSource> second, SearchParameters parameters,
                            const SearchOptions& options);

}  // namespace kestrav
