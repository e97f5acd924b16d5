#pragma once
// What the float-recording tests share: one generated pair searched from memory as int16 and as
// float samples holding the same integer values, and a comparison that accepts no difference at
// all, since int16 values convert to float and double exactly.
#include <complex>
#include <vector>

#include "backends/compute_backend.hpp"
#include "engine/sample_format.hpp"
#include "engine/search.hpp"
#include "support/generated_pairs.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav::testing {

std::vector<float2> asFloats(const std::vector<short2>& samples);

// A recording held in memory in one sample format.
struct MemoryRecording {
  std::vector<short2> ints;
  std::vector<float2> floats;
  SampleFormat format = SampleFormat::Ci16;
};
MemoryRecording inFormat(const std::vector<short2>& samples, SampleFormat format);

// Two emitters, at 45.678 us and -2222.2 Hz and at -20.25 us and 3000 Hz 3 dB weaker, in the
// default generated pair (262144 samples at 1 MHz), and a search that reports both and a
// sidelobe.
struct TwoEmitterSearch {
  GeneratedPair pair;
  SearchParameters parameters;
};
inline TwoEmitterSearch twoEmitterSearch() {
  PairConfig config;
  config.emitters = {Emitter{45.678e-6, -2222.2, 0.0}, Emitter{-20.25e-6, 3000.0, -3.0}};
  config.seed = 4;
  TwoEmitterSearch search{generatedPair(config), {}};
  search.parameters.sampleCount = config.sampleCount;
  search.parameters.sampleRate = config.sampleRate;
  search.parameters.delayWindow = 156e-6;
  search.parameters.frequencySpan = 16384.0;
  search.parameters.peakThreshold = 25.0;
  search.parameters.refine = true;
  return search;
}

// The whole search of the two recordings on `backend`, every reported candidate refined with
// traces and estimated precisely, the surface kept.
SearchOutcome searchInMemory(const MemoryRecording& first, const MemoryRecording& second,
                             const SearchParameters& parameters, ComputeBackend& backend);

// Surface, candidates, refinements and precise estimates equal bit for bit.
void expectBitIdentical(const SearchOutcome& got, const SearchOutcome& want);

}  // namespace kestrav::testing
