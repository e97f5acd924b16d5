// Float recordings on the GPU: the same integer values as int16 or as float samples give
// bit-identical searches, and fractional values give the host's results within the tolerances
// the int16 comparisons allow (the two transform with different FFTs).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "support/cuda_device.hpp"
#include "support/float_pairs.hpp"
#include "stages/coarse/coarse_search.hpp"
#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "stages/precise/precise_estimate.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

using testing::inFormat;

TEST(CudaFloatSamples, IntegerValuesGiveBitIdenticalSearches) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const auto [pair, parameters] = testing::twoEmitterSearch();
  const auto backend = makeBackend(BackendKind::Cuda);
  const SearchOutcome ints =
      testing::searchInMemory(inFormat(pair.first, SampleFormat::Ci16),
                              inFormat(pair.second, SampleFormat::Ci16), parameters, *backend);
  ASSERT_GE(ints.candidates.size(), 2u);
  ASSERT_TRUE(ints.candidates[1].precise.has_value());
  testing::expectBitIdentical(
      testing::searchInMemory(inFormat(pair.first, SampleFormat::Cf32),
                              inFormat(pair.second, SampleFormat::Cf32), parameters, *backend),
      ints);
}

void expectEstimateWithinAStep(const FineEstimate& gpu, const FineEstimate& host,
                               double fixedStep, const char* what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(gpu.zoomPoints, host.zoomPoints);
  EXPECT_LE(std::abs(gpu.zoomIndex - host.zoomIndex), 1);
  EXPECT_NEAR(gpu.correction, host.correction, fixedStep * 1.000001);
}

TEST(CudaFloatSamples, FractionalValuesAsTheHostGivesThem) {
  SKIP_WITHOUT_CUDA_DEVICE();
  constexpr int N = 262144, Lags = 64, Lag = 20;
  constexpr double Rate = 1e6, OffsetHz = 1234.5;
  PairConfig config;
  config.sampleCount = N + Lags;
  config.sampleRate = Rate;
  config.emitters = {Emitter{(Lag + 0.3) / Rate, OffsetHz, 0.0}};
  config.snrDb = 10.0;
  config.seed = 81;
  const ComplexPair pair = generatePair(config);
  const double scale = fullScale(pair, 32767.0);
  std::vector<float2> first = testing::scaledFloats(pair.first, scale);
  first.resize(N);
  const std::vector<float2> second = testing::scaledFloats(pair.second, scale);
  const auto backend = makeBackend(BackendKind::Cuda);

  // The coarse cells: the same bins but for rare near ties, levels within 1e-4 dB.
  CoarseRequest coarse;
  coarse.segments = SpanPair<float2>{first, second};
  coarse.sampleCount = N;
  coarse.lagCount = Lags;
  coarse.sampleRate = Rate;
  coarse.frequencySpan = 16384.0;
  std::vector<LagCell> reference(Lags), gpu(Lags, LagCell{-1, 1.0, 1.0});
  coarseSearchReference(coarse, reference);
  backend->coarseSearch(coarse, gpu);
  int otherBins = 0;
  for (int k = 0; k < Lags; ++k) {
    EXPECT_EQ(gpu[k].lagIndex, k);
    if (gpu[k].frequencyOffset != reference[k].frequencyOffset) ++otherBins;
    EXPECT_NEAR(gpu[k].level, reference[k].level, 1e-4) << "lag " << k;
  }
  EXPECT_LE(otherBins, 1);
  EXPECT_GT(gpu[Lag].level, 10.0);

  // The refinement at the emitter's lag, each estimate within a grid step of the host's.
  FineRequest fine;
  fine.segments = PointerPair<float2>{first.data(), second.data() + Lag};
  fine.sampleCount = N;
  fine.sampleRate = Rate;
  fine.frequencyOffset = OffsetHz + 0.37;
  fine.traceHalfWidth = 3;
  const Refinement device = backend->refine(fine);
  const Refinement host = refineOnHost(fine, cztHost);
  expectEstimateWithinAStep(device.frequency, host.frequency, 1e-4, "frequency");
  expectEstimateWithinAStep(device.delay, host.delay, 1e-9, "delay");

  // The precise estimate from the host's refinement, with the device's primitives and the host's.
  PreciseRequest request;
  request.segments = fine.segments;
  request.sampleCount = N;
  request.secondBefore = Lag;
  request.secondAfter = Lags - Lag;
  request.sampleRate = Rate;
  request.lagDelay = Lag / Rate;
  request.refinement = host;
  request.delay = request.lagDelay + host.delay.correction;
  request.frequencyOffset = fine.frequencyOffset + host.frequency.correction;
  const PreciseEstimate onHost = estimatePrecisely(request, *makeHostPrecisePrimitives());
  const PreciseEstimate onDevice = estimatePrecisely(request, backend->precisePrimitives());
  ASSERT_TRUE(onHost.converged);
  EXPECT_LT(std::fabs(onHost.delay - config.emitters[0].delay), 4.0 * onHost.sigmaDelay);
  EXPECT_EQ(onDevice.iterations, onHost.iterations);
  EXPECT_NEAR(onDevice.delay, onHost.delay, 1e-3 * onHost.sigmaDelay);
  EXPECT_NEAR(onDevice.frequencyOffset, onHost.frequencyOffset, 1e-3 * onHost.sigmaFrequency);
}

}  // namespace
}  // namespace kestrav
