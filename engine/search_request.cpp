#include "engine/search_request.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "engine/sample_loader.hpp"
#include "platform/host/errors.hpp"
#include "platform/host/worker_threads.hpp"

#ifndef KESTRAV_VERSION
#define KESTRAV_VERSION "unknown"
#endif

namespace kestrav {
namespace {

std::string formatted(const char* format, double value) {
  char text[320];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Keeps only the results classed as emitters, in their order.
void keepEmitters(SearchOutcome& outcome) {
  std::size_t kept = 0;
  for (std::size_t r = 0; r < outcome.results.size(); ++r) {
    if (r < outcome.qualities.size() && outcome.qualities[r].resultClass != ResultClass::Emitter) {
      continue;
    }
    outcome.results[kept] = outcome.results[r];
    outcome.candidates[kept] = std::move(outcome.candidates[r]);
    if (r < outcome.qualities.size()) outcome.qualities[kept] = std::move(outcome.qualities[r]);
    ++kept;
  }
  outcome.results.resize(kept);
  outcome.candidates.resize(kept);
  outcome.qualities.resize(std::min(kept, outcome.qualities.size()));
}

bool isSigmf(const Recording& recording) {
  return recording.kind == RecordingKind::Sigmf || recording.kind == RecordingKind::SigmfArchive;
}

// Where the searched segments lie in the recordings, before anything is read; null when the
// window does not fit (the search says so itself).
std::optional<std::pair<SegmentPlacement, long long>> placementOf(const Recording& first,
                                                                  const Recording& second,
                                                                  int sampleCount,
                                                                  const LagWindow& window) {
  const SegmentPlacement placement =
      placeSegments(first.samples, second.samples, window.centreLag, window.lagCount);
  if (placement.firstAvailable < 0 || placement.secondAvailable < 0) return std::nullopt;
  const long long count =
      std::min<long long>({sampleCount, placement.firstAvailable, placement.secondAvailable});
  return std::pair{placement, count};
}

// A retune inside a searched segment is worth knowing: the results may mix two tunings.
std::vector<std::string> captureWarnings(const SearchRequest& request, const LagWindow& window) {
  const auto placed =
      placementOf(request.first, request.second, request.parameters.sampleCount, window);
  if (!placed) return {};
  const auto& [placement, count] = *placed;
  std::vector<std::string> warnings =
      captureBoundaryWarnings(request.first, placement.firstStart, count, "first");
  for (std::string& warning : captureBoundaryWarnings(request.second, placement.secondStart,
                                                      count + window.lagCount, "second")) {
    warnings.push_back(std::move(warning));
  }
  return warnings;
}

// The recording's tuning where its segment starts (at `segmentStart`) and its start time.
RecordingEcho echoOf(const Recording& recording, long long segmentStart, double sampleRate,
                     const std::optional<StartTime>& origin) {
  RecordingEcho echo;
  if (const SigmfCapture* capture = captureAt(recording, segmentStart)) {
    echo.frequency = capture->frequency;
  }
  for (const SigmfCapture& capture : recording.captures) {
    if (!capture.datetime.empty()) {
      echo.datetime = capture.datetime;
      break;
    }
  }
  // Whole seconds counted from the origin's before the fractions are added: a double of the
  // seconds since 1970 would keep only a few hundred nanoseconds.
  const std::optional<StartTime> start = startTimeOf(recording, sampleRate);
  if (start && origin) {
    echo.startSeconds = static_cast<double>(start->seconds - origin->seconds) + start->fraction;
  }
  return echo;
}

std::string hertz(double value) { return formatted("%.17g Hz", value); }

// What standard error says of a precise estimate whose model does not hold: the faults seen in
// the data, else that echoes could not have been seen.
std::string preciseMismatchWarning(unsigned flags) {
  constexpr unsigned Seen =
      PreciseFlag::LobeTooWide | PreciseFlag::SpectrumBends | PreciseFlag::PartsDisagree;
  std::string reasons;
  for (const char* name : preciseFlagNames(flags)) {
    reasons += reasons.empty() ? "" : ", ";
    reasons += name;
  }
  const std::string what =
      (flags & Seen) != 0 || (flags & PreciseFlag::EchoesUnseen) == 0
          ? "does not fit its model (echoes too close to resolve, or parts of the segment that "
            "disagree)"
          : "cannot rule out echoes (its peak is too wide to show them, or lines both recordings "
            "share hold its power)";
  return "the best result's precise estimate " + what +
         "; its deviations are widened, and --json gives model_mismatch" +
         (reasons.empty() ? "" : " (" + reasons + ")");
}

}  // namespace

std::vector<std::string> unsureWarnings(const SearchOutcome& outcome, bool reportPrecise) {
  std::vector<std::string> warnings;
  if (outcome.qualities.empty() || outcome.candidates.empty()) return warnings;
  const ResultQuality& best = outcome.qualities.front();
  // Noise and the DC ridge have no true place beyond the edge to point at.
  if (best.classified && best.resultClass != ResultClass::Emitter) return warnings;
  if (best.atDelayEdge) {
    const bool first = outcome.candidates.front().lagIndex == 0;
    warnings.push_back(std::string("the best result lies on the ") + (first ? "first" : "last") +
                       " lag of the delay window; widen -r/--rr or move -c/--cc " +
                       (first ? "lower" : "higher"));
  }
  if (best.atFrequencyEdge) {
    warnings.push_back(
        "the best result lies on the edge of the frequency band; widen --frequency-span");
  }
  if (best.aliasAmbiguous) {
    warnings.push_back(
        formatted("the best result's frequency offset may be an alias: its images "
                  "%.3f Hz apart are alike at the full rate; widen "
                  "--frequency-span",
                  outcome.sizes.decimatedRate));
  }
  if (best.ambiguous && best.runnerUp) {
    char text[320];
    std::snprintf(text, sizeof text,
                  "the best result cannot be told from another at %.3f us, %.3f Hz (a comb tooth "
                  "or an echo); --json gives both",
                  best.runnerUp->delay * 1e6, best.runnerUp->frequencyOffset);
    warnings.push_back(text);
  }
  const std::optional<PreciseEstimate>& precise = outcome.candidates.front().precise;
  if (reportPrecise && precise && (precise->flags & PreciseFlag::ModelMismatch) != 0) {
    warnings.push_back(preciseMismatchWarning(precise->flags));
  }
  return warnings;
}

SearchReport runSearchRequest(const SearchRequest& request) {
  SearchReport report;
  report.warnings = request.warnings;
  const auto warn = [&](std::string warning) {
    if (request.warn) request.warn(warning);
    report.warnings.push_back(std::move(warning));
  };
  // The parameters are checked before any recording is opened.
  const LagWindow window = validateSearch(request.parameters);
  for (std::string& warning : captureWarnings(request, window)) warn(std::move(warning));
  {
    const WorkerThreadLimit limit(request.threads);
    report.workerThreads = workerThreadLimit();
    report.outcome =
        searchSources(openRecording(request.first, "first"),
                      openRecording(request.second, "second"), request.parameters, request.options);
  }
  SearchOutcome& outcome = report.outcome;
  for (std::string& warning : unsureWarnings(outcome, request.options.reportPrecise)) {
    warn(std::move(warning));
  }
  if (request.distinct) keepEmitters(outcome);
  if (isSigmf(request.first) || isSigmf(request.second)) {
    const double rate = request.parameters.sampleRate;
    const std::optional<StartTime> origin = startTimeOf(request.first, rate);
    const SegmentPlacement placement =
        placeSegments(request.first.samples, request.second.samples, outcome.window.centreLag,
                      outcome.window.lagCount);
    report.firstEcho = echoOf(request.first, placement.firstStart, rate, origin);
    report.secondEcho = echoOf(request.second, placement.secondStart, rate, origin);
  }
  return report;
}

double sampleRateOf(double given, const Recording& first, const Recording& second) {
  if (!std::isfinite(given) || given < 0.0) {
    throw InputError("the sample rate " + hertz(given) +
                     " must be a finite number above 0, or 0 to take the recordings' own");
  }
  if (first.sampleRate > 0.0 && second.sampleRate > 0.0 && first.sampleRate != second.sampleRate) {
    throw InputError("the two recordings' sample rates differ: " + hertz(first.sampleRate) +
                     " and " + hertz(second.sampleRate));
  }
  const bool fromFirst = first.sampleRate > 0.0;
  const double own = fromFirst ? first.sampleRate : second.sampleRate;
  if (given > 0.0) {
    if (own > 0.0 && own != given) {
      throw InputError("the sample rate " + hertz(given) + " disagrees with the " +
                       (fromFirst ? "first" : "second") + " recording's own, " + hertz(own));
    }
    return given;
  }
  if (!(own > 0.0)) {
    throw InputError("the sample rate is needed: neither recording gives its own");
  }
  return own;
}

std::optional<BackendKind> backendNamed(std::string_view name) {
  if (name == "auto") return BackendKind::Automatic;
  if (name == "host") return BackendKind::Host;
  if (name == "cuda") return BackendKind::Cuda;
  if (name == "reference") return BackendKind::Reference;
  return std::nullopt;
}

const char* backendKindName(BackendKind kind) {
  switch (kind) {
    case BackendKind::Host:
      return "host";
    case BackendKind::Cuda:
      return "cuda";
    case BackendKind::Reference:
      return "reference";
    case BackendKind::Automatic:
      break;
  }
  return "auto";
}

const char* kestravVersion() { return KESTRAV_VERSION; }

}  // namespace kestrav
