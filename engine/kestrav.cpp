// The exported C entries: the whole search behind plain functions.
#include "engine/kestrav.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <new>
#include <optional>
#include <string>

#include "engine/recording.hpp"
#include "engine/result_json.hpp"
#include "engine/search.hpp"
#include "engine/search_request.hpp"
#include "platform/host/errors.hpp"

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

// The status and reason of the exception being handled: nothing thrown crosses into C.
int refuseCurrent(char* message, size_t messageSize) {
  try {
    throw;
  } catch (const kestrav::SearchError& error) {
    return refuse(error.exitStatus(), error.what(), message, messageSize);
  } catch (const std::bad_alloc&) {
    return refuse(KestravResourceError, "out of memory", message, messageSize);
  } catch (const std::exception& error) {
    return refuse(KestravResourceError, error.what(), message, messageSize);
  } catch (...) {
    return refuse(KestravResourceError, "an unknown failure", message, messageSize);
  }
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
    const kestrav::SearchOutcome outcome = kestrav::searchSources(
        kestrav::wrapSamples(firstSamples, firstCount, format, "first"),
        kestrav::wrapSamples(secondSamples, secondCount, format, "second"), parameters, {});
    std::copy(outcome.results.begin(), outcome.results.end(), results);
    *resultCount = static_cast<int>(outcome.results.size());
    copyMessage("", message, messageSize);
    return KestravOk;
  } catch (...) {
    return refuseCurrent(message, messageSize);
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
  } catch (...) {
    return refuseCurrent(message, messageSize);
  }
}

namespace {

// The first layout of the request: every later one is longer.
constexpr std::size_t FirstRequestSize = offsetof(kestrav_search_request, backend) + sizeof(char*);

// Bare samples of the named type, or the type the name says when none is named.
kestrav::RecordingRequest recordingRequest(const char* format, int channel, const char* role) {
  kestrav::RecordingRequest request;
  request.channel = channel;
  if (format != nullptr && *format != '\0') {
    request.format = kestrav::formatNamed(format);
    if (!request.format) {
      throw kestrav::InputError(std::string("the ") + role + " format '" + format +
                                "' is not one of ci16, cf32, ci8, cu8");
    }
  }
  return request;
}

kestrav::SearchRequest searchRequestOf(const kestrav_search_request& given) {
  using kestrav::InputError;
  if (given.first_path == nullptr || given.second_path == nullptr) {
    throw InputError("both recordings' paths are needed");
  }
  if (given.channel < -1) {
    throw InputError("the channel " + std::to_string(given.channel) +
                     " is neither -1 (none) nor a channel number (0, 1, ...)");
  }
  if (given.sample_count < 0 || given.sample_count > INT_MAX) {
    throw InputError("the sample count " + std::to_string(given.sample_count) +
                     " is not within 0 (all) to 2147483647");
  }
  if (given.threads < 0) {
    throw InputError("the thread count " + std::to_string(given.threads) +
                     " is negative (0: the default)");
  }
  if (!(given.false_alarm >= 0.0 && given.false_alarm < 1.0)) {
    throw InputError("the false-alarm probability must lie between 0 and 1 (0: by threshold)");
  }
  kestrav::SearchRequest request;
  const char* backend = given.backend == nullptr ? "auto" : given.backend;
  const std::optional<kestrav::BackendKind> kind = kestrav::backendNamed(backend);
  if (!kind) {
    throw InputError(std::string("the backend '") + backend +
                     "' is not one of auto, host, cuda, reference");
  }
  request.options.backend = *kind;
  request.firstPath = given.first_path;
  request.secondPath = given.second_path;
  request.channel = given.channel;
  request.first = kestrav::describeRecording(
      request.firstPath, recordingRequest(given.first_format, given.channel, "first"), "first");
  request.second = kestrav::describeRecording(
      request.secondPath, recordingRequest(given.second_format, given.channel, "second"), "second");
  for (const kestrav::Recording* recording : {&request.first, &request.second}) {
    request.warnings.insert(request.warnings.end(), recording->warnings.begin(),
                            recording->warnings.end());
  }
  kestrav::SearchParameters& parameters = request.parameters;
  parameters.sampleCount = static_cast<int>(
      given.sample_count > 0 ? given.sample_count
                             : std::min<long long>(request.first.samples, INT_MAX));
  parameters.sampleRate = kestrav::sampleRateOf(given.sample_rate, request.first, request.second);
  parameters.centreDelay = given.centre_delay;
  parameters.delayWindow = given.delay_window;
  parameters.frequencySpan = given.frequency_span;
  parameters.minAbsDelay = given.min_abs_delay;
  parameters.minAbsFrequency = given.min_abs_frequency;
  // With a probability the threshold follows from it; the one given stands unused.
  parameters.peakThreshold = given.false_alarm > 0.0 ? 1.0 : given.peak_threshold;
  parameters.refine = given.refine != 0;
  if (!(parameters.peakThreshold > 0.0) || !std::isfinite(parameters.peakThreshold)) {
    throw InputError("the peak threshold must be a finite number of decibels above 0");
  }
  if (!(parameters.minAbsDelay >= 0.0) || !(parameters.minAbsFrequency >= 0.0)) {
    throw InputError("the smallest |delay| and |frequency offset| must not be negative");
  }
  kestrav::SearchOptions& options = request.options;
  options.driver.refineAll = given.refine_all != 0;
  // The document always carries the precise estimate and each result's class.
  options.driver.precise = true;
  options.driver.classify = true;
  options.reportPrecise = given.precise != 0;
  options.driver.falseAlarm = given.false_alarm;
  options.removeDc = given.remove_dc != 0;
  request.distinct = given.distinct != 0;
  request.threads = given.threads;
  return request;
}

}  // namespace

extern "C" const char* kestrav_version(void) { return kestrav::kestravVersion(); }

extern "C" kestrav_search_request kestrav_default_request(void) {
  kestrav_search_request request{};
  request.struct_size = sizeof request;
  request.channel = -1;
  request.frequency_span = 16384.0;
  request.peak_threshold = 15.0;
  request.refine = 1;
  return request;
}

extern "C" int kestrav_search(const kestrav_search_request* request, char* json, size_t json_size,
                              size_t* json_length, char* message, size_t message_size) {
  if (json_length != nullptr) *json_length = 0;
  if (request == nullptr) {
    return refuse(KestravInputError, "the request is null", message, message_size);
  }
  if (request->struct_size < FirstRequestSize || request->struct_size > sizeof *request) {
    return refuse(KestravInputError,
                  "the request's struct_size " + std::to_string(request->struct_size) +
                      " is not a layout this library knows (" + std::to_string(FirstRequestSize) +
                      " to " + std::to_string(sizeof *request) +
                      " bytes): fill it with "
                      "kestrav_default_request()",
                  message, message_size);
  }
  if (json == nullptr && json_size > 0) {
    return refuse(KestravInputError, "the JSON buffer is null but its size is not 0", message,
                  message_size);
  }
  // Fields beyond the caller's layout keep their defaults.
  kestrav_search_request given = kestrav_default_request();
  std::memcpy(&given, request, request->struct_size);
  try {
    const kestrav::SearchRequest search = searchRequestOf(given);
    const std::string document = kestrav::formatJson(search, kestrav::runSearchRequest(search));
    if (json_length != nullptr) *json_length = document.size();
    if (json_size <= document.size()) {
      return refuse(KestravInputError,
                    "the JSON document needs " + std::to_string(document.size() + 1) +
                        " bytes with its terminator; the buffer holds " + std::to_string(json_size),
                    message, message_size);
    }
    std::memcpy(json, document.c_str(), document.size() + 1);
    copyMessage("", message, message_size);
    return KestravOk;
  } catch (...) {
    return refuseCurrent(message, message_size);
  }
}
