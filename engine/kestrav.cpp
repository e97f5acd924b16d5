// The exported C entry: the whole search behind one plain function.
#include "engine/kestrav.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <new>
#include <string>

#include "engine/recording.hpp"
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

// A sample rate the recording carries must be the one the caller searches at.
void requireRate(const kestrav::Recording& recording, double sampleRate, const char* role) {
  if (recording.sampleRate > 0.0 && recording.sampleRate != sampleRate) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "the sample rate %.17g Hz disagrees with the %s recording's own, %.17g Hz",
                  sampleRate, role, recording.sampleRate);
    throw kestrav::InputError(text);
  }
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
        kestrav::searchSources(kestrav::wrapSamples(firstSamples, firstCount, format, "first"),
                               kestrav::wrapSamples(secondSamples, secondCount, format, "second"),
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
    kestrav::validateSearch(parameters);
    const kestrav::Recording first = kestrav::describeRecording(firstPath, {}, "first");
    const kestrav::Recording second = kestrav::describeRecording(secondPath, {}, "second");
    requireRate(first, sampleRate, "first");
    requireRate(second, sampleRate, "second");
    const kestrav::SearchOutcome outcome =
        kestrav::searchSources(kestrav::openRecording(first, "first"),
                               kestrav::openRecording(second, "second"), parameters, {});
    std::copy(outcome.results.begin(), outcome.results.end(), results);
    *resultCount = static_cast<int>(outcome.results.size());
    return true;
  } catch (...) {
    // Another program's process must never be ended by a failed search: report false.
    return false;
  }
}

extern "C" int KestravReadRecording(const char* path, const char* format, int channel,
                                    long long start, long long count, void* samples,
                                    int* sampleType, long long* sampleTotal, double* sampleRate,
                                    char* message, size_t messageSize) {
  if (path == nullptr) return refuse(KestravInputError, "the path is null", message, messageSize);
  try {
    kestrav::RecordingRequest request;
    if (format != nullptr && *format != '\0') {
      request.format = kestrav::formatNamed(format);
      if (!request.format) {
        return refuse(KestravInputError,
                      std::string("the format '") + format + "' is not one of ci16, cf32, ci8, cu8",
                      message, messageSize);
      }
    }
    request.channel = channel;
    const kestrav::Recording recording = kestrav::describeRecording(path, request, "given");
    const bool floats = !kestrav::fitsInt16(recording.format);
    if (samples != nullptr || count != 0) {
      if (samples == nullptr || start < 0 || count < 0 || start > recording.samples ||
          count > recording.samples - start) {
        return refuse(KestravInputError,
                      "samples " + std::to_string(start) + " to " + std::to_string(start + count) +
                          " are not within the recording's " + std::to_string(recording.samples) +
                          " (or the buffer is null)",
                      message, messageSize);
      }
      const std::unique_ptr<kestrav::SampleSource> source =
          kestrav::openRecording(recording, "given");
      if (floats) {
        source->read(start, static_cast<std::size_t>(count), static_cast<float2*>(samples));
      } else {
        source->read(start, static_cast<std::size_t>(count), static_cast<short2*>(samples));
      }
    }
    if (sampleType != nullptr) *sampleType = floats ? KestravFloat32 : KestravInt16;
    if (sampleTotal != nullptr) *sampleTotal = recording.samples;
    if (sampleRate != nullptr) *sampleRate = recording.sampleRate;
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
