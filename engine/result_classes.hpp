#pragma once
// The checks that tell an emitter from what only looks like one: every check reads the
// recordings again at the full rate, where the decimated search's aliases and saturation are
// absent.
#include <span>
#include <vector>

#include "backends/compute_backend.hpp"
#include "engine/full_rate_cells.hpp"
#include "engine/result_quality.hpp"
#include "engine/sample_loader.hpp"
#include "engine/search_driver.hpp"
#include "stages/coarse/coarse_search.hpp"

namespace kestrav {

// The false-alarm probability classing results as noise when none is given.
inline constexpr double DefaultFalseAlarm = 1e-3;

// The level a noise-only search exceeds anywhere with probability `falseAlarm`: each of the M
// bins of each searched lag is taken as an independent exponential peak-to-mean ratio.
double noiseLevelDb(const CoarseSizes& sizes, int lagCount, double falseAlarm);

// Compares the candidate's offset with its images f + k fs_dec within +-fs/2 at the full rate;
// moves it to the one that stands out (6 dB over every other), or marks it ambiguous.
void checkAlias(const ProbeContext& context, SearchCandidate& candidate, ResultQuality& quality);

// Weighs the refined best result against the other strong peaks of its lag's spectrum (comb
// teeth), each refined in turn: the strongest at full rate becomes the best, and the result is
// ambiguous when the runner-up is within three deviations of it.
void weighCompetitors(const ProbeContext& context, SearchCandidate& best, ResultQuality& quality,
                      int traceHalfWidth, ComputeBackend& backend);

// Flags edges, measures correlations and classes every candidate: noise below the level of
// `falseAlarm`, the DC ridge, a sidelobe predicted from a stronger emitter through the first
// recording's self-ambiguity, a path (a weaker copy, an echo) of a stronger emitter, otherwise an
// emitter. The best result is marked ambiguous beside another emitter whose full-rate cell is
// within three deviations of its own, or a copy of it within 2 dB (an echo).
void classifyResults(const ProbeContext& context, std::span<const SearchCandidate> candidates,
                     std::span<ResultQuality> qualities, double falseAlarm);

// The edge flags alone (cheap): set for every candidate.
void flagEdges(const ProbeContext& context, std::span<const SearchCandidate> candidates,
               std::span<ResultQuality> qualities);

// Subtracts each recording's mean from its segment; the pair holds float samples afterwards.
void removeMeans(SamplePair& pair);

// The patch of up to 2 halfLags + 1 lags and 2 halfBins + 1 bins centred on the candidate's
// coarse cell.
SurfacePatch coarseNeighbourhood(const ProbeContext& context, const SearchCandidate& candidate,
                                 const ResultQuality& quality, int halfLags, int halfBins);

// The whole coarse surface, lagCount rows of L levels in decibels (peak-to-mean, as the lag
// cells), each row from -fs_dec/2 upward.
std::vector<float> coarseSurfaceMap(const ProbeContext& context);

}  // namespace kestrav
