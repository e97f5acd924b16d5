// Every backend's stages against their oracles, one row per stage and backend, each row with the
// tolerance it holds to: the host against the reference and the direct sums, the GPU against the
// reference, the direct sums and the host, on the same recordings. A GPU row skips, with the
// reason, where no device can run it; the GPU's rows are compiled in only with the CUDA backend.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "backends/compute_backend.hpp"
#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "stages/coarse/coarse_row.hpp"
#include "stages/coarse/coarse_search.hpp"
#include "stages/coarse/signal_maps.hpp"
#include "stages/precise/precise_estimate.hpp"
#include "stages/precise/precise_maps.hpp"
#include "support/coarse_recordings.hpp"
#include "support/float_pairs.hpp"
#include "support/generated_pairs.hpp"
#include "support/precise_direct_sums.hpp"

#if KESTRAV_PARITY_CUDA
#include "backends/cuda/precise_cuda.hpp"
#include "support/cuda_device.hpp"
#endif

namespace kestrav {
namespace {

using testing::inFormat;

// ---------------------------------------------------------------------------------------------
// Coarse cells

// The host search's cells are the reference's, but for the order of the spectrum's power sum.
void coarseCellsHost() {
  using namespace testing::coarse;
  unsigned seed = 10;
  for (const Shape& shape : HostShapes) {
    SCOPED_TRACE(shape.name);
    const Recordings r = randomRecordings(shape, ++seed);
    const CoarseRequest request = r.request();
    const std::size_t lags = static_cast<std::size_t>(shape.lagCount);
    std::vector<LagCell> reference(lags), host(lags);
    coarseSearchReference(request, reference);
    coarseSearchHost(request, host);
    for (std::size_t k = 0; k < lags; ++k) {
      EXPECT_EQ(host[k].lagIndex, static_cast<int>(k));
      EXPECT_EQ(host[k].frequencyOffset, reference[k].frequencyOffset) << "lag " << k;
      if (std::isnan(reference[k].level)) {
        EXPECT_TRUE(std::isnan(host[k].level)) << "lag " << k;
      } else {
        EXPECT_NEAR(host[k].level, reference[k].level, 1e-5) << "lag " << k;
      }
    }
  }
}

// Integer values as int16 or as float samples give bit-identical searches on `backend`; with
// `mixedFormats`, int16 beside float too.
void expectFloatSearchIdentical(ComputeBackend& backend, bool mixedFormats) {
  const auto [pair, parameters] = testing::twoEmitterSearch();
  const SearchOutcome ints =
      testing::searchInMemory(inFormat(pair.first, SampleFormat::Ci16),
                              inFormat(pair.second, SampleFormat::Ci16), parameters, backend);
  // Both emitters found, refined and estimated precisely: nothing below compares empty results.
  ASSERT_GE(ints.candidates.size(), 2u);
  ASSERT_TRUE(ints.candidates[1].precise.has_value());
  EXPECT_NEAR(ints.candidates[0].delay, 45.678e-6, 1e-8);
  // Both recordings as floats, and int16 beside float (both then searched as floats).
  std::vector<std::pair<SampleFormat, SampleFormat>> formats{
      {SampleFormat::Cf32, SampleFormat::Cf32}};
  if (mixedFormats) formats.emplace_back(SampleFormat::Ci16, SampleFormat::Cf32);
  for (const auto& [firstFormat, secondFormat] : formats) {
    SCOPED_TRACE(firstFormat == SampleFormat::Cf32 ? "cf32 and cf32" : "ci16 and cf32");
    testing::expectBitIdentical(
        testing::searchInMemory(inFormat(pair.first, firstFormat),
                                inFormat(pair.second, secondFormat), parameters, backend),
        ints);
  }
}

// The reference backend's reading of the samples (its coarse rows and its fine estimates over
// whole arrays) with the host's chirp-z zoom in place of the direct sum, which takes about a
// minute at this size. The zoom sees only run sums and spectra in double, whatever the samples.
class ReferenceReading final : public ComputeBackend {
 public:
  std::string_view name() const override { return "reference with the host's zoom"; }
  void coarseSearch(const CoarseRequest& request, std::span<LagCell> cells) override {
    coarseSearchReference(request, cells);
  }
  Refinement refine(const FineRequest& request) override { return refineOnHost(request, cztHost); }
  PrecisePrimitives& precisePrimitives() override { return *primitives_; }

 private:
  std::unique_ptr<PrecisePrimitives> primitives_ = makeHostPrecisePrimitives();
};

void floatSamplesReference() {
  ReferenceReading reference;
  expectFloatSearchIdentical(reference, true);
}

void floatSamplesHost() { expectFloatSearchIdentical(*makeHostBackend(), true); }

// ---------------------------------------------------------------------------------------------
// Refinement

struct RefinementCase {
  const char* name;
  int n;
  double fs, delay, offsetHz, candidateErrorHz;
  // The host's row leaves out the longest zoom: over whole arrays it needs about 2 GB, and the
  // streamed path is held to a limit on it in fine_estimates_test.
  bool onHost = true;
};
const RefinementCase RefinementCases[] = {
    {"1M samples at 1 MHz", 1048576, 1e6, 0.4e-6, 1234.5678, 0.37},
    {"4096 samples at 1 MHz: a zoom of 9765625 points", 4096, 1e6, -0.3e-6, -250.0, 2.0},
    {"2048 samples at 1 MHz: the longest zoom", 2048, 1e6, 0.1e-6, 10.0, 3.0, false},
    {"a last partial block at 10 kHz", 4096 + 100, 1e4, 3e-5, 1234.0, -0.5},
};

// The host backend streams its zooms in blocks: the same zoom sizes, grids, strongest point and
// correction as the plain path over whole arrays, the trace to the rounding of the blocks.
void refinementHost() {
  const auto backend = makeBackend(BackendKind::Host);
  for (const RefinementCase& c : RefinementCases) {
    if (!c.onHost) continue;
    SCOPED_TRACE(c.name);
    const testing::GeneratedPair pair =
        testing::generatedPair(testing::oneEmitter(c.n, c.fs, c.delay, c.offsetHz, 10.0, 12));
    FineRequest request{PointerPair<short2>{pair.first.data(), pair.second.data()}, c.n, c.fs,
                        c.offsetHz + c.candidateErrorHz, 6};
    const Refinement host = backend->refine(request);
    const Refinement plain = refineOnHost(request, cztHost);
    for (const auto& [got, want] :
         {std::pair{host.frequency, plain.frequency}, std::pair{host.delay, plain.delay}}) {
      EXPECT_EQ(got.zoomPoints, want.zoomPoints);
      EXPECT_EQ(got.zoomIndex, want.zoomIndex);
      EXPECT_EQ(got.correction, want.correction);
      EXPECT_EQ(got.gridStart, want.gridStart);
      EXPECT_EQ(got.gridStep, want.gridStep);
      EXPECT_EQ(got.traceFirst, want.traceFirst);
      ASSERT_EQ(got.trace.size(), want.trace.size());
      ASSERT_FALSE(want.trace.empty());
      const double peak = *std::max_element(want.trace.begin(), want.trace.end());
      for (std::size_t i = 0; i < want.trace.size(); ++i) {
        EXPECT_NEAR(got.trace[i], want.trace[i], 1e-11 * peak) << "point " << i;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Precise primitives

void precisePrimitivesHost() {
  testing::expectCrossSpectraMatchDirectSums(*makeHostPrecisePrimitives(), "host");
  testing::expectProductRunsMatchDirectSums(*makeHostPrecisePrimitives(), "host");
}

#if KESTRAV_PARITY_CUDA
// ---------------------------------------------------------------------------------------------
// The GPU's rows

testing::GeneratedPair generate(int sampleCount, double sampleRate, int lagCount, int trueLag,
                                unsigned seed) {
  return testing::generatedPair(
      testing::oneEmitter(sampleCount + lagCount, sampleRate, trueLag / sampleRate,
                          0.23 * std::min(sampleRate, 16384.0), 0.0, seed),
      testing::Samples::Int16, sampleCount);
}

// The power of bin `bin` of lag `lag`'s row, from the maps and a direct DFT in long double.
long double directBinPower(const CoarseRequest& request, const CoarseSizes& sizes, int lag,
                           std::uint64_t bin) {
  const std::size_t D = static_cast<std::size_t>(sizes.decimation);
  std::vector<float2> group(D);
  const SpanPair<short2>& segments = std::get<SpanPair<short2>>(request.segments);
  long double re = 0.0L, im = 0.0L;
  for (std::size_t m = 0; m < static_cast<std::size_t>(sizes.decimatedLength); ++m) {
    for (std::size_t u = 0; u < D; ++u) {
      group[u] =
          conjugateProduct(toFloat2(segments.first[m * D + u]),
                           toFloat2(segments.second[m * D + u + static_cast<std::size_t>(lag)]));
    }
    const float2 value = decimateGroup(group.data(), sizes.decimation);
    const long double turn = static_cast<long double>((m * bin) % sizes.fftLength) /
                             static_cast<long double>(sizes.fftLength);
    const long double c = std::cos(2 * std::numbers::pi_v<long double> * turn);
    const long double s = -std::sin(2 * std::numbers::pi_v<long double> * turn);
    re += value.x * c - value.y * s;
    im += value.x * s + value.y * c;
  }
  return re * re + im * im;
}

std::uint64_t binOf(double frequency, const CoarseSizes& sizes) {
  const auto L = static_cast<double>(sizes.fftLength);
  const double signedBin = std::round(frequency / sizes.decimatedRate * L);
  return static_cast<std::uint64_t>(signedBin < 0 ? signedBin + L : signedBin);
}

struct CoarseCase {
  const char* name;
  int sampleCount;
  double sampleRate;
  int lagCount;
};

// The two paths transform with different FFTs, so two bins whose powers agree to the rounding of
// a float may come out in either order; such a near tie is confirmed with a direct DFT in long
// double and then accepted.
void coarseCellsCuda() {
  const CoarseCase cases[] = {
      {"2.048 MHz: D = 125 in groups of 64 threads", 262144, 2048000.0, 300},
      {"D = 3: groups of 2 threads, many to a block", 30000, 49152.0, 100},
      {"D = 1 and rows of 2^21: three batches, the last one short", 2097152, 16000.0, 60},
      {"D = 3000: a reduction block of 2048 beyond a block's threads", 1800000, 49152000.0, 50},
      {"fewer samples than one block of the lag product", 700, 20000.0, 40},
  };
  const auto backend = makeBackend(BackendKind::Cuda);
  for (const CoarseCase& c : cases) {
    const testing::GeneratedPair recordings =
        generate(c.sampleCount, c.sampleRate, c.lagCount, c.lagCount / 3, 77);
    CoarseRequest request =
        testing::coarseRequestFor(recordings, c.sampleCount, c.sampleRate, c.lagCount);
    const CoarseSizes sizes =
        deriveCoarseSizes(c.sampleCount, c.sampleRate, c.lagCount, request.frequencySpan);
    std::vector<LagCell> reference(static_cast<std::size_t>(c.lagCount));
    std::vector<LagCell> gpu(static_cast<std::size_t>(c.lagCount), LagCell{-1, 1.0, 1.0});
    coarseSearchReference(request, reference);
    std::vector<int> reported;
    request.progress = [&reported](int lagsDone) { reported.push_back(lagsDone); };
    backend->coarseSearch(request, gpu);
    // Progress after every batch, rising to the whole window.
    ASSERT_EQ(reported.size(), static_cast<std::size_t>(sizes.batchCount)) << c.name;
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end())) << c.name;
    EXPECT_EQ(reported.back(), c.lagCount) << c.name;

    int nearTies = 0;
    for (int k = 0; k < c.lagCount; ++k) {
      const LagCell& want = reference[static_cast<std::size_t>(k)];
      const LagCell& got = gpu[static_cast<std::size_t>(k)];
      ASSERT_EQ(got.lagIndex, k) << c.name;
      if (got.frequencyOffset != want.frequencyOffset) {
        const long double wantPower =
            directBinPower(request, sizes, k, binOf(want.frequencyOffset, sizes));
        const long double gotPower =
            directBinPower(request, sizes, k, binOf(got.frequencyOffset, sizes));
        EXPECT_LT(std::fabs(static_cast<double>(gotPower / wantPower - 1.0L)), 1e-5)
            << c.name << ": lag " << k << " at " << got.frequencyOffset << " Hz, the reference at "
            << want.frequencyOffset << " Hz";
        ++nearTies;
      }
      EXPECT_NEAR(got.level, want.level, 1e-4) << c.name << ": lag " << k;
    }
    // Near ties are rare: a handful in a window, never a pattern.
    EXPECT_LE(nearTies, std::max(1, c.lagCount / 50)) << c.name;
    const LagCell& strongest = gpu[static_cast<std::size_t>(c.lagCount / 3)];
    EXPECT_GT(strongest.level, 10.0) << c.name << ": the generated emitter stands out";
  }
}

// Fewer than two decimated samples make spectra of one point, which are their own transforms.
void coarseOnePointRowsCuda() {
  const int sampleCount = 200, lagCount = 40;  // D = 125 at 2.048 MHz: M = 1, L = 1
  const testing::GeneratedPair recordings = generate(sampleCount, 2048000.0, lagCount, 13, 78);
  const CoarseRequest request =
      testing::coarseRequestFor(recordings, sampleCount, 2048000.0, lagCount);
  ASSERT_EQ(deriveCoarseSizes(sampleCount, 2048000.0, lagCount, 16384.0).fftLength, 1u);
  std::vector<LagCell> reference(lagCount);
  std::vector<LagCell> gpu(lagCount, LagCell{-1, 1.0, 1.0});
  coarseSearchReference(request, reference);
  makeBackend(BackendKind::Cuda)->coarseSearch(request, gpu);
  for (int k = 0; k < lagCount; ++k) {
    EXPECT_EQ(gpu[k].lagIndex, k);
    EXPECT_EQ(gpu[k].frequencyOffset, reference[k].frequencyOffset) << "lag " << k;
    EXPECT_EQ(gpu[k].level, reference[k].level) << "lag " << k;
  }
}

// One estimate on the GPU against the host's: the fixed grid step is `fixedStep`.
void expectSameEstimate(const FineEstimate& gpu, const FineEstimate& host, double fixedStep,
                        const std::string& what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(gpu.zoomPoints, host.zoomPoints);
  EXPECT_EQ(gpu.gridStart, host.gridStart);
  EXPECT_EQ(gpu.gridStep, host.gridStep);
  EXPECT_LE(std::abs(gpu.zoomIndex - host.zoomIndex), 1);
  EXPECT_NEAR(gpu.correction, host.correction, fixedStep * 1.000001);
  ASSERT_EQ(gpu.trace.empty(), host.trace.empty());
  if (host.trace.empty()) return;
  // The powers around the maximum, at the zoom points both traces hold.
  double peak = 0.0;
  for (const double power : host.trace) peak = std::max(peak, power);
  int compared = 0;
  for (std::size_t i = 0; i < gpu.trace.size(); ++i) {
    const long long k = gpu.traceFirst + static_cast<long long>(i) - host.traceFirst;
    if (k < 0 || k >= static_cast<long long>(host.trace.size())) continue;
    EXPECT_NEAR(gpu.trace[i], host.trace[static_cast<std::size_t>(k)], 1e-9 * peak)
        << "point " << k;
    ++compared;
  }
  EXPECT_GE(compared, static_cast<int>(host.trace.size()) - 1);
}

// The same zoom sizes and grids, the strongest point within one grid point (two FFT paths may
// split a near tie), and the powers around it to the rounding of double precision.
void refinementCuda() {
  const auto backend = makeBackend(BackendKind::Cuda);
  for (const RefinementCase& c : RefinementCases) {
    const testing::GeneratedPair pair =
        testing::generatedPair(testing::oneEmitter(c.n, c.fs, c.delay, c.offsetHz, 10.0, 12));
    FineRequest request{PointerPair<short2>{pair.first.data(), pair.second.data()}, c.n, c.fs,
                        c.offsetHz + c.candidateErrorHz, 6};
    const Refinement gpu = backend->refine(request);
    const FineEstimate hostFrequency = estimateFineFrequency(request, cztHost);
    FineRequest corrected = request;
    corrected.frequencyOffset += hostFrequency.correction;
    const FineEstimate hostDelay = estimateFineDelay(corrected, cztHost);
    expectSameEstimate(gpu.frequency, hostFrequency, 0.0001, std::string(c.name) + ", frequency");
    expectSameEstimate(gpu.delay, hostDelay, 1e-9, std::string(c.name) + ", delay");
  }
}

// The device sums every bin and every run in the host's order, so the two differ only where
// their transforms and their sines and cosines round differently (the device's within 2 ulp,
// glibc's within 1): the host's own tolerances against the direct sums hold for both. The small
// layouts' frames are 256 and 512 points long: in one batch and cut into batches of one and two
// frames.
void precisePrimitivesCuda() {
  const struct {
    const char* name;
    std::int64_t batchPoints;
  } implementations[] = {{"cuda", PreciseBatchPoints},
                         {"cuda, one frame a batch", 1},
                         {"cuda, 512 points a batch", 512}};
  for (const auto& implementation : implementations) {
    testing::expectCrossSpectraMatchDirectSums(
        *makeCudaPrecisePrimitives(implementation.batchPoints), implementation.name);
    testing::expectProductRunsMatchDirectSums(
        *makeCudaPrecisePrimitives(implementation.batchPoints), implementation.name);
  }
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
  EXPECT_LT(testing::relativeDifference(device.margined, host.margined), 1e-13) << what;
  EXPECT_LT(testing::relativeDifference(device.windowed, host.windowed), 1e-13) << what;
  EXPECT_LT(testing::relativeDifference(device.runs, host.runs), 1e-12) << what;
}

constexpr double SampleRate = 1e6;

// 300000 samples of a generated pair: five blocks in frames of 65536, in one batch and in
// batches of two, two and one; inside and outside a hold.
void preciseLongFramesCuda() {
  constexpr int N = 300000, Extra = 64;
  const testing::GeneratedPair pair = testing::generatedPair(
      testing::oneEmitter(N + 2 * Extra, SampleRate, 3.3 / SampleRate, 150.0, 5.0, 51));
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
  const Spectra host = allPrimitives(*makeHostPrecisePrimitives(), segments, layout, rootWeight);
  for (const std::int64_t batchPoints : {PreciseBatchPoints, std::int64_t{2} * 65536}) {
    const auto device = makeCudaPrecisePrimitives(batchPoints);
    expectSame(allPrimitives(*device, segments, layout, rootWeight), host, "outside a hold");
    const SegmentHold hold(*device);
    expectSame(allPrimitives(*device, segments, layout, rootWeight), host, "first in a hold");
    expectSame(allPrimitives(*device, segments, layout, rootWeight), host, "again in the hold");
  }
}

// The refinement and both precise estimates of a generated pair, the segments with the margins
// a recording offers. The rounds follow the same path, so the two land within a thousandth of a
// deviation of each other.
void preciseEstimateCuda() {
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
    const double delay = (Lag + c.fraction) / SampleRate;
    const testing::GeneratedPair pair = testing::generatedPair(
        testing::oneEmitter(c.samples + 2 * Extra, SampleRate, delay, c.offsetHz, c.snrDb, c.seed));
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

void floatSamplesCuda() { expectFloatSearchIdentical(*makeBackend(BackendKind::Cuda), false); }

void expectEstimateWithinAStep(const FineEstimate& gpu, const FineEstimate& host, double fixedStep,
                               const char* what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(gpu.zoomPoints, host.zoomPoints);
  EXPECT_LE(std::abs(gpu.zoomIndex - host.zoomIndex), 1);
  EXPECT_NEAR(gpu.correction, host.correction, fixedStep * 1.000001);
}

// Fractional values give the host's results within the tolerances the int16 comparisons allow
// (the two transform with different FFTs).
void fractionalFloatsCuda() {
  constexpr int N = 262144, Lags = 64, Lag = 20;
  constexpr double Rate = 1e6, OffsetHz = 1234.5;
  const double trueDelay = (Lag + 0.3) / Rate;
  const testing::GeneratedPair pair =
      testing::generatedPair(testing::oneEmitter(N + Lags, Rate, trueDelay, OffsetHz, 10.0, 81),
                             testing::Samples::Floats, N);
  const std::vector<float2>& first = pair.firstFloat;
  const std::vector<float2>& second = pair.secondFloat;
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
  EXPECT_LT(std::fabs(onHost.delay - trueDelay), 4.0 * onHost.sigmaDelay);
  EXPECT_EQ(onDevice.iterations, onHost.iterations);
  EXPECT_NEAR(onDevice.delay, onHost.delay, 1e-3 * onHost.sigmaDelay);
  EXPECT_NEAR(onDevice.frequencyOffset, onHost.frequencyOffset, 1e-3 * onHost.sigmaFrequency);
}
#endif  // KESTRAV_PARITY_CUDA

// ---------------------------------------------------------------------------------------------
// The table

enum class Backend { Reference, Host, Cuda };

struct ParityRow {
  const char* name;  // the CTest entry's suffix
  const char* stage;
  Backend backend;
  const char* oracle;
  const char* tolerance;
  void (*check)();
};

const ParityRow Rows[] = {
    {"CoarseCells_Host", "coarse cells", Backend::Host, "reference",
     "bins identical, level 1e-5 dB (NaN where the reference's is)", coarseCellsHost},
    {"Refinement_Host", "refinement", Backend::Host, "reference reading, Bluestein's zoom",
     "sizes, grids, index and correction identical; trace 1e-11 of the peak", refinementHost},
    {"PrecisePrimitives_Host", "precise primitives", Backend::Host, "direct sums",
     "spectra 1e-13, runs 1e-12 of the largest", precisePrimitivesHost},
    {"FloatSamples_Reference", "float samples", Backend::Reference,
     "int16 search of the same values", "bit-identical", floatSamplesReference},
    {"FloatSamples_Host", "float samples", Backend::Host, "int16 search of the same values",
     "bit-identical", floatSamplesHost},
#if KESTRAV_PARITY_CUDA
    {"CoarseCells_Cuda", "coarse cells", Backend::Cuda, "reference",
     "bins identical but near ties (direct DFT 1e-5, at most lags/50), level 1e-4 dB",
     coarseCellsCuda},
    {"CoarseOnePointRows_Cuda", "coarse cells of one-point rows", Backend::Cuda, "reference",
     "identical", coarseOnePointRowsCuda},
    {"Refinement_Cuda", "refinement", Backend::Cuda, "host, Bluestein's zoom",
     "sizes and grids identical, index +-1, correction one step, trace 1e-9 of the peak",
     refinementCuda},
    {"PrecisePrimitives_Cuda", "precise primitives", Backend::Cuda,
     "direct sums (batches of all, 1, 512 points)", "spectra 1e-13, runs 1e-12 of the largest",
     precisePrimitivesCuda},
    {"PreciseLongFrames_Cuda", "precise primitives, frames of 65536", Backend::Cuda,
     "host, in batches and holds", "spectra 1e-13, runs 1e-12 of the largest",
     preciseLongFramesCuda},
    {"PreciseEstimate_Cuda", "precise estimate", Backend::Cuda, "host",
     "iterations identical, values 1e-3 deviation, deviations 1e-6 relative", preciseEstimateCuda},
    {"FloatSamples_Cuda", "float samples", Backend::Cuda, "int16 search of the same values",
     "bit-identical", floatSamplesCuda},
    {"FractionalFloats_Cuda", "fractional float samples", Backend::Cuda,
     "reference cells, host refinement and primitives",
     "cells as the CUDA coarse row (at most 1 other bin), estimates a step, precise 1e-3 "
     "deviation",
     fractionalFloatsCuda},
#endif
};

std::vector<ParityRow> rowsOn(bool device) {
  std::vector<ParityRow> rows;
  for (const ParityRow& row : Rows) {
    if ((row.backend == Backend::Cuda) == device) rows.push_back(row);
  }
  return rows;
}

// The row as the test list shows it.
void PrintTo(const ParityRow& row, std::ostream* out) {
  const char* const backends[] = {"reference", "host", "cuda"};
  *out << row.stage << " | " << backends[static_cast<int>(row.backend)] << " | " << row.oracle
       << " | " << row.tolerance;
}

class BackendParity : public ::testing::TestWithParam<ParityRow> {};

TEST_P(BackendParity, WithinTheRowsTolerance) {
  const ParityRow& row = GetParam();
#if KESTRAV_PARITY_CUDA
  if (row.backend == Backend::Cuda) SKIP_WITHOUT_CUDA_DEVICE();
#endif
  SCOPED_TRACE(::testing::Message()
               << row.stage << " against " << row.oracle << ": " << row.tolerance);
  row.check();
}

std::string rowName(const ::testing::TestParamInfo<ParityRow>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Host, BackendParity, ::testing::ValuesIn(rowsOn(false)), rowName);
#if KESTRAV_PARITY_CUDA
INSTANTIATE_TEST_SUITE_P(Cuda, BackendParity, ::testing::ValuesIn(rowsOn(true)), rowName);
#endif

}  // namespace
}  // namespace kestrav
