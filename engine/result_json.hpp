#pragma once
// The results as one JSON document, for programs that read them.
#include <optional>
#include <string>

#include "engine/search.hpp"

namespace kestrav {

std::string formatJson(const SearchOutcome& outcome, const SearchParameters& parameters);

// What a SigMF recording says of how it was taken, echoed beside the results.
struct RecordingEcho {
  std::optional<double> frequency;     // core:frequency of the capture the search starts in, Hz
  std::string datetime;                // core:datetime as written; empty when absent
  std::optional<double> startSeconds;  // its sample 0's time, seconds from a common origin
};

// The same document with a "recordings" object giving both recordings' frequency and datetime,
// and, where both give them, each result's delay in absolute time (delay plus the difference of
// start times) and frequency offset corrected by the tuning difference, beside the measured ones.
std::string formatJson(const SearchOutcome& outcome, const SearchParameters& parameters,
                       const RecordingEcho& first, const RecordingEcho& second);

struct SearchRequest;
struct SearchReport;

// The document of a whole search as the program prints it and kestrav_search returns it: the
// one above (with "recordings" where a recording is SigMF) and, so that it describes itself,
// the version, the inputs as read, every parameter and option, and the warnings.
std::string formatJson(const SearchRequest& request, const SearchReport& report);

}  // namespace kestrav
