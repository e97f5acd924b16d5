#pragma once
// A whole search as one description: the two described recordings, the parameters, the options
// and the worker threads. The program and the C entry both run it here, so both warn alike and
// echo alike.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/recording.hpp"
#include "engine/result_json.hpp"
#include "engine/search.hpp"

namespace kestrav {

struct SearchRequest {
  std::string firstPath;  // as the caller named them
  std::string secondPath;
  Recording first;  // as describeRecording found them
  Recording second;
  int channel = -1;  // the channel asked of multi-channel SigMF recordings; -1: none
  SearchParameters parameters;
  SearchOptions options;
  bool distinct = false;  // only the results classed as emitters are kept
  int threads = 0;        // workers at most; 0: KESTRAV_THREADS, else every hardware thread
  // Warnings found before the search (number readings, the recordings' own); reported first.
  std::vector<std::string> warnings;
  // Told of each warning the run finds, as it finds it; may be empty.
  std::function<void(const std::string&)> warn;
};

struct SearchReport {
  SearchOutcome outcome;
  std::vector<std::string> warnings;  // the request's, then the run's, in order
  // How SigMF recordings were taken; present when either recording is SigMF.
  std::optional<RecordingEcho> firstEcho;
  std::optional<RecordingEcho> secondEcho;
  int workerThreads = 0;  // the workers the search was allowed
};

// Validates the parameters before anything is read, warns of retunes inside the searched
// segments, searches, warns where the best result is unsure and keeps only emitters when asked.
// Throws InputError or ResourceError as searchSources does.
SearchReport runSearchRequest(const SearchRequest& request);

// Where the best result cannot be sure: on an edge of the search (its true place may lie beyond:
// say which limit to widen), an undecided alias, a competitor it cannot be told from, or, where
// the precise values are the ones reported, a precise estimate whose model does not fit.
std::vector<std::string> unsureWarnings(const SearchOutcome& outcome, bool reportPrecise);

// The sample rate of a search: `given` when positive (it must agree with any rate a recording
// carries), else the recordings' own. Throws InputError with the reason.
double sampleRateOf(double given, const Recording& first, const Recording& second);

// "auto", "host", "cuda", "reference".
std::optional<BackendKind> backendNamed(std::string_view name);
const char* backendKindName(BackendKind kind);

// The version of this build, "MAJOR.MINOR.PATCH".
const char* kestravVersion();

}  // namespace kestrav
