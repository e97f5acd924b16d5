#include "engine/search_driver.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>

#include "engine/kestrav.h"
#include "engine/peak_picking.hpp"
#include "engine/result_classes.hpp"
#include "platform/host/errors.hpp"
#include "platform/host/worker_threads.hpp"

namespace kestrav {
namespace {

// Descending level; a level that is not a number sorts after every number.
bool strongerThan(const SearchCandidate& a, const SearchCandidate& b) {
  if (std::isnan(a.level)) return false;
  return std::isnan(b.level) || a.level > b.level;
}

class Stopwatch {
 public:
  double lap() {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - last_).count();
    last_ = now;
    return seconds;
  }

 private:
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// The pair's segments in their own sample type.
SegmentSpans segmentsOf(const SamplePair& pair) {
  if (pair.floatSamples) return SpanPair<float2>{pair.firstFloat, pair.secondFloat};
  return SpanPair<short2>{pair.first, pair.second};
}

}  // namespace

void refineCandidate(SearchCandidate& candidate, const SamplePair& pair, int n, double sampleRate,
                     int traceHalfWidth, ComputeBackend& backend) {
  FineRequest request;
  request.segments = pointersAt(segmentsOf(pair), candidate.lagIndex);
  request.sampleCount = n;
  request.sampleRate = sampleRate;
  request.frequencyOffset = candidate.frequencyOffset;
  request.traceHalfWidth = traceHalfWidth;
  candidate.refinement = backend.refine(request);
  candidate.frequencyOffset += candidate.refinement.frequency.correction;
  candidate.delay += candidate.refinement.delay.correction;
  candidate.refined = true;
}

PreciseEstimate estimateCandidatePrecisely(const SearchCandidate& candidate, const SamplePair& pair,
                                           int n, int lagCount, int firstLag, double sampleRate,
                                           ComputeBackend& backend) {
  PreciseRequest request;
  // Beyond the candidate's lag the second segment offers its neighbours as margin.
  request.segments = pointersAt(segmentsOf(pair), candidate.lagIndex);
  request.sampleCount = n;
  request.secondBefore = candidate.lagIndex;
  request.secondAfter = lagCount - candidate.lagIndex;
  request.sampleRate = sampleRate;
  request.delay = candidate.delay;
  request.lagDelay = static_cast<double>(firstLag + candidate.lagIndex) / sampleRate;
  request.frequencyOffset = candidate.frequencyOffset;
  request.refinement = candidate.refinement;
  return estimatePrecisely(request, backend.precisePrimitives());
}

SearchRun runSearch(const SamplePair& pair, const SearchParameters& parameters,
                    const LagWindow& window, ComputeBackend& backend,
                    const DriverOptions& options) {
  const int n = parameters.sampleCount;
  SearchRun run;
  run.sizes =
      deriveCoarseSizes(n, parameters.sampleRate, window.lagCount, parameters.frequencySpan);
  run.peakThreshold = parameters.peakThreshold;
  run.classFalseAlarm = DefaultFalseAlarm;
  // Fewer samples than one decimation run: no lag can be evaluated.
  if (run.sizes.decimatedLength == 0) return run;

  Stopwatch stopwatch;
  std::vector<LagCell> cells(static_cast<std::size_t>(window.lagCount));
  CoarseRequest request;
  request.segments = segmentsOf(pair);
  request.sampleCount = n;
  request.lagCount = window.lagCount;
  request.sampleRate = parameters.sampleRate;
  request.frequencySpan = parameters.frequencySpan;
  request.progress = options.progress;
  backend.coarseSearch(request, cells);
  run.times.coarseSearch = stopwatch.lap();

  const bool probabilityThreshold = options.falseAlarm > 0.0 && options.falseAlarm < 1.0;
  run.peakThreshold = probabilityThreshold
                          ? noiseLevelDb(run.sizes, window.lagCount, options.falseAlarm)
                          : parameters.peakThreshold;
  run.classFalseAlarm = probabilityThreshold ? options.falseAlarm : DefaultFalseAlarm;
  run.noiseLevel = noiseLevelDb(run.sizes, window.lagCount, run.classFalseAlarm);
  std::vector<int> peaks;
  pickPeaks(cells, peaks, run.peakThreshold, PeakGap);
  std::vector<SearchCandidate>& candidates = run.candidates;
  for (const int k : peaks) {
    const LagCell& cell = cells[static_cast<std::size_t>(k)];
    const double delay = static_cast<double>(window.firstLag + k) / parameters.sampleRate;
    // Comparisons with a value that is not a number are false: such a peak passes.
    if (parameters.minAbsDelay > std::fabs(delay)) continue;
    if (parameters.minAbsFrequency > std::fabs(cell.frequencyOffset)) continue;
    candidates.push_back({k, delay, cell.frequencyOffset, cell.level, false, {}, std::nullopt});
  }
  // Stable, so that equal levels keep their lag order on every backend.
  std::stable_sort(candidates.begin(), candidates.end(), strongerThan);
  if (candidates.size() > MaxResults) candidates.resize(MaxResults);
  run.times.peakPicking = stopwatch.lap();

  const ProbeContext context{pair, n, window, run.sizes, parameters.sampleRate};
  run.qualities.assign(candidates.size(), ResultQuality{});
  // Each candidate's images are independent of the others': one task each.
  const auto candidateCount = static_cast<int>(candidates.size());
  std::atomic<int> next{0};
  runOnWorkers(workerCountFor(candidateCount), [&](int) {
    for (int c = next++; c < candidateCount; c = next++) {
      const auto at = static_cast<std::size_t>(c);
      run.qualities[at].coarseFrequency = candidates[at].frequencyOffset;
      if (options.checkAliases) checkAlias(context, candidates[at], run.qualities[at]);
    }
  });
  run.times.aliasChecks = stopwatch.lap();

  if (parameters.refine && n >= MinRefineSamples) {
    // The precise estimate fits each zoom's maximum and its neighbours.
    const int traceHalfWidth = std::max(options.traceHalfWidth, options.precise ? 3 : 0);
    // Each refinement is independent; the order stays that of the coarse levels.
    const std::size_t refined =
        options.refineAll ? candidates.size() : std::min<std::size_t>(1, candidates.size());
    for (std::size_t c = 0; c < refined; ++c) {
      SearchCandidate& candidate = candidates[c];
      refineCandidate(candidate, pair, n, parameters.sampleRate, traceHalfWidth, backend);
      if (c == 0 && options.weighCompetitors) {
        weighCompetitors(context, candidate, run.qualities[c], traceHalfWidth, backend);
      }
      if (options.precise) {
        candidate.precise = estimateCandidatePrecisely(
            candidate, pair, n, window.lagCount, window.firstLag, parameters.sampleRate, backend);
      }
    }
  }
  run.times.refinement = stopwatch.lap();
  flagEdges(context, candidates, run.qualities);
  // Without classes asked for, the best alone is classed (noise and DC cost little), so that
  // its warnings speak only of an emitter.
  const std::size_t classified =
      options.classify ? candidates.size() : std::min<std::size_t>(1, candidates.size());
  classifyResults(context, std::span(candidates).first(classified),
                  std::span(run.qualities).first(classified), run.classFalseAlarm);
  if (options.keepMap) run.map = coarseSurfaceMap(context);
  if (options.patchHalfLags > 0 && !candidates.empty()) {
    run.patch = coarseNeighbourhood(context, candidates[0], run.qualities[0], options.patchHalfLags,
                                    options.patchHalfBins);
  }
  run.times.classification = stopwatch.lap();
  if (options.keepSurface) run.surface = std::move(cells);
  return run;
}

}  // namespace kestrav
