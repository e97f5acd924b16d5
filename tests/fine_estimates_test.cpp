#include "tdc/fine_estimates.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

#include "engine/errors.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

struct Recordings {
  std::vector<short2> first, second;
};

short2 rounded(std::complex<double> value) {
  return short2{static_cast<short>(std::lround(value.real())),
                static_cast<short>(std::lround(value.imag()))};
}

// One random sequence s seen twice: first[i] = s[i + lead], second[i] = s[i] e^{j 2 pi f i / fs},
// both rounded to int16.
Recordings tonePair(int n, double fs, double offsetHz, int lead, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(-16000.0, 16000.0);
  std::vector<std::complex<double>> s(static_cast<std::size_t>(n + lead));
  for (auto& value : s) value = {uniform(random), uniform(random)};
  Recordings pair;
  for (int i = 0; i < n; ++i) {
    const double phase = 2.0 * std::numbers::pi * offsetHz * i / fs;
    pair.first.push_back(rounded(s[i + lead]));
    pair.second.push_back(rounded(s[i] * std::polar(1.0, phase)));
  }
  return pair;
}

FineRequest requestFor(const Recordings& pair, int n, double fs, double frequencyOffset) {
  return FineRequest{pair.first.data(), pair.second.data(), n, fs, frequencyOffset};
}

TEST(FineFrequency, IdenticalSegmentsPeakAtTheGridPointOfZeroHertz) {
  const Recordings pair = tonePair(1048576, 1e6, 0.0, 0, 1);
  const Recordings same{pair.first, pair.first};
  const FineEstimate estimate = estimateFineFrequency(requestFor(same, 1048576, 1e6, 0.0), cztHost);
  EXPECT_EQ(estimate.zoomPoints, 38146);
  EXPECT_EQ(estimate.zoomIndex, 19073);
  // The fixed 0.0001 Hz step, not the grid's own spacing: not quite 0.
  EXPECT_EQ(estimate.correction, 19073 * 0.0001 - 1.9073486328125);
  EXPECT_NEAR(estimate.correction, -0.0000486, 1e-7);
}

TEST(FineFrequency, MeasuresWhatRemainsOfTheOffset) {
  struct Case {
    const char* name;
    int n;
    double fs, offsetHz, candidateHz;
    int zoomPoints;
  };
  const Case cases[] = {
      // A band of +-488 Hz zoomed in 9765625 points: the long zoom.
      {"100 Hz above", 4096, 1e6, 100.0, 0.0, 9765625},
      {"candidate's offset removed first", 4096, 1000.0, -0.3, -0.1, 9765},
  };
  for (const Case& c : cases) {
    const Recordings pair = tonePair(c.n, c.fs, c.offsetHz, 0, 2);
    const FineEstimate estimate =
        estimateFineFrequency(requestFor(pair, c.n, c.fs, c.candidateHz), cztHost);
    EXPECT_EQ(estimate.zoomPoints, c.zoomPoints) << c.name;
    EXPECT_NEAR(estimate.correction, c.offsetHz - c.candidateHz, 0.001) << c.name;
  }
}

TEST(FineDelay, GridOfAboutOneNanosecondOverFourSamplePeriods) {
  struct Case {
    double fs;
    int zoomPoints;
  };
  const Recordings pair = tonePair(2048, 1.0, 0.0, 0, 3);
  // 4e-6 / 1e-9 is 3999.9999999999995 in double precision.
  for (const Case c : {Case{1e6, 3999}, Case{1.6e6, 2500}, Case{8e6, 499}}) {
    EXPECT_EQ(estimateFineDelay(requestFor(pair, 2048, c.fs, 0.0), cztHost).zoomPoints,
              c.zoomPoints);
  }
}

TEST(FineDelay, SecondRecordingOneSampleLater) {
  // Without a frequency offset, and with one of 1 kHz that the candidate's offset removes.
  for (const double offsetHz : {0.0, 1000.0}) {
    const Recordings pair = tonePair(4096, 1e6, offsetHz, 1, 4);
    const FineEstimate estimate = estimateFineDelay(requestFor(pair, 4096, 1e6, offsetHz), cztHost);
    EXPECT_EQ(estimate.zoomIndex, 2999) << offsetHz;
    EXPECT_EQ(estimate.correction, 2999 * 1e-9 - 2e-6) << offsetHz;
    EXPECT_NEAR(estimate.correction, 9.99e-7, 1e-15) << offsetHz;
  }
}

using Estimate = FineEstimate (*)(const FineRequest&, CztFunction);

TEST(FineEstimates, SamplesAfterTheLastWholeBlockTakeNoPart) {
  struct Case {
    Estimate estimate;
    double fs;
  };
  const int n = 4096 + 100;
  for (const Case c : {Case{estimateFineFrequency, 1000.0}, Case{estimateFineDelay, 1e6}}) {
    const Recordings pair = tonePair(n, c.fs, 0.2, 1, 5);
    Recordings changed = pair;
    for (int i = 4096; i < n; ++i) {
      changed.first[i] = short2{12345, -321};
      changed.second[i] = short2{-2222, 3333};
    }
    const FineEstimate original = c.estimate(requestFor(pair, n, c.fs, 0.1), cztHost);
    const FineEstimate altered = c.estimate(requestFor(changed, n, c.fs, 0.1), cztHost);
    EXPECT_EQ(altered.zoomIndex, original.zoomIndex) << c.fs;
    EXPECT_EQ(altered.correction, original.correction) << c.fs;
  }
}

TEST(FineEstimates, NoCorrectionWithoutAWholeBlockOrAGridPoint) {
  struct Case {
    const char* name;
    Estimate estimate;
    int n;
    double fs;
  };
  const Case cases[] = {
      {"frequency, one sample short of a block", estimateFineFrequency, 2047, 1e6},
      {"delay, one sample short of a block", estimateFineDelay, 2047, 1e6},
      {"frequency, no samples", estimateFineFrequency, 0, 1e6},
      {"delay, no samples", estimateFineDelay, 0, 1e6},
      {"frequency band narrower than 0.0001 Hz", estimateFineFrequency, 2048, 0.05},
      {"delay window narrower than 1 ns", estimateFineDelay, 2048, 5e9},
  };
  for (const Case& c : cases) {
    // Exactly n samples: reading past them is a fault the sanitizers report.
    const Recordings pair = tonePair(c.n, 1.0, 0.0, 0, 6);
    const FineEstimate estimate = c.estimate(requestFor(pair, c.n, c.fs, 0.0), cztHost);
    EXPECT_EQ(estimate.correction, 0.0) << c.name;
    EXPECT_EQ(estimate.zoomIndex, -1) << c.name;
  }
}

TEST(FineEstimates, ZoomBeyondThe32BitRangeIsAnInputError) {
  const Recordings pair = tonePair(2048, 1.0, 0.0, 0, 7);
  // 2e9 Hz asks for 3.9e10 frequency points; 1 Hz for 4e9 delay points.
  EXPECT_THROW(estimateFineFrequency(requestFor(pair, 2048, 2e9, 0.0), cztHost), InputError);
  EXPECT_THROW(estimateFineDelay(requestFor(pair, 2048, 1.0, 0.0), cztHost), InputError);
  try {
    estimateFineDelay(requestFor(pair, 2048, 1.0, 0.0), cztHost);
  } catch (const InputError& error) {
    EXPECT_NE(std::string(error.what()).find("fine delay zoom"), std::string::npos);
  }
}

TEST(FineEstimates, BluesteinFindsTheSamePointAsTheDirectSum) {
  struct Case {
    const char* name;
    Estimate estimate;
    int n;
    double fs, delay, offsetHz, candidateHz, expected, tolerance;
  };
  const Case cases[] = {
      {"frequency", estimateFineFrequency, 4096, 100.0, 0.0, 0.0173, 0.0, 0.0173, 2e-4},
      {"delay", estimateFineDelay, 8192, 4e6, 3.1e-7, 25.0, 25.0, 3.1e-7, 3e-9},
  };
  for (const Case& c : cases) {
    PairConfig config;
    config.sampleCount = c.n;
    config.sampleRate = c.fs;
    config.emitters = {Emitter{c.delay, c.offsetHz, 0.0}};
    config.seed = 8;
    const SamplePairInt16 samples = quantizePair(generatePair(config));
    const FineRequest request{samples.first.data(), samples.second.data(), c.n, c.fs,
                              c.candidateHz};
    const FineEstimate bluestein = c.estimate(request, cztHost);
    const FineEstimate direct = c.estimate(request, cztReference);
    EXPECT_EQ(bluestein.zoomIndex, direct.zoomIndex) << c.name;
    EXPECT_NEAR(bluestein.correction, c.expected, c.tolerance) << c.name;
  }
}

TEST(FineEstimates, AZoomThatDoesNotFitInMemoryIsAResourceError) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
#else
  // n = 2048 at 1 MHz: 19531250 zoom points and transforms of 2^25 points, about 1.7 GB, under
  // a 1 GiB address-space limit. Exits with 3 and the message on a ResourceError.
  const Recordings pair = tonePair(2048, 1e6, 0.0, 0, 9);
  const auto estimateWithinOneGibibyte = [&pair] {
    const rlim_t bytes = rlim_t{1} << 30;
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_AS, &limit);
    try {
      estimateFineFrequency(requestFor(pair, 2048, 1e6, 0.0), cztHost);
    } catch (const ResourceError& error) {
      std::fprintf(stderr, "%s\n", error.what());
      std::_Exit(3);
    }
    std::_Exit(0);
  };
  EXPECT_EXIT(estimateWithinOneGibibyte(), ::testing::ExitedWithCode(3),
              "cannot allocate [0-9]+ bytes for the chirp-z");
#endif
}

}  // namespace
}  // namespace kestrav
