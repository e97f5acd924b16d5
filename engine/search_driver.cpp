#include "engine/search_driver.hpp"

#include <algorithm>
#include <cmath>

#include "engine/kestrav.h"
#include "engine/peak_picking.hpp"
#include "tdc/coarse_search.hpp"

namespace kestrav {
namespace {

// Descending level; a level that is not a number sorts after every number.
bool strongerThan(const SearchCandidate& a, const SearchCandidate& b) {
  if (std::isnan(a.level)) return false;
  return std::isnan(b.level) || a.level > b.level;
}

}  // namespace

void refineCandidate(SearchCandidate& candidate, const short2* first, const short2* second, int n,
                     double sampleRate, ComputeBackend& backend) {
  FineRequest request;
  request.first = first;
  request.second = second + candidate.lagIndex;
  request.sampleCount = n;
  request.sampleRate = sampleRate;
  request.frequencyOffset = candidate.frequencyOffset;
  const Refinement refinement = backend.refine(request);
  candidate.frequencyOffset += refinement.frequency.correction;
  candidate.delay += refinement.delay.correction;
}

std::vector<SearchCandidate> runSearch(const SamplePair& pair, const SearchParameters& parameters,
                                       const LagWindow& window, ComputeBackend& backend) {
  const int n = parameters.sampleCount;
  std::vector<SearchCandidate> candidates;
  // Fewer samples than one decimation run: no lag can be evaluated.
  if (deriveCoarseSizes(n, parameters.sampleRate, window.lagCount, parameters.frequencySpan)
          .decimatedLength == 0) {
    return candidates;
  }

  std::vector<LagCell> cells(static_cast<std::size_t>(window.lagCount));
  CoarseRequest request;
  request.first = pair.first;
  request.second = pair.second;
  request.sampleCount = n;
  request.lagCount = window.lagCount;
  request.sampleRate = parameters.sampleRate;
  request.frequencySpan = parameters.frequencySpan;
  backend.coarseSearch(request, cells);

  std::vector<int> peaks;
  pickPeaks(cells, peaks, parameters.peakThreshold, PeakGap);
  for (const int k : peaks) {
    const LagCell& cell = cells[static_cast<std::size_t>(k)];
    const double delay = static_cast<double>(window.firstLag + k) / parameters.sampleRate;
    // Comparisons with a value that is not a number are false: such a peak passes.
    if (parameters.minAbsDelay > std::fabs(delay)) continue;
    if (parameters.minAbsFrequency > std::fabs(cell.frequencyOffset)) continue;
    candidates.push_back({k, delay, cell.frequencyOffset, cell.level});
  }
  // Stable, so that equal levels keep their lag order on every backend.
  std::stable_sort(candidates.begin(), candidates.end(), strongerThan);
  if (parameters.refine && !candidates.empty() && n >= MinRefineSamples) {
    refineCandidate(candidates.front(), pair.first.data(), pair.second.data(), n,
                    parameters.sampleRate, backend);
  }
  if (candidates.size() > MaxResults) candidates.resize(MaxResults);
  return candidates;
}

}  // namespace kestrav
