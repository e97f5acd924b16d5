// The precise estimate's primitives on the GPU: against the direct sums on the small layouts,
// in one batch and cut into batches of one and two frames; against the host's on frames of 65536
// points in several batches; a buffer refilled in place is read afresh. Then the whole estimate
// with the CUDA backend's primitives against the host's on generated pairs.
//
// The device sums every bin and every run in the host's order, so the two differ only where
// their transforms and their sines and cosines round differently (the device's within 2 ulp,
// glibc's within 1): the host's own tolerances against the direct sums hold for both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <typeinfo>
#include <vector>

#include "backends/compute_backend.hpp"
#include "support/cuda_device.hpp"
#include "support/precise_direct_sums.hpp"
#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "backends/cuda/precise_cuda.hpp"
#include "stages/precise/precise_estimate.hpp"
#include "stages/precise/precise_maps.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

constexpr double SampleRate = 1e6;

struct DeviceImplementation {
  const char* name;
  std::int64_t batchPoints;
};
// The small layouts' frames are 256 and 512 points long.
const DeviceImplementation implementations[] = {{"cuda", PreciseBatchPoints},
                                                {"cuda, one frame a batch", 1},
                                                {"cuda, 512 points a batch", 512}};

TEST(CudaPrecisePrimitives, CrossSpectraMatchDirectSums) {
  SKIP_WITHOUT_CUDA_DEVICE();
  for (const DeviceImplementation& implementation : implementations) {
    testing::expectCrossSpectraMatchDirectSums(
        *makeCudaPrecisePrimitives(implementation.batchPoints), implementation.name);
  }
}

TEST(CudaPrecisePrimitives, DelayedProductRunsMatchDirectSums) {
  SKIP_WITHOUT_CUDA_DEVICE();
  for (const DeviceImplementation& implementation : implementations) {
    testing::expectProductRunsMatchDirectSums(
        *makeCudaPrecisePrimitives(implementation.batchPoints), implementation.name);
  }
}

// Largest difference over the largest magnitude of the host's values.
double relativeDifference(const std::vector<double2>& got, const std::vector<double2>& want) {
  double largest = 0.0, difference = 0.0;
  for (std::size_t i = 0; i < want.size(); ++i) {
    largest = std::max(largest, std::hypot(want[i].x, want[i].y));
    difference = std::max(difference, std::hypot(got[i].x - want[i].x, got[i].y - want[i].y));
  }
  EXPECT_GT(largest, 0.0) << "an all-zero result proves nothing";
  return difference / largest;
}

struct Spectra {
  std::vector<double2> margined, windowed, runs;
};

Spectra allPrimitives(PrecisePrimitives& primitives, const PreciseSegments& segments,
                      const PreciseLayout& layout, const std::vector<double>& rootWeight) {
  Spectra out;
  out.margined.resize(static_cast<std::size_t>(layout.frameLength));
  out.windowed.resize(out.margined.size());
  out.runs.resize(static_cast<std::size_t>(layout.runCount));
  primitives.crossSpectrum(segments, layout, 0.00123, FrameShape::Margined, out.margined);
  primitives.crossSpectrum(segments, layout, -0.0042, FrameShape::Windowed, out.windowed);
  primitives.delayedProductRuns(segments, layout, 0.00123, -0.61, rootWeight, out.runs);
  return out;
}

void expectSame(const Spectra& device, const Spectra& host, const char* what) {
  EXPECT_LT(relativeDifference(device.margined, host.margined), 1e-13) << what;
  EXPECT_LT(relativeDifference(device.windowed, host.windowed), 1e-13) << what;
  EXPECT_LT(relativeDifference(device.runs, host.runs), 1e-12) << what;
}

// 300000 samples of a generated pair: five blocks in frames of 65536, in one batch and in
// batches of two, two and one; inside and outside a hold.
TEST(CudaPrecisePrimitives, LongFramesInBatchesAsTheHostGivesThem) {
  SKIP_WITHOUT_CUDA_DEVICE();
  constexpr int N = 300000, Extra = 64;
  PairConfig config;
  config.sampleCount = N + 2 * Extra;
  config.emitters = {Emitter{3.3 / SampleRate, 150.0, 0.0}};
  config.snrDb = 5.0;
  config.seed = 51;
  const SamplePairInt16 pair = quantizePair(generatePair(config));
  const PreciseSegments segments{
      PointerPair<short2>{pair.first.data() + Extra, pair.second.data() + Extra + 3}, Extra + 3,
      Extra - 3};
  const PreciseLayout layout = planPreciseLayout(N);
  ASSERT_EQ(layout.frameLength, 65536);
  ASSERT_EQ(layout.blockCount, 5);
  std::vector<double> rootWeight(static_cast<std::size_t>(layout.frameLength));
  for (int k = 0; k < layout.frameLength; ++k) {
    rootWeight[k] = std::fabs(signedBinFrequency(k, layout.frameLength)) < 0.3 ? 1.0 : 0.1;
  }
  const Spectra host =
      allPrimitives(*makeHostPrecisePrimitives(), segments, layout, rootWeight);
  for (const std::int64_t batchPoints : {PreciseBatchPoints, std::int64_t{2} * 65536}) {
    const auto device = makeCudaPrecisePrimitives(batchPoints);
    expectSame(allPrimitives(*device, segments, layout, rootWeight), host, "outside a hold");
    const SegmentHold hold(*device);
    expectSame(allPrimitives(*device, segments, layout, rootWeight), host, "first in a hold");
    expectSame(allPrimitives(*device, segments, layout, rootWeight), host, "again in the hold");
  }
}

// A buffer refilled in place, at the same address and size, is a new recording: outside a hold
// the device reads it again, whether or not a hold came before.
TEST(CudaPrecisePrimitives, ABufferRefilledInPlaceIsReadAfresh) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const PreciseLayout layout = planPreciseLayout(700, 256);
  testing::TestSegments s = testing::randomSegments(700, 64, 64, 61);
  const auto device = makeCudaPrecisePrimitives();
  const auto host = makeHostPrecisePrimitives();
  std::vector<double2> got(static_cast<std::size_t>(layout.frameLength)), want(got.size());
  for (const unsigned seed : {62u, 63u, 64u}) {
    {
      const SegmentHold hold(*device);
      device->crossSpectrum(s.view(), layout, 0.01, FrameShape::Margined, got);
      host->crossSpectrum(s.view(), layout, 0.01, FrameShape::Margined, want);
      EXPECT_LT(relativeDifference(got, want), 1e-13) << seed;
    }
    const testing::TestSegments fresh = testing::randomSegments(700, 64, 64, seed);
    std::copy(fresh.first.begin(), fresh.first.end(), s.first.begin());
    std::copy(fresh.secondStore.begin(), fresh.secondStore.end(), s.secondStore.begin());
    device->crossSpectrum(s.view(), layout, 0.01, FrameShape::Margined, got);
    host->crossSpectrum(s.view(), layout, 0.01, FrameShape::Margined, want);
    EXPECT_LT(relativeDifference(got, want), 1e-13) << seed;
  }
}

TEST(CudaPreciseEstimate, TheBackendsPrimitivesAreTheDevices) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const auto cuda = makeBackend(BackendKind::Cuda);
  const auto host = makeBackend(BackendKind::Host);
  PrecisePrimitives& device = cuda->precisePrimitives();
  PrecisePrimitives& onHost = host->precisePrimitives();
  EXPECT_EQ(&device, &cuda->precisePrimitives()) << "one object for the backend's lifetime";
  EXPECT_NE(typeid(device), typeid(onHost));
}

// The refinement and both precise estimates of a generated pair, the segments with the margins
// a recording offers. The rounds follow the same path, so the two land within a thousandth of a
// deviation of each other.
TEST(CudaPreciseEstimate, AsTheHostGivesIt) {
  SKIP_WITHOUT_CUDA_DEVICE();
  struct Case {
    const char* name;
    int samples;
    double fraction;  // of a sample, beyond the lag
    double offsetHz;
    double snrDb;
    unsigned seed;
  };
  const Case cases[] = {
      {"65536 samples at 10 dB", 65536, 0.3, 1234.5, 10.0, 71},
      {"300000 samples in five frames at 0 dB", 300000, 0.7, -250.25, 0.0, 72},
  };
  constexpr int Extra = 128, Lag = 5;
  const auto backend = makeBackend(BackendKind::Cuda);
  const auto hostPrimitives = makeHostPrecisePrimitives();
  for (const Case& c : cases) {
    PairConfig config;
    config.sampleCount = c.samples + 2 * Extra;
    const double delay = (Lag + c.fraction) / SampleRate;
    config.emitters = {Emitter{delay, c.offsetHz, 0.0}};
    config.snrDb = c.snrDb;
    config.seed = c.seed;
    const SamplePairInt16 pair = quantizePair(generatePair(config));
    PreciseRequest request;
    request.segments =
        PointerPair<short2>{pair.first.data() + Extra, pair.second.data() + Extra + Lag};
    request.sampleCount = c.samples;
    request.secondBefore = Extra + Lag;
    request.secondAfter = Extra - Lag;
    request.sampleRate = SampleRate;
    request.lagDelay = Lag / SampleRate;
    FineRequest fine{request.segments, c.samples, SampleRate, c.offsetHz + 0.8, 3};
    request.refinement = backend->refine(fine);
    request.delay = request.lagDelay + request.refinement.delay.correction;
    request.frequencyOffset = fine.frequencyOffset + request.refinement.frequency.correction;

    const PreciseEstimate host = estimatePrecisely(request, *hostPrimitives);
    const PreciseEstimate device = estimatePrecisely(request, backend->precisePrimitives());
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(host.converged);
    EXPECT_LT(std::fabs(host.delay - delay), 4.0 * host.sigmaDelay);
    EXPECT_EQ(device.converged, host.converged);
    EXPECT_EQ(device.iterations, host.iterations);
    EXPECT_NEAR(device.delay, host.delay, 1e-3 * host.sigmaDelay);
    EXPECT_NEAR(device.frequencyOffset, host.frequencyOffset, 1e-3 * host.sigmaFrequency);
    EXPECT_NEAR(device.sigmaDelay / host.sigmaDelay, 1.0, 1e-6);
    EXPECT_NEAR(device.sigmaFrequency / host.sigmaFrequency, 1.0, 1e-6);
  }
}

}  // namespace
}  // namespace kestrav
