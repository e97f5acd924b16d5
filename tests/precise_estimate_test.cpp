// The precise estimate: its peak fits, the band it weights the correlation to and Stein's
// deviations it reports, then the whole estimate against the truth of generated pairs (noiseless,
// to a hundredth of a nanosecond and of a millihertz; noisy, within a few of its own deviations,
// which stay near Stein's bound).
#include "stages/precise/precise_estimate.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "stages/precise/band_weight.hpp"
#include "stages/precise/noise_floor.hpp"
#include "stages/precise/peak_fit.hpp"
#include "stages/precise/precise_maps.hpp"
#include "stages/precise/stein.hpp"
#include "support/generated_pairs.hpp"

namespace kestrav {
namespace {

constexpr double Pi = std::numbers::pi;

// A zoom traced about a peak at fractional index `vertex`: |sum of 2048 unit phasors|^2 on a grid
// of 1/1000 of the main lobe, the shape the fine zooms trace.
FineEstimate tracedZoom(double vertex, int points, int halfWidth) {
  FineEstimate zoom;
  zoom.zoomPoints = points;
  zoom.gridStart = -2e-6;
  zoom.gridStep = 4e-6 / points;
  // The strongest grid point, the lower of two equal ones.
  zoom.zoomIndex = std::clamp(static_cast<int>(std::ceil(vertex - 0.5)), 0, points - 1);
  zoom.traceFirst = std::max(0, zoom.zoomIndex - halfWidth);
  for (int k = zoom.traceFirst; k < std::min(points, zoom.zoomIndex + halfWidth + 1); ++k) {
    const double x = Pi * (k - vertex) * 1e-3;
    zoom.trace.push_back(x == 0.0 ? 1.0 : std::pow(std::sin(x) / x, 2.0));
  }
  return zoom;
}

TEST(ZoomPeakPosition, FindsTheVertexBetweenGridPoints) {
  // Mid-grid, off-grid either way, a tie of two points, traces cut by either end of the zoom.
  const std::pair<double, int> cases[] = {{1999.0, 3}, {1999.3, 3}, {1999.5, 3}, {1999.71, 3},
                                          {2000.2, 1}, {1.4, 3},    {0.2, 3},    {3997.6, 3}};
  for (const auto& [vertex, halfWidth] : cases) {
    const FineEstimate zoom = tracedZoom(vertex, 3999, halfWidth);
    EXPECT_NEAR(zoomPeakPosition(zoom), zoom.gridStart + vertex * zoom.gridStep,
                1e-4 * zoom.gridStep)
        << vertex;
  }
  // Without a trace nothing; a trace that bends upwards has no maximum to fit, so the strongest
  // grid point stands.
  EXPECT_TRUE(std::isnan(zoomPeakPosition(FineEstimate{})));
  EXPECT_TRUE(std::isnan(zoomPeakPosition(tracedZoom(100.3, 3999, 0))));
  FineEstimate bent = tracedZoom(100.0, 3999, 3);
  for (std::size_t i = 0; i < bent.trace.size(); ++i) bent.trace[i] = 1.0 + 0.01 * double(i * i);
  bent.zoomIndex = bent.traceFirst + 6;
  EXPECT_DOUBLE_EQ(zoomPeakPosition(bent), bent.gridStart + bent.zoomIndex * bent.gridStep);
}

TEST(MaximizePhasorSum, AlignsEveryPhasorWhereverItStarts) {
  // Terms that all come into phase at x0: A(x) = sum a_k e^{j (r_k (x - x0) + phi)}.
  std::mt19937 random(5);
  std::uniform_real_distribution<double> rate(-0.6 * Pi, 0.6 * Pi), amplitude(0.5, 2.0);
  const double x0 = 0.3712;
  std::vector<double2> terms;
  std::vector<double> rates;
  for (int k = 0; k < 4096; ++k) {
    rates.push_back(rate(random));
    const double a = amplitude(random), phase = 1.1 - rates.back() * x0;
    terms.push_back(double2{a * std::cos(phase), a * std::sin(phase)});
  }
  // Near, half a sample away (beyond one step of 0.25), and on the other side.
  for (const double start : {0.36, 0.87, -0.05}) {
    const PhasorPeak peak = maximizePhasorSum(terms, rates, start, 0.25, 1e-12);
    EXPECT_TRUE(peak.converged) << start;
    EXPECT_NEAR(peak.position, x0, 1e-10) << start;
  }
}

// A cross-spectrum of `length` bins: cross power `signal` within |f| < halfBand, complex noise of
// unit power per bin everywhere, the second segment `delay` samples late, under a common phase.
std::vector<double2> crossSpectrum(int length, double halfBand, double signal, double delay,
                                   unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, std::sqrt(0.5));
  std::vector<double2> spectrum(static_cast<std::size_t>(length));
  for (int k = 0; k < length; ++k) {
    const double f = (2 * k < length ? k : k - length) / static_cast<double>(length);
    const double phase = 0.7 - 2.0 * Pi * f * delay;
    const double x = (std::fabs(f) < halfBand ? signal : 0.0) + noise(random), y = noise(random);
    spectrum[k] = double2{x * std::cos(phase) - y * std::sin(phase),
                          x * std::sin(phase) + y * std::cos(phase)};
  }
  return spectrum;
}

TEST(MeasureBand, KeepsTheSignalsBandAndItsWidth) {
  const struct {
    double halfBand;
    double signal;  // per-bin cross power over the noise
    double delay;   // samples
    double spread;  // how far the weight may stray from flat within the band: noise in S and Q
  } cases[] = {{0.3, 100.0, 0.37, 0.05},
               {0.3, 0.15, -0.2, 0.3},
               {0.2, 5.0, 0.0, 0.05},
               {0.41, 1.0, 1.3, 0.1}};
  const int length = 65536;
  for (const auto& c : cases) {
    const BandProfile band =
        measureBand(crossSpectrum(length, c.halfBand, c.signal, c.delay, 3), c.delay, 32);
    // Weight across the middle of the band, none well outside it.
    for (int k = 0; k < length; ++k) {
      const double f = std::fabs((2 * k < length ? k : k - length) / double(length));
      if (f < c.halfBand - 2.0 / 32) {
        EXPECT_NEAR(band.rootWeight[k], 1.0, c.spread) << c.halfBand << " " << k;
      } else if (f > c.halfBand + 2.0 / 32) {
        EXPECT_EQ(band.rootWeight[k], 0.0) << c.halfBand << " " << k;
      }
    }
    // The rms width of a flat band of 2 halfBand, within the band's resolution.
    EXPECT_NEAR(band.rmsBandwidth, 2.0 * c.halfBand / std::sqrt(12.0), 0.02 * c.halfBand)
        << c.halfBand;
  }
  const BandProfile none = measureBand(crossSpectrum(length, 0.3, 0.0, 0.0, 4), 0.0, 32);
  EXPECT_EQ(none.bandsKept, 0);
  for (const double r : none.rootWeight) EXPECT_EQ(r, 0.0);
}

// The bound as tabled for generated pairs (fs 1 MHz, band 0.6 fs, N = 262144, in-band SNR of each
// receiver snr / 0.6), and its parts.
TEST(SteinBound, ReproducesTheTabledBounds) {
  const struct {
    double snrDb, delayNs, frequencyMHz;
  } cases[] = {{30, 0.057, 0.13}, {10, 0.58, 1.32}, {-10, 11.4, 26}};
  for (const auto& c : cases) {
    const double snr = std::pow(10.0, c.snrDb / 10.0) / 0.6;
    const SteinBound bound = steinBound(0.6e6, 262144 / 1e6, snr, snr);
    EXPECT_NEAR(bound.delay * 1e9, c.delayNs, 0.01 * c.delayNs) << c.snrDb;
    EXPECT_NEAR(bound.frequency * 1e3, c.frequencyMHz, 0.02 * c.frequencyMHz) << c.snrDb;
  }
  // A flat band of width B has rms width B / sqrt(12); 0.551 / B at a post-integration SNR of 1/2.
  EXPECT_NEAR(steinSigma(flatWidthOfRms(1.0 / std::sqrt(12.0)), 0.5), 0.5513, 1e-4);
  // Equal channels: gamma = snr^2 / (2 snr + 1); one noiseless channel leaves the other's SNR.
  EXPECT_DOUBLE_EQ(effectiveSnr(10.0, 10.0), 100.0 / 21.0);
  EXPECT_NEAR(effectiveSnr(10.0, 1e12), 10.0, 1e-9);
}

constexpr double SampleRate = 1e6;
constexpr int Extra = 128;  // samples generated beyond the segments on each side
constexpr int Lag = 5;      // the candidate's integer lag, in samples

struct PairCase {
  int samples;
  double fraction;  // of a sample, added to the lag
  double offsetHz, snrDb;
  unsigned seed;
  bool margins = true;  // the recording offers samples beyond the segments
  bool traces = true;   // the zooms' traces to start from
  std::vector<Interferer> interferers = {};
  SecondChannel channel = {};
  double bandShare = 0.6;  // of the sample rate
  // A carrier at zero frequency in both recordings (as AM carries one), this far over the
  // signal's power; none below -100.
  double sharedCarrierDb = -300.0;
};

struct Outcome {
  PreciseEstimate precise;
  double delayError, frequencyError;  // seconds, hertz
};

// A generated pair cut as the loader cuts it, refined as the driver refines it, then estimated
// precisely.
Outcome estimate(const PairCase& c) {
  PairConfig config;
  config.sampleCount = c.samples + 2 * Extra;
  config.sampleRate = SampleRate;
  const double delay = (Lag + c.fraction) / SampleRate;
  config.emitters = {Emitter{delay, c.offsetHz, 0.0}};
  config.snrDb = c.snrDb;
  config.seed = c.seed;
  config.interferers = c.interferers;
  config.channel = c.channel;
  config.bandwidth = c.bandShare * SampleRate;
  testing::GeneratedPair pair;
  if (c.sharedCarrierDb > -100.0) {
    ComplexPair raw = generatePair(config);
    const double amplitude = std::pow(10.0, c.sharedCarrierDb / 20.0);
    for (std::size_t i = 0; i < raw.first.size(); ++i) {
      const double t = static_cast<double>(i) / SampleRate;
      raw.first[i] += amplitude;
      raw.second[i] += std::polar(amplitude, 2.0 * Pi * c.offsetHz * t + 0.7);
    }
    SamplePairInt16 quantized = quantizePair(raw);
    pair.first = std::move(quantized.first);
    pair.second = std::move(quantized.second);
  } else {
    pair = testing::generatedPair(config);
  }
  const short2* first = pair.first.data() + Extra;
  const short2* second = pair.second.data() + Extra + Lag;
  // A coarse offset a fraction of a coarse bin off, as the search leaves it.
  const double coarseHz = c.offsetHz + 0.8;
  const PointerPair<short2> segments{first, second};
  FineRequest fine{segments, c.samples, SampleRate, coarseHz};
  fine.traceHalfWidth = c.traces ? 3 : 0;
  const Refinement refinement = refineOnHost(fine, cztHost);
  // Margins before and after the second segment, the refined delay and offset, the lag's delay.
  const PreciseRequest request{segments,
                               c.samples,
                               c.margins ? Extra + Lag : 0,
                               c.margins ? Extra - Lag : 0,
                               SampleRate,
                               Lag / SampleRate + refinement.delay.correction,
                               Lag / SampleRate,
                               coarseHz + refinement.frequency.correction,
                               refinement};
  const PreciseEstimate precise = estimatePrecisely(request, *makeHostPrecisePrimitives());
  return {precise, precise.delay - delay, precise.frequencyOffset - c.offsetHz};
}

TEST(PreciseEstimate, NoiselessPairLandsWithinAHundredthOfANanosecondAndMillihertz) {
  for (const PairCase& c :
       {PairCase{262144, 0.37, -1234.5678, 300.0, 21}, PairCase{262144, 0.0, 777.7, 300.0, 22}}) {
    const Outcome outcome = estimate(c);
    EXPECT_TRUE(outcome.precise.converged);
    EXPECT_LT(std::fabs(outcome.delayError), 0.01e-9) << c.fraction;
    EXPECT_LT(std::fabs(outcome.frequencyError), 0.01e-3) << c.fraction;
  }
}

TEST(PreciseEstimate, NoisyPairsLandWithinFourDeviationsNearTheBound) {
  // From strong to weak; one without margins beyond the segment, one without traces.
  const PairCase cases[] = {{65536, 0.25, 2500.25, 30.0, 31},
                            {65536, 0.1, -321.0, 0.0, 32},
                            {131072, 0.5, 40.0, -10.0, 33},
                            {65536, 0.4, 1000.0, 10.0, 34, false},
                            {65536, 0.3, -50.5, 10.0, 35, true, false}};
  for (const PairCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "seed " << c.seed);
    const Outcome outcome = estimate(c);
    const PreciseEstimate& p = outcome.precise;
    EXPECT_TRUE(p.converged);
    EXPECT_LT(std::fabs(outcome.delayError), 4.0 * p.sigmaDelay);
    EXPECT_LT(std::fabs(outcome.frequencyError), 4.0 * p.sigmaFrequency);
    // The reported deviations against the bound of the generated signal: in-band SNR snr / 0.6.
    const double snr = std::pow(10.0, c.snrDb / 10.0) / 0.6;
    const double duration = c.samples / SampleRate;
    const SteinBound bound = steinBound(0.6 * SampleRate, duration, snr, snr);
    EXPECT_NEAR(p.sigmaDelay / bound.delay, 1.0, 0.15);
    EXPECT_NEAR(p.sigmaFrequency / bound.frequency, 1.0, 0.15);
    EXPECT_NEAR(p.effectiveBandwidthHz, 0.6 * SampleRate, 0.05 * 0.6 * SampleRate);
    EXPECT_NEAR(p.effectiveDurationS, duration, 0.01 * duration);
  }
}

// The checks of a noisy estimate: within four of its deviations, which stay near the bound of
// the generated signal (in-band SNR snr / 0.6) within `spread`.
void expectNearTheBound(const PairCase& c, const Outcome& outcome, double spread) {
  const PreciseEstimate& p = outcome.precise;
  EXPECT_TRUE(p.converged);
  EXPECT_LT(std::fabs(outcome.delayError), 4.0 * p.sigmaDelay);
  EXPECT_LT(std::fabs(outcome.frequencyError), 4.0 * p.sigmaFrequency);
  const double snr = std::pow(10.0, c.snrDb / 10.0) / 0.6;
  const SteinBound bound = steinBound(0.6 * SampleRate, c.samples / SampleRate, snr, snr);
  EXPECT_NEAR(p.sigmaDelay / bound.delay, 1.0, spread);
  EXPECT_NEAR(p.sigmaFrequency / bound.frequency, 1.0, spread);
}

TEST(PreciseEstimate, WhatOnlyOneRecordingHoldsCostsLittle) {
  // Carriers 25 dB over the signal in either recording, at the band's edge, two at once, and a
  // narrow band of noise: without the weight giving way their leakage alone spreads the delay
  // over many times the bound.
  const PairCase cases[] = {
      {131072, 0.3, 1500.0, 10.0, 41, true, true, {{1, 123456.7, 25.0, 0.0}}},
      {131072, 0.6, -700.0, 10.0, 42, true, true, {{2, -87654.3, 25.0, 0.0}}},
      {131072, 0.1, 20.0, 0.0, 43, true, true, {{1, 290000.0, 30.0, 0.0}}},
      {131072,
       0.45,
       300.0,
       10.0,
       44,
       true,
       true,
       {{1, 10000.0, 20.0, 0.0}, {2, -200000.0, 20.0, 0.0}}},
      {131072, 0.2, -90.0, 10.0, 45, true, true, {{1, 50000.0, 20.0, 2000.0}}},
      // A band of noise in the second far wider than the neighbourhood a bin is judged against,
      // at the band's edge: its middle must count as much as its edges.
      {131072, 0.35, 600.0, 10.0, 46, true, true, {{2, -150000.0, 10.0, 8000.0}}},
  };
  for (const PairCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "seed " << c.seed);
    expectNearTheBound(c, estimate(c), 0.3);
  }
}

TEST(PreciseEstimate, RecoversAClockOffsetAndTakesItOut) {
  // The second receiver's clock off by a few ppm (the delay drifts by up to 2.6 samples over the
  // segment), a frequency drifting, and none: the rates come back within four of their
  // deviations, and the delay and offset at the middle of the segment stay near the bound.
  const PairCase cases[] = {
      {131072, 0.3, 1500.0, 10.0, 51, true, true, {}, {20e-6, 0.0, {}}},
      {131072, 0.7, -800.0, 10.0, 52, true, true, {}, {-5e-6, 0.0, {}}},
      {131072, 0.45, 60.0, 10.0, 55, true, true, {}, {1e-6, 0.0, {}}},
      {131072, 0.2, 250.0, 20.0, 53, true, true, {}, {0.0, 200.0, {}}},
      {131072, 0.5, 42.0, 10.0, 54},
  };
  for (const PairCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "seed " << c.seed);
    const Outcome outcome = estimate(c);
    const PreciseEstimate& p = outcome.precise;
    ASSERT_TRUE(std::isfinite(p.sigmaDelayRate));
    EXPECT_LT(std::fabs(p.delayRate - c.channel.delayRate), 4.0 * p.sigmaDelayRate);
    EXPECT_LT(std::fabs(p.frequencyRate - c.channel.frequencyRate), 4.0 * p.sigmaFrequencyRate);
    // A few ppm measured to better than a tenth of a ppm.
    EXPECT_LT(p.sigmaDelayRate, 0.1e-6);
    expectNearTheBound(c, outcome, 0.3);
  }
}

TEST(PreciseEstimate, EchoesAreModelledOrFlagged) {
  const struct {
    PairCase pair;
    bool resolved;  // the echo is reported as a path, the main delay stays near its bound
    bool flagged;   // the lobe is wider than the band explains
  } cases[] = {
      {{131072, 0.3, 900.0, 20.0, 61, true, true, {}, {0.0, 0.0, {{12.4e-6, -3.0}}}}, true, false},
      {{131072, 0.8, -60.0, 10.0, 62, true, true, {}, {0.0, 0.0, {{31.0e-6, -6.0}}}}, true, false},
      {{131072, 0.5, 300.0, 20.0, 63, true, true, {}, {0.0, 0.0, {{0.6e-6, -3.0}}}}, false, true},
      {{131072, 0.1, 300.0, 20.0, 64, true, true, {}, {0.0, 0.0, {{2.3e-6, -3.0}}}}, false, true},
      {{131072, 0.4, 30.0, 20.0, 65}, false, false},
      // An echo far inside the lobe of a band a quarter of the rate wide: the lobe's width
      // barely changes, but the second recording's spectrum bends against the first's. The
      // same band without it stays unflagged.
      {{262144, 0.5, 300.0, 10.0, 67, true, true, {}, {0.0, 0.0, {{0.6e-6, -6.0}}}, 0.27},
       false,
       true},
      {{262144, 0.2, -300.0, 10.0, 68, true, true, {}, {}, 0.27}, false, false},
      // A band that fills the spectrum: no bins of noise alone, the floor from the cross-spectrum.
      {{131072, 0.6, -400.0, 10.0, 66, true, true, {}, {0.0, 0.0, {{12.4e-6, -6.0}}}, 0.98},
       true,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "seed " << c.pair.seed);
    const Outcome outcome = estimate(c.pair);
    const PreciseEstimate& p = outcome.precise;
    EXPECT_EQ((p.flags & PreciseFlag::ModelMismatch) != 0, c.flagged);
    // Every flag names a fault seen: these bands are wide enough to show their echoes.
    EXPECT_EQ(p.flags & PreciseFlag::EchoesUnseen, 0u);
    EXPECT_EQ(c.flagged, (p.flags & (PreciseFlag::LobeTooWide | PreciseFlag::SpectrumBends)) != 0);
    // Flagged or not, the error stays within the reported deviation's reach.
    EXPECT_LT(std::fabs(outcome.delayError), 4.0 * p.sigmaDelay);
    ASSERT_EQ(p.paths.size(), c.resolved ? 1u : 0u);
    if (!c.resolved) continue;
    const Echo& echo = c.pair.channel.echoes[0];
    const double truth = (Lag + c.pair.fraction) / SampleRate;
    EXPECT_NEAR(p.paths[0].delay - truth, echo.delay, 15e-9);
    EXPECT_NEAR(p.paths[0].relativePowerDb, echo.powerDb, 1.0);
    // Unmodelled, the echo's sidelobes pull the delay by tens of its deviations.
    const double share = c.pair.bandShare;
    const double snr = std::pow(10.0, c.pair.snrDb / 10.0) / share;
    const SteinBound bound = steinBound(share * SampleRate, c.pair.samples / SampleRate, snr, snr);
    EXPECT_LT(std::fabs(outcome.delayError), 5.0 * bound.delay);
  }
}

TEST(PreciseEstimate, ResolvedEchoesCostTheDelayLittleAndItsDeviationHolds) {
  // Echoes at -3 and -6 dB, a few lobes away: modelled on the first recording's own realised
  // spectrum, the direct path's delay stays within a few bounds of the truth over several seeds
  // (modelled on the smoothed spectrum, the echo's self-noise stayed and spread it several
  // times wider), and its deviation covers the error without claiming less than the bound.
  const double share = 0.6;
  const double snr = std::pow(10.0, 20.0 / 10.0) / share;
  const SteinBound bound = steinBound(share * SampleRate, 131072 / SampleRate, snr, snr);
  double squares = 0.0;
  int count = 0;
  for (const unsigned seed : {71u, 72u, 73u, 74u}) {
    for (const Echo echo : {Echo{12.4e-6, -3.0}, Echo{31.0e-6, -6.0}}) {
      SCOPED_TRACE(::testing::Message() << "seed " << seed << " echo " << echo.delay);
      const PairCase c{131072, 0.1 * seed - 7.0, 250.0, 20.0, seed, true, true, {}, {0, 0, {echo}}};
      const Outcome outcome = estimate(c);
      const PreciseEstimate& p = outcome.precise;
      ASSERT_EQ(p.paths.size(), 1u);
      EXPECT_EQ(p.flags & PreciseFlag::ModelMismatch, 0u);
      EXPECT_LT(std::fabs(outcome.delayError), 4.0 * bound.delay);
      EXPECT_LT(std::fabs(outcome.delayError), 4.0 * p.sigmaDelay);
      EXPECT_GT(p.sigmaDelay, 0.7 * bound.delay);
      squares += outcome.delayError * outcome.delayError;
      ++count;
    }
  }
  // Over the eight, the error's spread is the bound's, not the echo's pull.
  EXPECT_LT(std::sqrt(squares / count), 2.0 * bound.delay);
}

TEST(PreciseEstimate, ASharedLineLeavesTheResultCoveredOrFlagged) {
  // A 60 kHz band under a carrier in both recordings, as AM holds one, from as strong as the
  // band to a thousand times stronger: the carrier holds no delay, and its leakage through the
  // frames' edges reaches the delay once it holds nearly all the power (microseconds off).
  // Unflagged, the error stays within four deviations; flagged, within one; and a line holding
  // all but a twentieth of the power is always flagged.
  for (const unsigned seed : {81u, 82u}) {
    for (const double carrierDb : {0.0, 10.0, 30.0}) {
      SCOPED_TRACE(::testing::Message() << "seed " << seed << " carrier " << carrierDb);
      PairCase c{262144, 0.3, 120.0, 10.0, seed};
      c.bandShare = 0.06;
      c.sharedCarrierDb = carrierDb;
      const Outcome outcome = estimate(c);
      const PreciseEstimate& p = outcome.precise;
      const bool flagged = (p.flags & PreciseFlag::ModelMismatch) != 0;
      EXPECT_TRUE(flagged || carrierDb < 20.0);
      EXPECT_LT(std::fabs(outcome.delayError), (flagged ? 1.0 : 4.0) * p.sigmaDelay);
      EXPECT_LT(std::fabs(outcome.frequencyError), 4.0 * p.sigmaFrequency);
    }
  }
}

TEST(PreciseEstimate, ALobeTooWideToSeeCommonEchoesIsFlagged) {
  // A band of 2 kHz: its lobe, about 290 samples, is so wide that an echo tens of microseconds
  // behind would neither be resolved nor widen it visibly; clean or with an echo 12.4 us behind
  // (which pulls the delay by microseconds), the result is flagged, with a deviation that
  // covers the pull; so too on a clock 20 ppm off, whose drift does not explain it away.
  for (const int channel : {0, 1, 2}) {
    SCOPED_TRACE(::testing::Message() << "channel " << channel);
    const bool echoed = channel == 1;
    PairCase c{262144, 0.6, -75.0, 10.0, 91};
    c.bandShare = 0.002;
    if (echoed) c.channel.echoes = {Echo{12.4e-6, -3.0}};
    if (channel == 2) c.channel.delayRate = 20e-6;
    const Outcome outcome = estimate(c);
    const PreciseEstimate& p = outcome.precise;
    EXPECT_NE(p.flags & PreciseFlag::ModelMismatch, 0u);
    // Clean, no echo was seen: the flag says that none could have been.
    if (channel == 0) {
      EXPECT_NE(p.flags & PreciseFlag::EchoesUnseen, 0u);
      EXPECT_EQ(p.flags & (PreciseFlag::LobeTooWide | PreciseFlag::SpectrumBends), 0u);
    }
    EXPECT_LT(std::fabs(outcome.delayError), p.sigmaDelay);
    if (echoed) {
      EXPECT_GT(std::fabs(outcome.delayError), 1e-6);
    }
  }
}

TEST(MeasureExcess, MarksWhatOneRecordingHoldsAlone) {
  // Power spectra of four blocks of 4096 bins: unit noise of each recording's own, a shared band
  // over |f| < 0.3 at 1000 times the noise that varies from bin to bin alike in both (its edges
  // and its variations must not count), and in one recording alone a carrier-like bin at 1e5 or
  // a narrow band of 16 bins at 20.
  const int length = 4096;
  std::mt19937 random(7);
  std::gamma_distribution<double> chi(4.0, 0.25);  // four blocks' mean of unit exponentials
  std::vector<double> shared(length);
  for (int k = 0; k < length; ++k) {
    const double f = (2 * k < length ? k : k - length) / double(length);
    shared[k] = std::fabs(f) < 0.3 ? 1000.0 * chi(random) : 0.0;
  }
  const auto spectrum = [&](int extraAt, double extra, int extraWidth) {
    std::vector<double2> power(length);
    for (int k = 0; k < length; ++k) {
      const bool extraHere = k >= extraAt && k < extraAt + extraWidth;
      power[k] = double2{shared[k] + chi(random) * (1.0 + (extraHere ? extra : 0.0)), 0.0};
    }
    return power;
  };
  const struct {
    int at;
    double extra;
    int width;
    bool inFirst;
  } cases[] = {
      {700, 1e5, 1, true}, {3500, 1e5, 1, false}, {1800, 20.0, 16, true}, {1850, 30.0, 400, false}};
  for (const auto& c : cases) {
    const std::vector<double2> withExtra = spectrum(c.at, c.extra, c.width);
    const std::vector<double2> plain = spectrum(0, 0.0, 0);
    const std::vector<double> excess =
        c.inFirst ? measureExcess(withExtra, plain, 0, 4) : measureExcess(plain, withExtra, 0, 4);
    // Each way apart: only the recording that holds it, and a wide band's middle as well.
    const OneSidedExcess sides = c.inFirst ? measureOneSidedExcess(withExtra, plain, 0, 4)
                                           : measureOneSidedExcess(plain, withExtra, 0, 4);
    const std::vector<double>& holder = c.inFirst ? sides.first : sides.second;
    const std::vector<double>& other = c.inFirst ? sides.second : sides.first;
    if (c.width > 1) {
      EXPECT_GT(holder[c.at + c.width / 2], 0.3 * c.extra) << c.at;
    }
    EXPECT_EQ(std::count(other.begin(), other.end(), 1.0), length) << c.at;
    for (int k = 0; k < length; ++k) {
      // Beside a band wider than the close neighbourhood, that neighbourhood's width is marked
      // too (the other recording's bins there look low against it).
      const int beside = c.width > 16 ? 72 : 4;
      if (k >= c.at && k < c.at + c.width) {
        EXPECT_GT(excess[k], 2.0) << c.at << " " << k;
      } else if (k < c.at - beside || k >= c.at + c.width + beside) {
        EXPECT_EQ(excess[k], 1.0) << c.at << " " << k;
      }
    }
  }
}

TEST(FillingBandFloor, HoldsWhateverTheGainsAndAnEchoDo) {
  // A signal over the whole spectrum (a rectangular pulse's sinc^2), floors of 3 and 5 per bin,
  // the second receiver at twice the gain, and in it an echo 40 samples behind at half the
  // amplitude, whose ripple is what pins both floors. Expected values, as if over endless
  // blocks. The first's excess over the cross-spectrum's magnitude, which held for receivers
  // alike, is off by the echo's ripple and the gain.
  const int length = 4096;
  const double n1 = 3.0, n2 = 5.0, gain = 2.0, echo = 0.5, lag = 40.0, delay = 0.3;
  std::vector<double2> first(length), second(length), cross(length);
  for (int k = 0; k < length; ++k) {
    const double f = signedBinFrequency(k, length);
    const double x = Pi * f * 10.0;
    const double signal = 1000.0 * (x == 0.0 ? 1.0 : std::pow(std::sin(x) / x, 2.0)) + 2.0;
    const std::complex<double> path = std::polar(std::sqrt(gain), -2.0 * Pi * f * delay) *
                                      (1.0 + echo * std::polar(1.0, -2.0 * Pi * f * lag));
    first[k] = double2{signal + n1, 0.0};
    second[k] = double2{signal * std::norm(path) + n2, 0.0};
    cross[k] = double2{signal * path.real(), signal * path.imag()};
  }
  const double floor = fillingBandFloor(cross, first, second, 0, delay, 1 << 30);
  EXPECT_NEAR(floor, n1, 0.02 * n1);
}

TEST(PreciseEstimate, TooFewSamplesOrNoSignalKeepTheRefinedValues) {
  const short2 zeros[4096] = {};
  PreciseRequest request{
      PointerPair<short2>{zeros, zeros}, 0, 0, 0, SampleRate, 3.25e-6, 3e-6, 12.5, {}};
  for (const int n : {MinPreciseSamples - 1, 4096}) {
    request.sampleCount = n;
    const PreciseEstimate p = estimatePrecisely(request, *makeHostPrecisePrimitives());
    EXPECT_EQ(p.delay, request.delay) << n;
    EXPECT_EQ(p.frequencyOffset, request.frequencyOffset) << n;
    EXPECT_EQ(p.sigmaDelay, std::numeric_limits<double>::infinity()) << n;
    EXPECT_EQ(p.sigmaFrequency, std::numeric_limits<double>::infinity()) << n;
    EXPECT_FALSE(p.converged) << n;
  }
}

}  // namespace
}  // namespace kestrav
