#include "batch/job_windows.hpp"

#include <algorithm>
#include <climits>
#include <new>

#include "engine/sample_loader.hpp"
#include "platform/host/errors.hpp"

namespace kestrav::batch {
namespace {

class WindowSource : public SampleSource {
 public:
  explicit WindowSource(const WindowSamples& window)
      : SampleSource(window.format,
                     window.lead + static_cast<long long>(window.format == SampleFormat::Cf32
                                                              ? window.floats.size()
                                                              : window.ints.size()),
                     window.label),
        window_(window) {}

  void read(long long start, std::size_t count, short2* out) override {
    if (window_.format == SampleFormat::Cf32) {
      throw InputError("float samples of " + label() + " cannot be read as int16 pairs");
    }
    const std::size_t at = firstIndex(start, count);
    std::copy_n(window_.ints.begin() + static_cast<std::ptrdiff_t>(at), count, out);
  }

  void read(long long start, std::size_t count, float2* out) override {
    const std::size_t at = firstIndex(start, count);
    if (window_.format == SampleFormat::Cf32) {
      std::copy_n(window_.floats.begin() + static_cast<std::ptrdiff_t>(at), count, out);
      return;
    }
    for (std::size_t k = 0; k < count; ++k) {
      const short2 value = window_.ints[at + k];
      out[k] = float2{static_cast<float>(value.x), static_cast<float>(value.y)};
    }
  }

 private:
  // The search reads only the segment; anything else would be samples nobody planned.
  std::size_t firstIndex(long long start, std::size_t count) const {
    if (start < window_.lead || start + static_cast<long long>(count) > samples()) {
      throw InputError("the search read samples of " + label() + " outside its window");
    }
    return static_cast<std::size_t>(start - window_.lead);
  }

  const WindowSamples& window_;
};

}  // namespace

SearchParameters parametersOf(const Job& job) {
  SearchParameters parameters;
  parameters.sampleCount = job.samples;
  parameters.sampleRate = job.rateHz;
  parameters.centreDelay = job.search.centreUs * 1e-6;
  parameters.delayWindow = job.search.rangeUs * 1e-6;
  parameters.frequencySpan = job.search.frequencySpanHz;
  parameters.peakThreshold = job.search.thresholdDb;
  parameters.refine = true;
  return parameters;
}

std::unique_ptr<SampleSource> windowSource(const WindowSamples& window) {
  return std::make_unique<WindowSource>(window);
}

JobFailure currentFailure() {
  try {
    throw;
  } catch (const InputError& error) {
    return {"input_error", error.what()};
  } catch (const std::bad_alloc&) {
    return {"failed", "out of memory"};
  } catch (const std::exception& error) {
    return {"failed", error.what()};
  } catch (...) {
    return {"failed", "an unknown error"};
  }
}

RecordingShelf::Opened& RecordingShelf::open(const JobSide& side, const char* role) {
  const std::string key = side.path + '\n' + side.format + '\n' + std::to_string(side.channel);
  const auto found = opened_.find(key);
  if (found != opened_.end()) return found->second;
  Opened& opened = opened_[key];
  try {
    RecordingRequest request;
    request.format = formatNamed(side.format);
    if (!request.format) throw InputError("'" + side.format + "' is not a sample format");
    request.channel = side.channel;
    opened.recording = describeRecording(side.path, request, role);
    opened.source = openRecording(opened.recording, role);
  } catch (const InputError& error) {
    // Kept, so that every job of the recording says the same without trying again.
    opened.error = error.what();
  }
  return opened;
}

void RecordingShelf::readSide(const Job& job, const JobSide& side, const char* role, long long from,
                              long long count, long long lead, WindowSamples& into,
                              std::vector<std::string>& warnings) {
  Opened& opened = open(side, role);
  if (!opened.source) throw InputError(opened.error);
  const Recording& recording = opened.recording;
  if (recording.sampleRate > 0.0 && recording.sampleRate != job.rateHz) {
    throw InputError("the " + std::string(role) + " recording " + recording.label +
                     " now gives a sample rate other than the plan's");
  }
  if (from < 0 || from + count > recording.samples) {
    throw InputError("the " + std::string(role) + " recording " + recording.label + " holds " +
                     std::to_string(recording.samples) + " samples; the job needs samples " +
                     std::to_string(from) + " to " + std::to_string(from + count - 1) +
                     " (was it cut short after planning?)");
  }
  into.label = recording.label;
  into.lead = lead;
  const auto n = static_cast<std::size_t>(count);
  if (fitsInt16(recording.format)) {
    into.format = SampleFormat::Ci16;
    into.ints.resize(n);
    opened.source->read(from, n, into.ints.data());
  } else {
    into.format = SampleFormat::Cf32;
    into.floats.resize(n);
    opened.source->read(from, n, into.floats.data());
  }
  for (std::string& warning : captureBoundaryWarnings(recording, from, count, role)) {
    warnings.push_back(std::move(warning));
  }
}

JobWindows RecordingShelf::read(const Job& job) {
  JobWindows windows;
  windows.parameters = parametersOf(job);
  try {
    const LagWindow lags = validateSearch(windows.parameters);
    // Where the search will place its segments in a view; each view is given that many unread
    // samples before its segment.
    const SegmentPlacement placement =
        placeSegments(LLONG_MAX / 4, LLONG_MAX / 4, lags.centreLag, lags.lagCount);
    readSide(job, job.first, "first", job.first.offset, job.samples, placement.firstStart,
             windows.first, windows.warnings);
    readSide(job, job.second, "second", job.second.offset + lags.firstLag,
             static_cast<long long>(job.samples) + lags.lagCount, placement.secondStart,
             windows.second, windows.warnings);
  } catch (...) {
    JobFailure failure = currentFailure();
    windows.status = std::move(failure.status);
    windows.reason = std::move(failure.reason);
  }
  return windows;
}

}  // namespace kestrav::batch
