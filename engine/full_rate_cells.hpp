#pragma once
// The full-rate cells the result checks share: one candidate's cross-ambiguity cell and what it
// is measured against, read from the pair in its own sample type.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/sample_loader.hpp"
#include "engine/search_parameters.hpp"
#include "stages/coarse/ambiguity_probe.hpp"
#include "stages/coarse/coarse_search.hpp"

namespace kestrav {

// The shape of one search, as the checks need it.
struct ProbeContext {
  const SamplePair& pair;
  int sampleCount = 0;  // N
  LagWindow window;
  CoarseSizes sizes;
  double sampleRate = 0.0;
};

// Calls visit(first, second) with the pair's segments in their own sample type.
template <class Visit>
auto withPair(const SamplePair& pair, Visit&& visit) {
  if (pair.floatSamples) return visit(pair.firstFloat.data(), pair.secondFloat.data());
  return visit(pair.first.data(), pair.second.data());
}

// One candidate's full-rate cell with both segments' means taken out, and what it is measured
// against.
struct FullRateCell {
  double strength = 0.0;     // |A|
  double correlation = 0.0;  // |A| / sqrt(E1 E2), energies about the means
  Cell secondMean;
};

FullRateCell fullRateCell(const ProbeContext& context, int lag, double frequency,
                          const SegmentMoments& first);

SegmentMoments firstMoments(const ProbeContext& context);

// The coarse search's bin spacing in hertz; 0 when it has no bins.
double binSpacing(const CoarseSizes& sizes);

// Indices of `strength`, strongest first (ties in their order).
std::vector<std::size_t> strongestFirst(std::span<const double> strength);

// The deviation of a cell of strength |A| at the lag: what of the product is not the tone.
double cellDeviation(const ProbeContext& context, int lag, double strength);

}  // namespace kestrav
