#include "support/float_pairs.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>

namespace kestrav::testing {
namespace {

// Equal bits: a NaN equals the same NaN, and -0 is not 0.
void expectSameBits(double got, double want, const std::string& what) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(want))
      << what << ": " << got << " against " << want;
}

void expectSameEstimate(const FineEstimate& got, const FineEstimate& want,
                        const std::string& what) {
  expectSameBits(got.correction, want.correction, what + " correction");
  EXPECT_EQ(got.zoomIndex, want.zoomIndex) << what;
  EXPECT_EQ(got.zoomPoints, want.zoomPoints) << what;
  expectSameBits(got.gridStart, want.gridStart, what + " grid start");
  expectSameBits(got.gridStep, want.gridStep, what + " grid step");
  EXPECT_EQ(got.traceFirst, want.traceFirst) << what;
  ASSERT_EQ(got.trace.size(), want.trace.size()) << what;
  for (std::size_t i = 0; i < got.trace.size(); ++i) {
    expectSameBits(got.trace[i], want.trace[i], what + " trace " + std::to_string(i));
  }
}

void expectSamePrecise(const PreciseEstimate& got, const PreciseEstimate& want,
                       const std::string& what) {
  expectSameBits(got.delay, want.delay, what + " delay");
  expectSameBits(got.frequencyOffset, want.frequencyOffset, what + " frequency offset");
  expectSameBits(got.sigmaDelay, want.sigmaDelay, what + " delay deviation");
  expectSameBits(got.sigmaFrequency, want.sigmaFrequency, what + " frequency deviation");
  EXPECT_EQ(got.iterations, want.iterations) << what;
  expectSameBits(got.postIntegrationSnrDb, want.postIntegrationSnrDb, what + " SNR");
  expectSameBits(got.effectiveBandwidthHz, want.effectiveBandwidthHz, what + " bandwidth");
  expectSameBits(got.effectiveDurationS, want.effectiveDurationS, what + " duration");
  EXPECT_EQ(got.converged, want.converged) << what;
}

}  // namespace

std::vector<float2> asFloats(const std::vector<short2>& samples) {
  std::vector<float2> floats;
  floats.reserve(samples.size());
  for (const short2& s : samples) floats.push_back(float2{float(s.x), float(s.y)});
  return floats;
}

MemoryRecording inFormat(const std::vector<short2>& samples, SampleFormat format) {
  MemoryRecording recording;
  recording.format = format;
  if (format == SampleFormat::Cf32) {
    recording.floats = asFloats(samples);
  } else {
    recording.ints = samples;
  }
  return recording;
}

SearchOutcome searchInMemory(const MemoryRecording& first, const MemoryRecording& second,
                             const SearchParameters& parameters, ComputeBackend& backend) {
  const auto wrap = [](const MemoryRecording& recording) {
    if (recording.format == SampleFormat::Cf32) {
      return wrapSamples(recording.floats.data(), static_cast<long long>(recording.floats.size()),
                         recording.format);
    }
    return wrapSamples(recording.ints.data(), static_cast<long long>(recording.ints.size()),
                       recording.format);
  };
  SearchOptions options;
  options.backendOverride = &backend;
  options.driver.refineAll = true;
  options.driver.traceHalfWidth = 4;
  options.driver.keepSurface = true;
  options.driver.precise = true;
  return searchSources(wrap(first), wrap(second), parameters, options);
}

void expectBitIdentical(const SearchOutcome& got, const SearchOutcome& want) {
  EXPECT_EQ(got.sampleCount, want.sampleCount);
  ASSERT_EQ(got.surface.size(), want.surface.size());
  for (std::size_t k = 0; k < got.surface.size(); ++k) {
    const std::string lag = "lag " + std::to_string(k);
    EXPECT_EQ(got.surface[k].lagIndex, want.surface[k].lagIndex) << lag;
    expectSameBits(got.surface[k].frequencyOffset, want.surface[k].frequencyOffset, lag);
    expectSameBits(got.surface[k].level, want.surface[k].level, lag);
  }
  ASSERT_EQ(got.candidates.size(), want.candidates.size());
  for (std::size_t c = 0; c < got.candidates.size(); ++c) {
    const SearchCandidate& a = got.candidates[c];
    const SearchCandidate& b = want.candidates[c];
    const std::string what = "candidate " + std::to_string(c);
    EXPECT_EQ(a.lagIndex, b.lagIndex) << what;
    expectSameBits(a.delay, b.delay, what + " delay");
    expectSameBits(a.frequencyOffset, b.frequencyOffset, what + " frequency offset");
    expectSameBits(a.level, b.level, what + " level");
    ASSERT_EQ(a.refined, b.refined) << what;
    expectSameEstimate(a.refinement.frequency, b.refinement.frequency, what + " frequency zoom");
    expectSameEstimate(a.refinement.delay, b.refinement.delay, what + " delay zoom");
    ASSERT_EQ(a.precise.has_value(), b.precise.has_value()) << what;
    if (a.precise) expectSamePrecise(*a.precise, *b.precise, what + " precise");
  }
}

}  // namespace kestrav::testing
