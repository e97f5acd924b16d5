#pragma once
// The body of one search: the coarse surface, its peaks, gated and ranked candidates, and the
// refinement of the best one (or of every one reported, on request).
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "backends/compute_backend.hpp"
#include "engine/result_quality.hpp"
#include "engine/sample_loader.hpp"
#include "engine/search_parameters.hpp"
#include "engine/surface_patch.hpp"
#include "stages/coarse/coarse_search.hpp"
#include "stages/precise/precise_estimate.hpp"

namespace kestrav {

struct SearchCandidate {
  int lagIndex = 0;
  double delay = 0.0;            // seconds
  double frequencyOffset = 0.0;  // hertz
  double level = 0.0;            // decibels; never changed by refinement
  bool refined = false;
  Refinement refinement;  // the corrections applied, when refined
  // Beyond the refinement's grids, when asked for: the delay and frequency offset at the bound,
  // with their deviations. delay and frequencyOffset keep the refinement's values.
  std::optional<PreciseEstimate> precise;
};

// Refinement needs whole blocks of 2048 samples; below that the coarse values stand.
inline constexpr int MinRefineSamples = 2048;

struct DriverOptions {
  bool refineAll = false;    // refine every reported candidate, not only the best
  int traceHalfWidth = 0;    // zoom points kept each side of each refined maximum
  bool keepSurface = false;  // return the coarse lag cells
  bool precise = false;      // a precise estimate of every refined candidate
  CoarseProgress progress;   // told of the coarse search's progress, when set
  // An offset that may be an alias of the decimated band is checked at its images at full rate.
  bool checkAliases = true;
  // The best refined result is weighed against the other strong peaks of its lag (comb teeth).
  bool weighCompetitors = true;
  bool classify = false;    // class every result (noise, DC ridge, sidelobe, emitter)
  double falseAlarm = 0.0;  // when in (0, 1): the peak threshold for this whole-search probability
  bool keepMap = false;     // return the whole coarse surface, every lag's every bin
  int patchHalfLags = 0;    // when positive: the surface round the best result, this many lags
  int patchHalfBins = 0;    // and bins each side
};

// Seconds spent in each stage of the search.
struct StageTimes {
  double coarseSearch = 0.0;
  double peakPicking = 0.0;
  double aliasChecks = 0.0;  // each result's offset weighed at its images at the full rate
  double refinement = 0.0;
  double classification = 0.0;  // classes, edges, the map and the heat map's patch
};

struct SearchRun {
  std::vector<SearchCandidate> candidates;  // at most MaxResults, by descending level
  std::vector<LagCell> surface;             // every lag's cell, when kept
  CoarseSizes sizes;
  StageTimes times;
  std::vector<ResultQuality> qualities;  // one for each candidate
  double peakThreshold = 0.0;            // decibels: the threshold the peaks were picked at
  double classFalseAlarm = 0.0;          // the probability results were classed as noise at
  double noiseLevel = 0.0;               // decibels: the level of that probability
  std::vector<float> map;                // lagCount x L levels, when kept
  std::optional<SurfacePatch> patch;     // round the best result, when asked for
};

// Corrects the candidate's frequency offset and then, at the corrected frequency, its delay, on
// the pair's segments (n samples of the first, the second from lag index 0 on).
void refineCandidate(SearchCandidate& candidate, const SamplePair& pair, int n, double sampleRate,
                     int traceHalfWidth, ComputeBackend& backend);

// The precise estimate of a refined candidate; the pair's second segment holds n + lagCount
// samples, `firstLag` is the window's first lag.
PreciseEstimate estimateCandidatePrecisely(const SearchCandidate& candidate, const SamplePair& pair,
                                           int n, int lagCount, int firstLag, double sampleRate,
                                           ComputeBackend& backend);

// Runs the search on the loaded pair (parameters.sampleCount already lowered).
SearchRun runSearch(const SamplePair& pair, const SearchParameters& parameters,
                    const LagWindow& window, ComputeBackend& backend,
                    const DriverOptions& options = {});

}  // namespace kestrav
