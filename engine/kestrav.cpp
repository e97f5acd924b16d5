// The exported C entry: the whole search behind one plain function.
#include "engine/kestrav.h"

#include <algorithm>
#include <exception>
#include <functional>

#include "engine/search.hpp"

namespace {

// The count must not live inside the result array: writing one would corrupt the other.
bool countAliasesResults(const SearchResult* results, const int* resultCount) {
  const auto* begin = reinterpret_cast<const unsigned char*>(results);
  const auto* end = reinterpret_cast<const unsigned char*>(results + MaxResults);
  const auto* count = reinterpret_cast<const unsigned char*>(resultCount);
  return std::less_equal<>()(begin, count + sizeof(int) - 1) && std::less<>()(count, end);
}

}  // namespace

extern "C" bool Kestrav(SearchResult* results, int* resultCount, const char* firstPath,
                        const char* secondPath, int sampleCount, double sampleRate,
                        double centreDelay, double delayWindow, double frequencySpan,
                        double minAbsDelay, double minAbsFrequency, double peakThreshold,
                        bool refine) {
  if (results == nullptr || resultCount == nullptr || firstPath == nullptr ||
      secondPath == nullptr || countAliasesResults(results, resultCount)) {
    return false;
  }
  kestrav::SearchParameters parameters{sampleCount,     sampleRate,    centreDelay,
                                       delayWindow,     frequencySpan, minAbsDelay,
                                       minAbsFrequency, peakThreshold, refine};
  try {
    const kestrav::SearchOutcome outcome =
        kestrav::searchRecordings(firstPath, secondPath, parameters, {});
    std::copy(outcome.results.begin(), outcome.results.end(), results);
    *resultCount = static_cast<int>(outcome.results.size());
    return true;
  } catch (...) {
    // Another program's process must never be ended by a failed search: report false.
    return false;
  }
}
