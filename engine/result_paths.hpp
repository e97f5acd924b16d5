#pragma once
// Copies of one emission: an echo makes a weaker result at the stronger's frequency offset and
// another delay, which is a path of the stronger rather than another emitter. Offset and delay
// alone cannot tell it from a different emitter at the same offset (fixed receivers and emitters
// all share the oscillators' difference): a copy is told by the recordings themselves, one of
// which holds the same signal again at the delay difference, where a different emission is found
// in neither.
#include <span>

#include "engine/full_rate_cells.hpp"
#include "engine/result_quality.hpp"
#include "engine/search_driver.hpp"

namespace kestrav {

// Classes as a path of a stronger emitter each result beyond its main lobe at its offset (within
// 1.5 coarse bins) that one recording holds as a copy of it: an emitter whose copy the second
// recording holds (an echo at the second receiver), or a sidelobe of it whose copy the first
// holds alone (an echo at the first), and which is not mirrored across the stronger as its
// sidelobes are. Its power and delay are measured with the stronger's part taken out. A copy
// within 2 dB of the stronger, or within three of its deviations, stays as it was; beside the best
// it makes the best ambiguous, as does a weaker copy that reached its receiver first (that one is
// the likelier direct path). The best is never a path. `strength` is each result's full-rate |A| at
// its coarse lag.
void classifyPaths(const ProbeContext& context, std::span<const SearchCandidate> candidates,
                   std::span<ResultQuality> qualities, std::span<const double> strength);

}  // namespace kestrav
