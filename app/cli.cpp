#include "app/cli.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "app/file_output.hpp"
#include "app/help_text.hpp"
#include "app/npy_map.hpp"
#include "app/one_line.hpp"
#include "app/plot_svg.hpp"
#include "app/program_options.hpp"
#include "app/progress_line.hpp"
#include "app/report.hpp"
#include "app/surface_csv.hpp"
#include "engine/result_json.hpp"
#include "engine/search.hpp"
#include "engine/search_request.hpp"
#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

int fail(std::FILE* err, const std::string& reason, int status) {
  std::fprintf(err, "kestrav: %s\n", oneLine(reason).c_str());
  return status;
}

void write(std::FILE* out, const std::string& text) {
  std::fputs(text.c_str(), out);
  if (std::fflush(out) != 0) {
    throw ResourceError(std::string("cannot write the results: ") + std::strerror(errno));
  }
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

  SearchRequest request;
  request.firstPath = options.firstPath;
  request.secondPath = options.secondPath;
  request.first = options.firstRecording;
  request.second = options.secondRecording;
  request.channel = options.channel;
  request.parameters = searchParametersOf(options);
  request.distinct = options.distinct;
  request.threads = options.threads;
  request.warnings = options.warnings;
  const SearchParameters& parameters = request.parameters;
  SearchOptions& search = request.options;
  search.backend = options.backend;
  search.backendOverride = backendOverride;
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
  request.warn = [&](const std::string& warning) {
    if (progress) progress->clear();
    std::fprintf(err, "kestrav: warning: %s\n", oneLine(warning).c_str());
  };
  const SearchReport report = runSearchRequest(request);
  if (progress) progress->clear();
  const SearchOutcome& outcome = report.outcome;

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
    writeFileAtomically(
        options.plotPath,
        renderPlotSvg(outcome, parameters,
                      "kestrav: " + options.firstPath + " against " + options.secondPath),
        "the plot");
  }
  if (options.json) {
    write(out, formatJson(request, report));
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
