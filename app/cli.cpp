#include "app/cli.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/file_output.hpp"
#include "app/help_text.hpp"
#include "app/json_report.hpp"
#include "app/npy_map.hpp"
#include "app/plot_svg.hpp"
#include "app/program_options.hpp"
#include "app/progress_line.hpp"
#include "app/report.hpp"
#include "app/surface_csv.hpp"
#include "engine/recording.hpp"
#include "engine/sample_loader.hpp"
#include "platform/host/errors.hpp"
#include "engine/search.hpp"

namespace kestrav {
namespace {

// One line whatever the reason quotes: control characters (a newline in a path, say) are shown
// as \xNN escapes.
std::string oneLine(const std::string& text) {
  std::string line;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      line += escape;
    } else {
      line += c;
    }
  }
  return line;
}

int fail(std::FILE* err, const std::string& reason, int status) {
  std::fprintf(err, "kestrav: %s\n", oneLine(reason).c_str());
  return status;
}

// Where the best result cannot be sure: on an edge of the search (its true place may lie beyond:
// say which limit to widen), an undecided alias, or a competitor it cannot be told from.
void warnWhereUnsure(const SearchOutcome& outcome, std::FILE* err) {
  if (outcome.qualities.empty() || outcome.candidates.empty()) return;
  const ResultQuality& best = outcome.qualities.front();
  // Noise and the DC ridge have no true place beyond the edge to point at.
  if (best.classified && best.resultClass != ResultClass::Emitter) return;
  if (best.atDelayEdge) {
    const bool first = outcome.candidates.front().lagIndex == 0;
    std::fprintf(err,
                 "kestrav: warning: the best result lies on the %s lag of the delay window; "
                 "widen -r/--rr or move -c/--cc %s\n",
                 first ? "first" : "last", first ? "lower" : "higher");
  }
  if (best.atFrequencyEdge) {
    std::fprintf(err,
                 "kestrav: warning: the best result lies on the edge of the frequency band; "
                 "widen --frequency-span\n");
  }
  if (best.aliasAmbiguous) {
    std::fprintf(err,
                 "kestrav: warning: the best result's frequency offset may be an alias: its "
                 "images %.3f Hz apart are alike at the full rate; widen --frequency-span\n",
                 outcome.sizes.decimatedRate);
  }
  if (best.ambiguous && best.runnerUp) {
    std::fprintf(err,
                 "kestrav: warning: the best result cannot be told from another at %.3f us, "
                 "%.3f Hz (a comb tooth or an echo); --json gives both\n",
                 best.runnerUp->delay * 1e6, best.runnerUp->frequencyOffset);
  }
}

// Keeps only the results classed as emitters, in their order.
void keepEmitters(SearchOutcome& outcome) {
  std::size_t kept = 0;
  for (std::size_t r = 0; r < outcome.results.size(); ++r) {
    if (r < outcome.qualities.size() &&
        outcome.qualities[r].resultClass != ResultClass::Emitter) {
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

void write(std::FILE* out, const std::string& text) {
  std::fputs(text.c_str(), out);
  if (std::fflush(out) != 0) {
    throw ResourceError(std::string("cannot write the results: ") + std::strerror(errno));
  }
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
  const long long count = std::min<long long>(
      {sampleCount, placement.firstAvailable, placement.secondAvailable});
  return std::pair{placement, count};
}

// A retune inside a searched segment is worth knowing: the results may mix two tunings.
std::vector<std::string> captureWarnings(const ProgramOptions& options,
                                         const SearchParameters& parameters,
                                         const LagWindow& window) {
  const auto placed = placementOf(options.firstRecording, options.secondRecording,
                                  parameters.sampleCount, window);
  if (!placed) return {};
  const auto& [placement, count] = *placed;
  std::vector<std::string> warnings =
      captureBoundaryWarnings(options.firstRecording, placement.firstStart, count, "first");
  for (std::string& warning : captureBoundaryWarnings(
           options.secondRecording, placement.secondStart, count + window.lagCount, "second")) {
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

int search(int argc, const char* const* argv, std::FILE* out, std::FILE* err,
           ComputeBackend* backendOverride) {
  const ProgramOptions options = readOptions(argc, argv);
  if (options.help) {
    write(out, usageText());
    return 0;
  }
  if (options.version) {
    write(out, versionText());
    return 0;
  }
  for (const std::string& warning : options.warnings) {
    std::fprintf(err, "kestrav: warning: %s\n", oneLine(warning).c_str());
  }

  const SearchParameters parameters = searchParametersOf(options);
  SearchOptions search{options.backend, backendOverride, {}};
  search.driver.refineAll = options.refineAll;
  // JSON always carries the precise estimate of every refined result beside the refinement's.
  search.driver.precise = options.precise || options.json;
  search.reportPrecise = options.precise;
  search.driver.keepSurface = !options.surfacePath.empty() || !options.plotPath.empty();
  if (!options.plotPath.empty()) {
    search.driver.traceHalfWidth = PlotTraceHalfWidth;
    search.driver.patchHalfLags = PlotPatchHalfLags;
    search.driver.patchHalfBins = PlotPatchHalfBins;
  }
  search.driver.classify = options.json || options.distinct || !options.plotPath.empty();
  search.driver.falseAlarm = options.falseAlarm;
  search.driver.keepMap = !options.mapPath.empty();
  search.removeDc = options.removeDc;
  std::unique_ptr<ProgressLine> progress;
  if (!options.quiet && ::isatty(::fileno(err))) {
    const int lagCount = validateSearch(parameters).lagCount;
    progress = std::make_unique<ProgressLine>(err, lagCount);
    search.driver.progress = [line = progress.get()](int lagsDone) { line->update(lagsDone); };
  }
  // The parameters are checked before any recording is opened.
  const LagWindow window = validateSearch(parameters);
  for (const std::string& warning : captureWarnings(options, parameters, window)) {
    std::fprintf(err, "kestrav: warning: %s\n", oneLine(warning).c_str());
  }
  SearchOutcome outcome =
      searchSources(openRecording(options.firstRecording, "first"),
                    openRecording(options.secondRecording, "second"), parameters, search);
  if (progress) progress->clear();
  warnWhereUnsure(outcome, err);
  if (options.distinct) keepEmitters(outcome);

  // The files first: a failure there leaves standard output empty.
  if (!options.surfacePath.empty()) {
    writeFileAtomically(options.surfacePath, formatSurfaceCsv(outcome, parameters.sampleRate),
                        "the lag surface");
  }
  if (!options.mapPath.empty()) {
    writeFileAtomically(options.mapPath,
                        formatNpy(outcome.map, static_cast<std::uint64_t>(outcome.window.lagCount),
                                  outcome.sizes.fftLength),
                        "the surface map");
  }
  if (!options.plotPath.empty()) {
    writeFileAtomically(options.plotPath,
                        renderPlotSvg(outcome, parameters,
                                      "kestrav: " + options.firstPath + " against " +
                                          options.secondPath),
                        "the plot");
  }
  if (options.json) {
    if (isSigmf(options.firstRecording) || isSigmf(options.secondRecording)) {
      const double rate = parameters.sampleRate;
      const std::optional<StartTime> origin = startTimeOf(options.firstRecording, rate);
      const SegmentPlacement placement =
          placeSegments(options.firstRecording.samples, options.secondRecording.samples,
                        outcome.window.centreLag, outcome.window.lagCount);
      write(out, formatJson(outcome, parameters,
                            echoOf(options.firstRecording, placement.firstStart, rate, origin),
                            echoOf(options.secondRecording, placement.secondStart, rate, origin)));
    } else {
      write(out, formatJson(outcome, parameters));
    }
  } else if (!outcome.results.empty()) {
    write(out, formatResults(outcome.results));
  }
  return 0;
}

}  // namespace

int runCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err,
                   ComputeBackend* backendOverride) {
  try {
    return search(argc, argv, out, err, backendOverride);
  } catch (const SearchError& error) {
    return fail(err, error.what(), error.exitStatus());
  } catch (const std::bad_alloc&) {
    return fail(err, "out of memory", 1);
  } catch (const std::exception& error) {
    return fail(err, error.what(), 1);
  }
}

}  // namespace kestrav
