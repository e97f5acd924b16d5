#include "engine/search.hpp"

#include "engine/errors.hpp"
#include "engine/memory_budget.hpp"
#include "engine/sample_loader.hpp"
#include "engine/search_driver.hpp"

namespace kestrav {

SearchOutcome searchRecordings(const char* firstPath, const char* secondPath,
                               SearchParameters parameters, const SearchOptions& options) {
  if (firstPath == nullptr || secondPath == nullptr) {
    throw InputError("a recording path is missing");
  }
  const LagWindow window = validateSearch(parameters);
  SamplePairSource source(firstPath, secondPath, parameters.sampleCount, window.centreLag,
                          window.lagCount);
  parameters.sampleCount = source.sampleCount();
  MemoryNeed need;
  need.add("recordings", source.segmentBytes());
  requireMemory(need, memoryAvailableBytes());
  const SamplePair pair = source.read();

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
  for (const SearchCandidate& candidate : runSearch(pair, parameters, window, *backend)) {
    outcome.results.push_back({candidate.delay, candidate.frequencyOffset, candidate.level});
  }
  return outcome;
}

}  // namespace kestrav
