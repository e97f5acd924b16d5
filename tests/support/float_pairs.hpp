#pragma once
// What the float-recording tests share: one generated pair searched from memory as int16 and as
// float samples holding the same integer values, and a comparison that accepts no difference at
// all, since int16 values convert to float and double exactly.
#include <complex>
#include <vector>

#include "engine/backend.hpp"
#include "engine/sample_format.hpp"
#include "engine/search.hpp"

namespace kestrav::testing {

std::vector<float2> asFloats(const std::vector<short2>& samples);
// A generated recording scaled and stored as floats without rounding, as a cf32 file holds it.
std::vector<float2> scaledFloats(const std::vector<std::complex<double>>& samples, double scale);

// A recording held in memory in one sample format.
struct MemoryRecording {
  std::vector<short2> ints;
  std::vector<float2> floats;
  SampleFormat format = SampleFormat::Ci16;
};
MemoryRecording inFormat(const std::vector<short2>& samples, SampleFormat format);

// The whole search of the two recordings on `backend`, every reported candidate refined with
// traces and estimated precisely, the surface kept.
SearchOutcome searchInMemory(const MemoryRecording& first, const MemoryRecording& second,
                             const SearchParameters& parameters, ComputeBackend& backend);

// Surface, candidates, refinements and precise estimates equal bit for bit.
void expectBitIdentical(const SearchOutcome& got, const SearchOutcome& want);

}  // namespace kestrav::testing
