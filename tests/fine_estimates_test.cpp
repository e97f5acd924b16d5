// The fine refinement: exact grid points on constructed pairs, the boundaries where no zoom runs,
// the plain path with Bluestein's zoom and the streamed path against the direct sum and against
// each other, and the longest zoom under a 1 GiB address-space limit.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "platform/host/errors.hpp"
#include "stages/fine/fine_zoom.hpp"
#include "support/generated_pairs.hpp"

namespace kestrav {
namespace {

using Plain = FineEstimate (*)(const FineRequest&, CztFunction);
using Streamed = FineEstimate (*)(const FineRequest&);
struct Estimator {
  const char* name;
  Plain plain;
  Streamed streamed;
};
constexpr Estimator Frequency{"frequency", estimateFineFrequency, estimateFineFrequencyStreamed};
constexpr Estimator Delay{"delay", estimateFineDelay, estimateFineDelayStreamed};

struct Recordings {
  std::vector<short2> first, second;
  std::vector<float2> firstFloat, secondFloat;  // or fractional values in these
  FineRequest request(int n, double fs, double candidateHz) const {
    FineRequest request{PointerPair<short2>{first.data(), second.data()}, n, fs, candidateHz, 0};
    if (!firstFloat.empty()) {
      request.segments = PointerPair<float2>{firstFloat.data(), secondFloat.data()};
    }
    return request;
  }
};

// One random sequence s seen twice: first[i] = s[i + lead], second[i] = s[i] e^{j 2 pi f i / fs},
// both rounded to int16.
Recordings tonePair(int n, double fs, double offsetHz, int lead, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(-16000.0, 16000.0);
  std::vector<std::complex<double>> s(static_cast<std::size_t>(n + lead));
  for (auto& value : s) value = {uniform(random), uniform(random)};
  const auto rounded = [](std::complex<double> v) {
    return short2{static_cast<short>(std::lround(v.real())),
                  static_cast<short>(std::lround(v.imag()))};
  };
  Recordings pair;
  for (int i = 0; i < n; ++i) {
    pair.first.push_back(rounded(s[i + lead]));
    pair.second.push_back(
        rounded(s[i] * std::polar(1.0, 2.0 * std::numbers::pi * offsetHz * i / fs)));
  }
  return pair;
}

// A generated pair of one emitter, quantised to int16 or scaled to full range as floats.
Recordings generated(int n, double fs, double delay, double offsetHz, std::uint64_t seed,
                     bool floats = false) {
  testing::GeneratedPair pair =
      testing::generatedPair(testing::oneEmitter(n, fs, delay, offsetHz, 20.0, seed),
                             floats ? testing::Samples::Floats : testing::Samples::Int16);
  return {std::move(pair.first), std::move(pair.second), std::move(pair.firstFloat),
          std::move(pair.secondFloat)};
}

TEST(FineFrequency, IdenticalSegmentsPeakAtTheGridPointOfZeroHertz) {
  const Recordings pair = tonePair(1048576, 1e6, 0.0, 0, 1);
  const Recordings same{pair.first, pair.first, {}, {}};
  const FineEstimate estimate = estimateFineFrequency(same.request(1048576, 1e6, 0.0), cztHost);
  EXPECT_EQ(estimate.zoomPoints, 38146);
  EXPECT_EQ(estimate.zoomIndex, 19073);
  // The fixed 0.0001 Hz step, not the grid's own spacing: not quite 0.
  EXPECT_EQ(estimate.correction, 19073 * 0.0001 - 1.9073486328125);
  EXPECT_NEAR(estimate.correction, -0.0000486, 1e-7);
}

TEST(FineFrequency, MeasuresWhatRemainsOfTheOffset) {
  const struct {
    const char* name;
    int n;
    double fs, offsetHz, candidateHz;
    int zoomPoints;
  } cases[] = {
      // A band of +-488 Hz in 9765625 points: the long zoom, 4766 blocks when streamed.
      {"100 Hz above", 4096, 1e6, 100.0, 0.0, 9765625},
      {"candidate's offset removed first", 4096, 1000.0, -0.3, -0.1, 9765},
  };
  for (const auto& c : cases) {
    const Recordings pair = tonePair(c.n, c.fs, c.offsetHz, 0, 2);
    const FineRequest request = pair.request(c.n, c.fs, c.candidateHz);
    for (const FineEstimate& estimate :
         {estimateFineFrequency(request, cztHost), estimateFineFrequencyStreamed(request)}) {
      EXPECT_EQ(estimate.zoomPoints, c.zoomPoints) << c.name;
      EXPECT_NEAR(estimate.correction, c.offsetHz - c.candidateHz, 0.001) << c.name;
    }
  }
}

TEST(FineDelay, SecondRecordingOneSampleLaterOnAGridOfAboutOneNanosecond) {
  // Four sample periods in 1 ns steps: 4e-6 / 1e-9 is 3999.9999999999995 in double precision.
  const Recordings pair = tonePair(2048, 1.0, 0.0, 0, 3);
  for (const auto& [fs, points] : {std::pair{1.6e6, 2500}, std::pair{8e6, 499}}) {
    EXPECT_EQ(estimateFineDelay(pair.request(2048, fs, 0.0), cztHost).zoomPoints, points);
  }
  // Without a frequency offset, and with one of 1 kHz that the candidate's offset removes.
  for (const double offsetHz : {0.0, 1000.0}) {
    const Recordings later = tonePair(4096, 1e6, offsetHz, 1, 4);
    const FineEstimate estimate = estimateFineDelay(later.request(4096, 1e6, offsetHz), cztHost);
    EXPECT_EQ(estimate.zoomPoints, 3999) << offsetHz;
    EXPECT_EQ(estimate.zoomIndex, 2999) << offsetHz;
    EXPECT_EQ(estimate.correction, 2999 * 1e-9 - 2e-6) << offsetHz;
    EXPECT_NEAR(estimate.correction, 9.99e-7, 1e-15) << offsetHz;
  }
}

TEST(FineEstimates, SamplesAfterTheLastWholeBlockTakeNoPart) {
  const int n = 4096 + 100;
  for (const auto& [e, fs] : {std::pair{Frequency, 1000.0}, std::pair{Delay, 1e6}}) {
    const Recordings pair = tonePair(n, fs, 0.2, 1, 5);
    Recordings changed = pair;
    for (int i = 4096; i < n; ++i) {
      changed.first[i] = short2{12345, -321};
      changed.second[i] = short2{-2222, 3333};
    }
    const FineEstimate original = e.plain(pair.request(n, fs, 0.1), cztHost);
    for (const FineEstimate& altered :
         {e.plain(changed.request(n, fs, 0.1), cztHost), e.streamed(changed.request(n, fs, 0.1))}) {
      EXPECT_EQ(altered.zoomIndex, original.zoomIndex) << e.name;
      EXPECT_EQ(altered.correction, original.correction) << e.name;
    }
  }
}

TEST(FineEstimates, NoCorrectionWithoutAWholeBlockOrAGridPoint) {
  const struct {
    const char* name;
    Estimator e;
    int n;
    double fs;
  } cases[] = {
      {"one sample short of a block", Frequency, 2047, 1e6},
      {"one sample short of a block", Delay, 2047, 1e6},
      {"no samples", Frequency, 0, 1e6},
      {"no samples", Delay, 0, 1e6},
      {"band narrower than 0.0001 Hz", Frequency, 2048, 0.05},
      {"window narrower than 1 ns", Delay, 2048, 5e9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.e.name << ", " << c.name);
    // Exactly n samples: reading past them is a fault the sanitizers report.
    const FineRequest request = tonePair(c.n, 1.0, 0.0, 0, 6).request(c.n, c.fs, 0.0);
    for (const FineEstimate& estimate : {c.e.plain(request, cztHost), c.e.streamed(request)}) {
      EXPECT_EQ(estimate.correction, 0.0);
      EXPECT_EQ(estimate.zoomIndex, -1);
    }
  }
}

TEST(FineEstimates, ZoomBeyondThe32BitRangeIsAnInputError) {
  const Recordings pair = tonePair(2048, 1.0, 0.0, 0, 7);
  // 2e9 Hz asks for 3.9e10 frequency points; 1 Hz for 4e9 delay points.
  for (const auto& [e, fs] : {std::pair{Frequency, 2e9}, std::pair{Delay, 1.0}}) {
    const FineRequest request = pair.request(2048, fs, 0.0);
    EXPECT_THROW(e.streamed(request), InputError) << e.name;
    try {
      e.plain(request, cztHost);
      ADD_FAILURE() << e.name << ": no error";
    } catch (const InputError& error) {
      EXPECT_NE(
          std::string(error.what()).find(std::string("the fine ") + e.name + " zoom would need"),
          std::string::npos)
          << error.what();
    }
  }
}

// Points whose zoom peaks where its frequency is `frequency`: a tone with a little noise.
std::vector<double2> toneAt(int N, double frequency, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, 0.01);
  std::vector<double2> x(static_cast<std::size_t>(N));
  for (int n = 0; n < N; ++n) {
    x[n] =
        double2{std::cos(n * frequency) + noise(random), std::sin(n * frequency) + noise(random)};
  }
  return x;
}

TEST(ZoomPeakInBlocks, SamePeakAndTraceAsTheWholeZoom) {
  const int N = 256, M = 5000;  // blocks of 257 outputs
  const double step = -2.0 * std::numbers::pi / (256.0 * 800), start = -0.01;
  // Peaks at either end and either side of a block boundary; traces cut by either end.
  const std::pair<int, int> cases[] = {{0, 3},    {M - 1, 3},  {256, 5},      {257, 5},
                                       {1000, 0}, {2570, 600}, {1500, M + 10}};
  for (const auto& [peak, halfWidth] : cases) {
    const std::vector<double2> x = toneAt(N, start - peak * step, 3);
    const ZoomPeak whole = strongestZoomPoint(cztInBlocks, x.data(), N, M, step, start, halfWidth);
    const ZoomPeak streamed = strongestZoomPointInBlocks(x.data(), N, M, step, start, halfWidth);
    EXPECT_EQ(whole.index, peak);
    EXPECT_EQ(streamed.index, peak);
    EXPECT_EQ(streamed.traceFirst, whole.traceFirst) << peak;
    // Powers are never -0 or NaN: equal values are equal bits.
    EXPECT_EQ(streamed.trace, whole.trace) << peak;
  }
}

struct PairCase {
  const char* name;
  Estimator e;
  int n;
  double fs, delay, offsetHz, candidateHz;
};

// Bluestein's zoom and the streamed path find the direct sum's grid point (where the direct sum
// is affordable); the streamed zoom's grid and trace are the plain host path's, bit for bit within
// one block; every estimate within a grid step or so of the generated truth. On int16 samples and
// on fractional float samples.
TEST(FineEstimates, PathsAgreeWithTheDirectSumEachOtherAndTheTruth) {
  const int halfWidth = 4;
  const struct {
    PairCase c;
    bool direct, oneBlock, floats;
  } cases[] = {
      {{"8192 at 100 Hz", Frequency, 8192, 100.0, 0.0, 0.0123, 0.0}, true, false, false},
      {{"two blocks", Frequency, 4096, 250.0, 0.0, -0.071, -0.02}, true, false, false},
      {{"at 8 MHz", Delay, 8192, 8e6, 1.3e-7, 700.0, 700.0}, true, false, false},
      {{"at 2.048 MHz", Delay, 262144, 2.048e6, 2.1e-7, -3000.0, -2999.5}, false, true, false},
      {{"one block", Frequency, 4096, 100.0, 0.0, 0.011, 0.0}, false, true, false},
      {{"75 blocks", Frequency, 262144, 1e6, 0.0, 1234.5, 1234.0}, false, false, false},
      {{"at 2.048 MHz, floats", Delay, 262144, 2.048e6, 2.1e-7, -3000.0, -2999.5},
       false,
       true,
       true},
      {{"one block, floats", Frequency, 4096, 100.0, 0.0, 0.011, 0.0}, false, true, true},
  };
  std::uint64_t seed = 20;
  for (const auto& [c, direct, oneBlock, floats] : cases) {
    SCOPED_TRACE(::testing::Message() << c.e.name << ", " << c.name);
    const Recordings pair = generated(c.n, c.fs, c.delay, c.offsetHz, ++seed, floats);
    FineRequest request = pair.request(c.n, c.fs, c.candidateHz);
    request.traceHalfWidth = halfWidth;
    const FineEstimate plain = c.e.plain(request, cztHost);
    const FineEstimate streamed = c.e.streamed(request);
    EXPECT_GT(plain.zoomPoints, 400);
    if (direct) {
      const FineEstimate reference = c.e.plain(request, cztReference);
      EXPECT_EQ(plain.zoomIndex, reference.zoomIndex);
      EXPECT_EQ(streamed.zoomPoints, reference.zoomPoints);
      EXPECT_EQ(streamed.zoomIndex, reference.zoomIndex);
      EXPECT_EQ(streamed.correction, reference.correction);
    }
    EXPECT_EQ(streamed.zoomIndex, plain.zoomIndex);
    EXPECT_EQ(streamed.correction, plain.correction);
    EXPECT_EQ(streamed.gridStart, plain.gridStart);
    EXPECT_EQ(streamed.gridStep, plain.gridStep);
    EXPECT_EQ(streamed.traceFirst, plain.traceFirst);
    ASSERT_EQ(streamed.trace.size(), 2u * halfWidth + 1);
    ASSERT_EQ(plain.trace.size(), streamed.trace.size());
    for (std::size_t i = 0; i < plain.trace.size(); ++i) {
      EXPECT_NEAR(streamed.trace[i], plain.trace[i],
                  oneBlock ? 0.0 : 1e-11 * plain.trace[halfWidth])
          << "point " << i;
    }
    if (c.e.plain == estimateFineFrequency) {
      EXPECT_NEAR(c.candidateHz + plain.correction, c.offsetHz, 3e-4);
    } else {
      EXPECT_NEAR(plain.correction, c.delay, 3e-9);
    }
  }
}

// In a child under a 1 GiB address-space limit: `estimate`'s exit status, or 3 and the message
// of a ResourceError.
template <class Estimate>
void withinOneGibibyte(const Estimate& estimate) {
  const rlim_t bytes = rlim_t{1} << 30;
  const rlimit limit{bytes, bytes};
  setrlimit(RLIMIT_AS, &limit);
  try {
    std::_Exit(estimate());
  } catch (const ResourceError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    std::_Exit(3);
  }
}

TEST(FineEstimates, TheLongestZoomFitsOnlyWhenStreamed) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
#else
  // n = 2048 at 1 MHz: 19531250 zoom points. The whole zoom (its output, then transforms of 2^25
  // points: about 2 GB) is refused with a ResourceError, whichever buffer meets the limit first;
  // the streamed one finishes and finds the offset.
  const Recordings pair = generated(2048, 1e6, 0.0, -50.0, 50);
  const FineRequest request = pair.request(2048, 1e6, 0.0);
  EXPECT_EXIT(withinOneGibibyte([&] {
                (void)estimateFineFrequency(request, cztHost);
                return 0;
              }),
              ::testing::ExitedWithCode(3), "cannot allocate [0-9]+ bytes for the ");
  EXPECT_EXIT(withinOneGibibyte([&] {
                const FineEstimate e = estimateFineFrequencyStreamed(request);
                return e.zoomPoints == 19531250 && std::fabs(e.correction + 50.0) < 1.0 ? 0 : 4;
              }),
              ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
}  // namespace kestrav
