#pragma once
// The search as the program and the C entry run it: validate, load, search, report.
#include <string>
#include <vector>

#include "engine/backend.hpp"
#include "engine/kestrav.h"
#include "engine/search_driver.hpp"
#include "engine/search_parameters.hpp"

namespace kestrav {

struct SearchOptions {
  BackendKind backend = BackendKind::Automatic;
  // A backend supplied by the caller (tests, fuzzing) in place of the one `backend` names.
  ComputeBackend* backendOverride = nullptr;
  DriverOptions driver;
};

struct SearchOutcome {
  std::vector<SearchResult> results;         // at most MaxResults, strongest first
  std::vector<SearchCandidate> candidates;   // the same results with their lag and refinement
  std::vector<LagCell> surface;              // every lag's cell, when asked for
  int sampleCount = 0;                       // the effective sample count after loading
  LagWindow window;
  CoarseSizes sizes;
  std::string backendName;
  double loadSeconds = 0.0;
  StageTimes times;
};

// Throws InputError (the parameters or recordings cannot be used) or ResourceError.
SearchOutcome searchRecordings(const char* firstPath, const char* secondPath,
                               SearchParameters parameters, const SearchOptions& options);

}  // namespace kestrav
