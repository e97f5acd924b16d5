#include "engine/search.hpp"

#include <chrono>

#include "engine/memory_budget.hpp"
#include "engine/result_classes.hpp"
#include "engine/sample_loader.hpp"
#include "platform/host/errors.hpp"

namespace kestrav {

SearchOutcome searchRecordings(const char* firstPath, const char* secondPath,
                               SearchParameters parameters, const SearchOptions& options) {
  if (firstPath == nullptr || secondPath == nullptr) {
    throw InputError("a recording path is missing");
  }
  return searchRecordings(RecordingFile{firstPath, SampleFormat::Ci16},
                          RecordingFile{secondPath, SampleFormat::Ci16}, parameters, options);
}

SearchOutcome searchRecordings(const RecordingFile& first, const RecordingFile& second,
                               SearchParameters parameters, const SearchOptions& options) {
  // The parameters are checked before any file is opened.
  validateSearch(parameters);
  return searchSources(openSampleFile(first.path, first.format, "first"),
                       openSampleFile(second.path, second.format, "second"), parameters, options);
}

SearchOutcome searchSources(std::unique_ptr<SampleSource> first,
                            std::unique_ptr<SampleSource> second, SearchParameters parameters,
                            const SearchOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  const LagWindow window = validateSearch(parameters);
  SamplePairSource source(std::move(first), std::move(second), parameters.sampleCount,
                          window.centreLag, window.lagCount);
  parameters.sampleCount = source.sampleCount();
  MemoryNeed need;
  need.add("recordings", source.segmentBytes());
  if (options.driver.keepMap) {
    const CoarseSizes sizes = deriveCoarseSizes(parameters.sampleCount, parameters.sampleRate,
                                                window.lagCount, parameters.frequencySpan);
    need.add("the surface map", static_cast<std::uint64_t>(window.lagCount) * sizes.fftLength * 4);
  }
  if (options.removeDc) need.add("the centred recordings", source.segmentBytes() * 2);
  requireMemory(need, memoryAvailableBytes());
  SamplePair pair = source.read();
  if (options.removeDc) removeMeans(pair);

  std::unique_ptr<ComputeBackend> owned;
  ComputeBackend* backend = options.backendOverride;
  if (backend == nullptr) {
    owned = makeBackend(options.backend);
    backend = owned.get();
  }

  SearchOutcome outcome;
  outcome.sampleCount = parameters.sampleCount;
  outcome.window = window;
  outcome.backendName = backend->name();
  outcome.loadSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  SearchRun run = runSearch(pair, parameters, window, *backend, options.driver);
  for (const SearchCandidate& candidate : run.candidates) {
    const bool precise = options.reportPrecise && candidate.precise.has_value();
    outcome.results.push_back(
        {precise ? candidate.precise->delay : candidate.delay,
         precise ? candidate.precise->frequencyOffset : candidate.frequencyOffset,
         candidate.level});
  }
  outcome.candidates = std::move(run.candidates);
  outcome.surface = std::move(run.surface);
  outcome.sizes = run.sizes;
  outcome.times = run.times;
  outcome.qualities = std::move(run.qualities);
  outcome.peakThreshold = run.peakThreshold;
  outcome.classFalseAlarm = run.classFalseAlarm;
  outcome.noiseLevel = run.noiseLevel;
  outcome.map = std::move(run.map);
  outcome.patch = std::move(run.patch);
  return outcome;
}

}  // namespace kestrav
