// The host backend's refinement: the streamed zoom peak and its trace, and the streamed
// estimates against the reference path and the plain host path.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

#include "czt/czt.hpp"
#include "engine/errors.hpp"
#include "tdc/fine_estimates.hpp"
#include "tdc/fine_zoom.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

constexpr double Pi = std::numbers::pi;

// Points whose zoom peaks where its frequency is `frequency`: a tone with a little noise.
std::vector<double2> toneAt(int N, double frequency, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, 0.01);
  std::vector<double2> x(static_cast<std::size_t>(N));
  for (int n = 0; n < N; ++n) {
    const std::complex<double> tone = std::polar(1.0, n * frequency);
    x[n] = double2{tone.real() + noise(random), tone.imag() + noise(random)};
  }
  return x;
}

TEST(ZoomPeakInBlocks, SamePeakAndTraceAsTheWholeZoom) {
  const int N = 256;
  const int M = 5000;  // blocks of 257 outputs
  const double step = -2.0 * Pi / (256.0 * 800);
  const double start = -0.01;
  const struct {
    int peak;
    int halfWidth;
  } cases[] = {{0, 3}, {M - 1, 3}, {256, 5}, {257, 5}, {1000, 0}, {2570, 600}, {1500, M + 10}};
  for (const auto& c : cases) {
    const std::vector<double2> x = toneAt(N, start - c.peak * step, 3);
    const ZoomPeak whole =
        strongestZoomPoint(cztInBlocks, x.data(), N, M, step, start, c.halfWidth);
    const ZoomPeak streamed = strongestZoomPointInBlocks(x.data(), N, M, step, start, c.halfWidth);
    EXPECT_EQ(whole.index, c.peak);
    EXPECT_EQ(streamed.index, c.peak);
    EXPECT_EQ(streamed.traceFirst, whole.traceFirst) << c.peak;
    // Powers are never -0 or NaN: equal values are equal bits.
    EXPECT_EQ(streamed.trace, whole.trace) << c.peak;
  }
}

struct Pair {
  SamplePairInt16 samples;
  FineRequest request;
};

Pair generated(int n, double fs, double delay, double offsetHz, double candidateHz,
               std::uint64_t seed) {
  PairConfig config;
  config.sampleCount = n;
  config.sampleRate = fs;
  config.emitters = {Emitter{delay, offsetHz, 0.0}};
  config.seed = seed;
  Pair pair{quantizePair(generatePair(config)), {}};
  pair.request = FineRequest{pair.samples.first.data(), pair.samples.second.data(), n, fs,
                             candidateHz};
  return pair;
}

using Estimate = FineEstimate (*)(const FineRequest&, CztFunction);
using Streamed = FineEstimate (*)(const FineRequest&);

struct EstimateCase {
  const char* name;
  Estimate plain;
  Streamed streamed;
  int n;
  double fs, delay, offsetHz, candidateHz;
};

TEST(StreamedEstimates, SameGridPointAsTheReferencePath) {
  const EstimateCase cases[] = {
      {"frequency, one block", estimateFineFrequency, estimateFineFrequencyStreamed, 8192, 100.0,
       0.0, 0.0123, 0.0},
      {"frequency, two blocks", estimateFineFrequency, estimateFineFrequencyStreamed, 4096, 250.0,
       0.0, -0.071, -0.02},
      {"delay", estimateFineDelay, estimateFineDelayStreamed, 8192, 8e6, 1.3e-7, 700.0, 700.0},
  };
  std::uint64_t seed = 20;
  for (const EstimateCase& c : cases) {
    const Pair pair = generated(c.n, c.fs, c.delay, c.offsetHz, c.candidateHz, ++seed);
    const FineEstimate reference = c.plain(pair.request, cztReference);
    const FineEstimate streamed = c.streamed(pair.request);
    EXPECT_GT(reference.zoomPoints, 400) << c.name;
    EXPECT_EQ(streamed.zoomPoints, reference.zoomPoints) << c.name;
    EXPECT_EQ(streamed.zoomIndex, reference.zoomIndex) << c.name;
    EXPECT_EQ(streamed.correction, reference.correction) << c.name;
  }
}

TEST(StreamedEstimates, SameZoomAsThePlainHostPath) {
  const int halfWidth = 4;
  struct Case {
    EstimateCase estimate;
    bool oneBlock;  // then the zoom is cztHost's bit for bit
  };
  const Case cases[] = {
      {{"delay at 2.048 MHz", estimateFineDelay, estimateFineDelayStreamed, 262144, 2.048e6,
        2.1e-7, -3000.0, -2999.5},
       true},
      {{"frequency, one block", estimateFineFrequency, estimateFineFrequencyStreamed, 4096, 100.0,
        0.0, 0.011, 0.0},
       true},
      {{"frequency, 75 blocks", estimateFineFrequency, estimateFineFrequencyStreamed, 262144, 1e6,
        0.0, 1234.5, 1234.0},
       false},
  };
  std::uint64_t seed = 30;
  for (const Case& c : cases) {
    const EstimateCase& e = c.estimate;
    Pair pair = generated(e.n, e.fs, e.delay, e.offsetHz, e.candidateHz, ++seed);
    pair.request.traceHalfWidth = halfWidth;
    const FineEstimate plain = e.plain(pair.request, cztHost);
    const FineEstimate streamed = e.streamed(pair.request);
    EXPECT_EQ(streamed.zoomIndex, plain.zoomIndex) << e.name;
    EXPECT_EQ(streamed.correction, plain.correction) << e.name;
    EXPECT_EQ(streamed.gridStart, plain.gridStart) << e.name;
    EXPECT_EQ(streamed.gridStep, plain.gridStep) << e.name;
    EXPECT_EQ(streamed.traceFirst, plain.traceFirst) << e.name;
    ASSERT_EQ(streamed.trace.size(), 2u * halfWidth + 1) << e.name;
    ASSERT_EQ(plain.trace.size(), streamed.trace.size()) << e.name;
    for (std::size_t i = 0; i < plain.trace.size(); ++i) {
      if (c.oneBlock) {
        EXPECT_EQ(streamed.trace[i], plain.trace[i]) << e.name << " point " << i;
      } else {
        EXPECT_NEAR(streamed.trace[i], plain.trace[i], 1e-11 * plain.trace[halfWidth])
            << e.name << " point " << i;
      }
    }
  }
}

TEST(StreamedEstimates, TheLongZoomFindsTheOffset) {
  // n = 4096 at 1 MHz: 9765625 zoom points over +-488 Hz, in 4766 blocks.
  const Pair pair = generated(4096, 1e6, 0.0, 100.0, 0.0, 40);
  const FineEstimate estimate = estimateFineFrequencyStreamed(pair.request);
  EXPECT_EQ(estimate.zoomPoints, 9765625);
  EXPECT_NEAR(estimate.correction, 100.0, 0.5);
}

TEST(StreamedEstimates, NoCorrectionWithoutAWholeBlockOrAGridPoint) {
  const struct {
    const char* name;
    Streamed estimate;
    int n;
    double fs;
  } cases[] = {
      {"frequency, one sample short of a block", estimateFineFrequencyStreamed, 2047, 1e6},
      {"delay, one sample short of a block", estimateFineDelayStreamed, 2047, 1e6},
      {"frequency band narrower than 0.0001 Hz", estimateFineFrequencyStreamed, 2048, 0.05},
      {"delay window narrower than 1 ns", estimateFineDelayStreamed, 2048, 5e9},
  };
  for (const auto& c : cases) {
    // Exactly n samples: reading past them is a fault the sanitizers report.
    const std::vector<short2> samples(static_cast<std::size_t>(c.n), short2{100, -100});
    const FineRequest request{samples.data(), samples.data(), c.n, c.fs, 0.0};
    const FineEstimate estimate = c.estimate(request);
    EXPECT_EQ(estimate.correction, 0.0) << c.name;
    EXPECT_EQ(estimate.zoomIndex, -1) << c.name;
  }
  const std::vector<short2> samples(2048, short2{100, -100});
  EXPECT_THROW(estimateFineFrequencyStreamed({samples.data(), samples.data(), 2048, 2e9, 0.0}),
               InputError);
}

TEST(StreamedEstimates, TheLongestZoomFitsWhereTheWholeOneDoesNot) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
#else
  // n = 2048 at 1 MHz: 19531250 zoom points, which the whole zoom cannot hold in 1 GiB of
  // address space. Exits with 0 when the streamed estimate finishes within it.
  const Pair pair = generated(2048, 1e6, 0.0, -50.0, 0.0, 50);
  const auto estimateWithinOneGibibyte = [&pair] {
    const rlim_t bytes = rlim_t{1} << 30;
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_AS, &limit);
    try {
      const FineEstimate estimate = estimateFineFrequencyStreamed(pair.request);
      std::_Exit(estimate.zoomPoints == 19531250 && std::fabs(estimate.correction + 50.0) < 1.0
                     ? 0
                     : 4);
    } catch (const SearchError& error) {
      std::fprintf(stderr, "%s\n", error.what());
      std::_Exit(3);
    }
  };
  EXPECT_EXIT(estimateWithinOneGibibyte(), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
}  // namespace kestrav
