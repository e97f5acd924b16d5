#pragma once
// The body of one search: the coarse surface, its peaks, gated and ranked candidates, and the
// refinement of the best one.
#include <span>
#include <vector>

#include "engine/backend.hpp"
#include "engine/sample_loader.hpp"
#include "engine/search_parameters.hpp"

namespace kestrav {

struct SearchCandidate {
  int lagIndex = 0;
  double delay = 0.0;            // seconds
  double frequencyOffset = 0.0;  // hertz
  double level = 0.0;            // decibels; never changed by refinement
};

// Refinement needs whole blocks of 2048 samples; below that the coarse values stand.
inline constexpr int MinRefineSamples = 2048;

// Corrects the candidate's frequency offset and then, at the corrected frequency, its delay.
// `first` holds n samples, `second` the second segment from the candidate's lag on.
void refineCandidate(SearchCandidate& candidate, const short2* first, const short2* second, int n,
                     double sampleRate, ComputeBackend& backend);

// Runs the search on the loaded pair (parameters.sampleCount already lowered) and returns at most
// MaxResults candidates by descending level; the best one refined when parameters.refine is set.
std::vector<SearchCandidate> runSearch(const SamplePair& pair, const SearchParameters& parameters,
                                       const LagWindow& window, ComputeBackend& backend);

}  // namespace kestrav
