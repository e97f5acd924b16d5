// The exported C entry: the whole search behind one plain function.
#include "engine/kestrav.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <new>
#include <string>

#include "platform/host/errors.hpp"
#include "engine/search.hpp"

namespace {

// The count must not live inside the result array: writing one would corrupt the other.
bool countAliasesResults(const SearchResult* results, const int* resultCount) {
  const auto* begin = reinterpret_cast<const unsigned char*>(results);
  const auto* end = reinterpret_cast<const unsigned char*>(results + MaxResults);
  const auto* count = reinterpret_cast<const unsigned char*>(resultCount);
  return std::less_equal<>()(begin, count + sizeof(int) - 1) && std::less<>()(count, end);
}

void copyMessage(const std::string& text, char* message, size_t messageSize) {
  if (message == nullptr || messageSize == 0) return;
  const std::size_t length = std::min(text.size(), messageSize - 1);
  std::memcpy(message, text.data(), length);
  message[length] = '\0';
}

int refuse(int status, const std::string& reason, char* message, size_t messageSize) {
  copyMessage(reason, message, messageSize);
  return status;
}

}  // namespace

extern "C" int KestravSearchSamples(SearchResult* results, int* resultCount,
                                    const void* firstSamples, long long firstCount,
                                    const void* secondSamples, long long secondCount,
                                    int sampleType, int sampleCount, double sampleRate,
                                    double centreDelay, double delayWindow, double frequencySpan,
                                    double minAbsDelay, double minAbsFrequency,
                                    double peakThreshold, bool refine, char* message,
                                    size_t messageSize) {
  if (results == nullptr || resultCount == nullptr) {
    return refuse(KestravInputError, "the result array and the count must not be null", message,
                  messageSize);
  }
  if (countAliasesResults(results, resultCount)) {
    return refuse(KestravInputError, "the count must not lie inside the result array", message,
                  messageSize);
  }
  if (firstCount < 0 || secondCount < 0 || (firstSamples == nullptr && firstCount > 0) ||
      (secondSamples == nullptr && secondCount > 0)) {
    return refuse(KestravInputError, "a sample buffer is null or its count is negative", message,
                  messageSize);
  }
  if (sampleType != KestravInt16 && sampleType != KestravFloat32) {
    return refuse(KestravInputError,
                  "the sample type " + std::to_string(sampleType) + " is neither int16 nor float32",
                  message, messageSize);
  }
  const kestrav::SampleFormat format =
      sampleType == KestravInt16 ? kestrav::SampleFormat::Ci16 : kestrav::SampleFormat::Cf32;
  kestrav::SearchParameters parameters{sampleCount,     sampleRate,    centreDelay,
                                       delayWindow,     frequencySpan, minAbsDelay,
                                       minAbsFrequency, peakThreshold, refine};
  try {
    const kestrav::SearchOutcome outcome =
        kestrav::searchSources(kestrav::wrapSamples(firstSamples, firstCount, format),
                               kestrav::wrapSamples(secondSamples, secondCount, format),
                               parameters, {});
    std::copy(outcome.results.begin(), outcome.results.end(), results);
    *resultCount = static_cast<int>(outcome.results.size());
    copyMessage("", message, messageSize);
    return KestravOk;
  } catch (const kestrav::SearchError& error) {
    return refuse(error.exitStatus(), error.what(), message, messageSize);
  } catch (const std::bad_alloc&) {
    return refuse(KestravResourceError, "out of memory", message, messageSize);
  } catch (const std::exception& error) {
    return refuse(KestravResourceError, error.what(), message, messageSize);
  }
}

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
