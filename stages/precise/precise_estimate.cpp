#include "stages/precise/precise_estimate.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <type_traits>
#include <vector>

#include "stages/precise/band_weight.hpp"
#include "stages/precise/carrier_removal.hpp"
#include "stages/precise/peak_fit.hpp"
#include "stages/precise/precise_maps.hpp"
#include "stages/precise/stein.hpp"

namespace kestrav {
namespace {

constexpr double FullTurn = 2.0 * std::numbers::pi;
constexpr int MostRounds = 8;
constexpr int BandRounds = 2;
// A round that moves both estimates by less than this share of their deviations ends the search.
constexpr double SettledShare = 0.01;

// The run sums turned to their fitted frequency and common phase: the in-phase parts carry the
// correlation peak and the quadrature parts the noise that moves it. Time-domain runs hold no
// other spread: every product pairs samples of one instant.
struct RunProfile {
  double rmsDuration = 0.0;       // samples, of the in-phase power about its centre
  double postIntegrationSnr = 0.0;  // (sum in-phase)^2 / (2 sum quadrature^2)
};

RunProfile measureRuns(std::span<const double2> runs, std::span<const double> rates,
                       double residual) {
  double2 total{0.0, 0.0};
  std::vector<double2> turned(runs.size());
  for (std::size_t j = 0; j < runs.size(); ++j) {
    turned[j] = complexProduct(runs[j], unitPhasor(rates[j] * residual / FullTurn));
    total = double2{total.x + turned[j].x, total.y + turned[j].y};
  }
  RunProfile profile;
  const double magnitude = std::hypot(total.x, total.y);
  if (!(magnitude > 0.0)) return profile;
  // The noise is measured on sums of neighbouring runs, below a few kilohertz at most: what
  // moves the peak is the product's slow part, and an interferer's products with the signal,
  // that sit far from zero frequency, would otherwise count as noise.
  const std::size_t group = std::clamp<std::size_t>(runs.size() / 256, 1, 16);
  double power = 0.0, moment1 = 0.0, moment2 = 0.0, noise = 0.0, groupSum = 0.0;
  for (std::size_t j = 0; j < runs.size(); ++j) {
    const double inPhase = (turned[j].x * total.x + turned[j].y * total.y) / magnitude;
    const double quadrature = (turned[j].y * total.x - turned[j].x * total.y) / magnitude;
    const double t = -rates[j] / FullTurn;
    power += inPhase;
    moment1 += inPhase * t;
    moment2 += inPhase * t * t;
    groupSum += quadrature;
    if ((j + 1) % group == 0 || j + 1 == runs.size()) {
      noise += groupSum * groupSum;
      groupSum = 0.0;
    }
  }
  if (!(power > 0.0) || !(noise > 0.0)) return profile;
  const double centre = moment1 / power;
  profile.rmsDuration = std::sqrt(std::fmax(0.0, moment2 / power - centre * centre));
  profile.postIntegrationSnr = power * power / (2.0 * noise);
  return profile;
}

}  // namespace

PreciseEstimate estimatePrecisely(const PreciseRequest& request, PrecisePrimitives& primitives) {
  const double fs = request.sampleRate;
  PreciseEstimate estimate;
  estimate.delay = request.delay;
  estimate.frequencyOffset = request.frequencyOffset;
  estimate.sigmaDelay = std::numeric_limits<double>::infinity();
  estimate.sigmaFrequency = std::numeric_limits<double>::infinity();
  if (request.sampleCount < MinPreciseSamples || !(fs > 0.0)) return estimate;

  // The zooms' peaks on their own grids; the refined values where a zoom left no trace.
  double delaySamples = (request.delay - request.lagDelay) * fs;
  const double fittedDelay = zoomPeakPosition(request.refinement.delay);
  if (std::isfinite(fittedDelay)) delaySamples = fittedDelay * fs;
  double frequencyHz = request.frequencyOffset;
  const double fittedFrequency = zoomPeakPosition(request.refinement.frequency);
  if (std::isfinite(fittedFrequency)) {
    frequencyHz += fittedFrequency - request.refinement.frequency.correction;
  }
  estimate.delay = request.lagDelay + delaySamples / fs;
  estimate.frequencyOffset = frequencyHz;

  const PreciseLayout layout = planPreciseLayout(request.sampleCount);
  PreciseSegments segments{request.segments, request.secondBefore, request.secondAfter};
  const auto bins = static_cast<std::size_t>(layout.frameLength);
  const SegmentHold hold(primitives);
  // Each recording's own power spectrum: where one holds what the other lacks, carriers are
  // taken out and the band weight gives way. A copy without carriers lives to the hold's end.
  std::vector<double2> firstPower(bins), secondPower(bins);
  const auto measurePowers = [&] {
    withSegments(segments.samples, [&](const auto* first, const auto* second) {
      using Pair = PointerPair<std::remove_cvref_t<decltype(*first)>>;
      primitives.crossSpectrum(PreciseSegments{Pair{first, first}, 0, 0}, layout, 0.0,
                               FrameShape::Windowed, firstPower);
      primitives.crossSpectrum(PreciseSegments{Pair{second, second}, 0, 0}, layout, 0.0,
                               FrameShape::Windowed, secondPower);
    });
  };
  measurePowers();
  const CarrierFreeSegments carrierFree =
      removeCarriers(segments, layout, firstPower, secondPower,
                     static_cast<int>(std::lround(frequencyHz / fs * layout.frameLength)));
  if (carrierFree.removed > 0) {
    segments = carrierFree.segments();
    measurePowers();
  }
  const auto runCount = static_cast<std::size_t>(layout.runCount);
  std::vector<double2> spectrum(bins), weighted(bins), runs(runCount);
  std::vector<double> binRates(bins), runRates(runCount);
  for (int k = 0; k < layout.frameLength; ++k) {
    binRates[k] = FullTurn * signedBinFrequency(k, layout.frameLength);
  }
  for (int j = 0; j < layout.runCount; ++j) runRates[j] = -FullTurn * runTime(layout, j);
  // Steps and tolerances in the natural scales: a sample period, and one bin of the record.
  const double recordCycles = 1.0 / request.sampleCount;

  double cycles = frequencyHz / fs;
  BandProfile band;
  for (int round = 1; round <= MostRounds; ++round) {
    // The band is measured at the starting values and again once both have been re-estimated,
    // then held, so that later rounds maximise one fixed function.
    if (round <= BandRounds) {
      primitives.crossSpectrum(segments, layout, cycles, FrameShape::Windowed, spectrum);
      const auto shift = static_cast<int>(std::lround(cycles * layout.frameLength));
      const std::vector<double> excess =
          measureExcess(firstPower, secondPower, shift, layout.blockCount);
      band = measureBand(spectrum, delaySamples, PreciseBandCount, excess);
      if (band.bandsKept == 0) break;
    }
    primitives.crossSpectrum(segments, layout, cycles, FrameShape::Margined, spectrum);
    for (std::size_t k = 0; k < bins; ++k) {
      weighted[k] = scaled(spectrum[k], band.rootWeight[k] * band.rootWeight[k]);
    }
    const PhasorPeak delayPeak = maximizePhasorSum(weighted, binRates, delaySamples, 0.25, 1e-10);
    const double delayMove = delayPeak.position - delaySamples;
    delaySamples = delayPeak.position;

    primitives.delayedProductRuns(segments, layout, cycles, delaySamples, band.rootWeight, runs);
    const PhasorPeak frequencyPeak =
        maximizePhasorSum(runs, runRates, 0.0, 0.25 * recordCycles, 1e-10 * recordCycles);
    const double frequencyMove = frequencyPeak.position;
    cycles += frequencyPeak.position;

    const RunProfile product = measureRuns(runs, runRates, frequencyPeak.position);
    const double snr = product.postIntegrationSnr;
    const double sigmaDelay = steinSigma(flatWidthOfRms(band.rmsBandwidth), snr);
    const double sigmaCycles = steinSigma(flatWidthOfRms(product.rmsDuration), snr);
    estimate.delay = request.lagDelay + delaySamples / fs;
    estimate.frequencyOffset = cycles * fs;
    estimate.sigmaDelay = sigmaDelay / fs;
    estimate.sigmaFrequency = sigmaCycles * fs;
    estimate.iterations = round;
    estimate.postIntegrationSnrDb = 10.0 * std::log10(snr);
    estimate.effectiveBandwidthHz = flatWidthOfRms(band.rmsBandwidth) * fs;
    estimate.effectiveDurationS = flatWidthOfRms(product.rmsDuration) / fs;
    if (std::fabs(delayMove) < SettledShare * sigmaDelay &&
        std::fabs(frequencyMove) < SettledShare * sigmaCycles) {
      estimate.converged = true;
      break;
    }
  }
  return estimate;
}

}  // namespace kestrav
