#pragma once
// Generated pairs as the tests hold them: one emitter's configuration, and any configured pair
// quantised to int16 or scaled to full range as fractional floats, the first recording cut short
// where a search reads the second past its end.
#include <complex>
#include <cstdint>
#include <vector>

#include "platform/host/vector_types.hpp"
#include "stages/coarse/coarse_search.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav::testing {

// One emitter, seen `delay` seconds later and `offsetHz` higher by the second recording.
PairConfig oneEmitter(int sampleCount, double sampleRate, double delay, double offsetHz,
                      double snrDb, std::uint64_t seed);

enum class Samples { Int16, Floats };

struct GeneratedPair {
  std::vector<short2> first, second;
  std::vector<float2> firstFloat, secondFloat;  // with Samples::Floats, in place of the int16s
};

// The pair of `config` in `samples`; `firstCount` >= 0 cuts the first recording to that many.
GeneratedPair generatedPair(const PairConfig& config, Samples samples = Samples::Int16,
                            int firstCount = -1);

// A generated recording scaled and stored as floats without rounding, as a cf32 file holds it.
std::vector<float2> scaledFloats(const std::vector<std::complex<double>>& samples, double scale);

// A coarse request over int16 recordings (anything with `first` and `second` sample vectors), over
// the default band of 16384 Hz.
template <class Recordings>
CoarseRequest coarseRequestFor(const Recordings& recordings, int sampleCount, double sampleRate,
                               int lagCount) {
  CoarseRequest request;
  request.segments = SpanPair<short2>{recordings.first, recordings.second};
  request.sampleCount = sampleCount;
  request.lagCount = lagCount;
  request.sampleRate = sampleRate;
  request.frequencySpan = 16384.0;
  return request;
}

}  // namespace kestrav::testing
