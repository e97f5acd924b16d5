#include "stages/precise/precise_estimate.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <type_traits>
#include <vector>

#include "stages/precise/band_suppression.hpp"
#include "stages/precise/band_weight.hpp"
#include "stages/precise/carrier_removal.hpp"
#include "stages/precise/channel_bend.hpp"
#include "stages/precise/echo_path.hpp"
#include "stages/precise/noise_floor.hpp"
#include "stages/precise/peak_fit.hpp"
#include "stages/precise/precise_constants.hpp"
#include "stages/precise/precise_drift.hpp"
#include "stages/precise/precise_maps.hpp"
#include "stages/precise/run_profile.hpp"
#include "stages/precise/stein.hpp"

namespace kestrav {
namespace {

constexpr int BandRounds = 2;
// A drift is taken out where it stands this many of its deviations from none.
constexpr double ClearRate = 3.0;
constexpr double LargeMisfit = 10.0;
// An echo's self-noise is told from the thermal noise where it holds less than this share of
// the main path's power, and lifts the delay's SNR by at most MostSnrGain.
constexpr double MostEchoShare = 0.7;
constexpr double MostSnrGain = 30.0;
// The band is cut into this many runs to jackknife a resolved echo's delay; a spread this many
// times the deviation stands clear of the jackknife's own scatter (about a third).
constexpr int JackknifeChunks = 16;
constexpr double ClearSpread = 1.5;
// Echoes closer than this (seconds) are common multipath; a lobe test that cannot see them is
// no test.
constexpr double BlindEchoDelay = 10e-6;
// Lines holding all but this share of the weighted power leave the delay unsure.
constexpr double LeastRestShare = 0.05;
// A bin whose power stands LineRatio times over its neighbourhood's is a line's.
constexpr double LineRatio = 30.0;
// A bend in the channel stands clear at this many of its deviations (on clean channels the bend
// over its deviation scatters as a unit normal: about 1 % of them pass).
constexpr double BendClear = 2.6;
constexpr double infinity = std::numeric_limits<double>::infinity();

}  // namespace

std::vector<const char*> preciseFlagNames(unsigned flags) {
  std::vector<const char*> names;
  if ((flags & PreciseFlag::LobeTooWide) != 0) names.push_back("wide_lobe");
  if ((flags & PreciseFlag::SpectrumBends) != 0) names.push_back("channel_bend");
  if ((flags & PreciseFlag::EchoesUnseen) != 0) names.push_back("echoes_unseen");
  if ((flags & PreciseFlag::PartsDisagree) != 0) names.push_back("parts_disagree");
  return names;
}

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
  const int startShift = static_cast<int>(std::lround(frequencyHz / fs * layout.frameLength));
  const CarrierFreeSegments cleaned =
      removeCarriers(segments, layout, firstPower, secondPower, startShift);
  if (cleaned.removed > 0) {
    segments = cleaned.segments();
    measurePowers();
  }
  // Then bands one recording holds alone, filtered out of its copy.
  const SuppressedBands suppressed = suppressOneSidedBands(
      segments, layout,
      measureOneSidedExcess(firstPower, secondPower, startShift, layout.blockCount), firstPower,
      secondPower, startShift);
  if (suppressed.recordings > 0) {
    segments = suppressed.copies.segments();
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
  std::vector<double> excess;
  for (int round = 1; round <= MostRounds; ++round) {
    // The band is measured at the starting values and again once both have been re-estimated,
    // then held, so that later rounds maximise one fixed function.
    if (round <= BandRounds) {
      primitives.crossSpectrum(segments, layout, cycles, FrameShape::Windowed, spectrum);
      const auto shift = static_cast<int>(std::lround(cycles * layout.frameLength));
      excess = measureExcess(firstPower, secondPower, shift, layout.blockCount);
      for (std::size_t k = 0; k < suppressed.depth.size(); ++k) {
        excess[k] = std::max(excess[k], suppressed.depth[k]);
      }
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
  if (band.bandsKept == 0) return estimate;

  // A resolved echo: modelled, so that its sidelobes do not pull the main path's delay.
  double mixtureDeviation = 0.0;
  // What a lobe too wide to judge could hide: flagged whatever the drift, which cannot explain
  // it away.
  double blindDeviation = 0.0;
  // What paths closer than the lobe, seen in the spectra's shapes, could move the delay by.
  double bendDeviation = 0.0;
  {
    primitives.crossSpectrum(segments, layout, cycles, FrameShape::Margined, spectrum);
    // One path's shape from the first recording's own spectrum, which an echo at the second
    // receiver leaves alone: smoothed a little, less the noise floor where bins without signal
    // show it (unclipped, so that noise averages out of its moments), for the lobe's width.
    std::vector<double> shape(bins), floorBins;
    for (std::size_t k = 0; k < bins; ++k) {
      if (band.rootWeight[k] == 0.0) floorBins.push_back(firstPower[k].x);
    }
    // The mean of those bins, carriers and the like (ten times the median) left out.
    double floor = 0.0;
    if (floorBins.size() >= 64) {
      std::vector<double> sorted = floorBins;
      std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
      const double median = sorted[sorted.size() / 2];
      double sum = 0.0;
      int count = 0;
      for (const double v : floorBins) {
        if (v <= 10.0 * median) sum += v, ++count;
      }
      floor = count > 0 ? sum / count : 0.0;
    } else {
      // A band that fills the spectrum shows no bins without signal: the floor follows from
      // how much of each recording's power the two share.
      primitives.crossSpectrum(segments, layout, cycles, FrameShape::Windowed, spectrum);
      floor = fillingBandFloor(spectrum, firstPower, secondPower,
                               static_cast<int>(std::lround(cycles * layout.frameLength)),
                               delaySamples, layout.blockCount);
      primitives.crossSpectrum(segments, layout, cycles, FrameShape::Margined, spectrum);
    }
    constexpr int ShapeSmooth = 16;
    const int length = layout.frameLength;
    for (int k = 0; k < length; ++k) {
      double sum = 0.0;
      for (int d = -ShapeSmooth; d <= ShapeSmooth; ++d) {
        sum += firstPower[static_cast<std::size_t>(((k + d) % length + length) % length)].x;
      }
      const auto i = static_cast<std::size_t>(k);
      const double w = band.rootWeight[i] * band.rootWeight[i];
      weighted[i] = scaled(spectrum[i], w);
      shape[i] = w * (sum / (2 * ShapeSmooth + 1) - floor);
    }
    // The paths themselves are modelled on the first segment against itself, framed as the
    // cross-spectrum is: the realised spectrum, ripple and all, so that taking out one path's
    // model leaves none of its self-noise behind. Its floor is the smoothed shape's, in the
    // framing's own scale (the ratio of the two spectra's totals).
    std::vector<double2> selfSpectrum(bins), pathShape(bins);
    withSegments(segments.samples, [&](const auto* first, const auto*) {
      using Pair = PointerPair<std::remove_cvref_t<decltype(*first)>>;
      primitives.crossSpectrum(PreciseSegments{Pair{first, first}, 0, 0}, layout, 0.0,
                               FrameShape::Margined, selfSpectrum);
    });
    double selfTotal = 0.0, windowedTotal = 0.0;
    for (std::size_t k = 0; k < bins; ++k) {
      selfTotal += selfSpectrum[k].x;
      windowedTotal += firstPower[k].x;
    }
    const double selfFloor = windowedTotal > 0.0 ? floor * selfTotal / windowedTotal : 0.0;
    for (std::size_t k = 0; k < bins; ++k) {
      const double w = band.rootWeight[k] * band.rootWeight[k];
      pathShape[k] = scaled(double2{selfSpectrum[k].x - selfFloor, selfSpectrum[k].y}, w);
    }
    const double lobe = 1.0 / flatWidthOfRms(band.rmsBandwidth);
    const EchoPath echo =
        findEcho(weighted, pathShape, binRates, delaySamples, lobe, layout.margin - 8.0);
    // An echo that, separated, settles within the main lobe was not resolved after all: the
    // two paths are then judged as a mixture, by the lobe's width.
    TwoPaths paths;
    if (echo.found) {
      paths = separatePaths(weighted, pathShape, binRates, delaySamples, echo.delaySamples);
    }
    if (echo.found && std::fabs(paths.echo - paths.main) >= 1.5 * lobe) {
      delaySamples = paths.main;
      estimate.delay = request.lagDelay + delaySamples / fs;
      const double share = paths.ratio.x * paths.ratio.x + paths.ratio.y * paths.ratio.y;
      estimate.paths.push_back({request.lagDelay + paths.echo / fs, 10.0 * std::log10(share)});
      // The product's noise at the main path's delay holds the echo's product with the signal,
      // which, modelled, no longer moves the delay. At the echo's delay the main path's product
      // with the signal stands as that self-noise over share: the two noise powers give the
      // thermal part alone, noise_main = N + share X, noise_echo = N + X, and the delay's
      // deviation follows from it. (The offset, measured on the product, keeps both.)
      if (share < MostEchoShare) {
        // Each lag's noise power, from its SNR and the magnitude of its run sum.
        const auto noiseAt = [&](double at, double& power) {
          primitives.delayedProductRuns(segments, layout, cycles, at, band.rootWeight, runs);
          double2 total{0.0, 0.0};
          for (const double2 r : runs) total = double2{total.x + r.x, total.y + r.y};
          power = total.x * total.x + total.y * total.y;
          const double snr = measureRuns(runs, runRates, 0.0).postIntegrationSnr;
          return snr > 0.0 ? power / (2.0 * snr) : -1.0;
        };
        double mainPower = 0.0, echoPower = 0.0;
        const double atMain = noiseAt(paths.main, mainPower);
        const double atEcho = noiseAt(paths.echo, echoPower);
        const double thermal = (atMain - share * atEcho) / (1.0 - share);
        if (atMain > 0.0 && atEcho > 0.0 && thermal > 0.0) {
          const double snr =
              std::min(mainPower / (2.0 * thermal), MostSnrGain * mainPower / (2.0 * atMain));
          estimate.sigmaDelay = steinSigma(flatWidthOfRms(band.rmsBandwidth), snr) / fs;
        }
      }
      // Where the model of the two paths fits some parts of the band worse than others (a
      // spectrum that changes over the segment), the delay moves from part to part beyond what
      // the noise explains: the spread, where it stands clearly larger, is the deviation.
      const double spread =
          jackknifedMainDelay(weighted, pathShape, binRates, paths, JackknifeChunks) / fs;
      if (spread > ClearSpread * estimate.sigmaDelay) estimate.sigmaDelay = spread;
    } else {
      // Paths much closer than the lobe leave its width alone but bend the second recording's
      // power spectrum against the first's: a curvature standing clear of its deviation is
      // flagged, with its square root, the most such paths could move the delay, as the
      // deviation.
      const ChannelBend bend = measureChannelBend(
          firstPower, secondPower, static_cast<int>(std::lround(cycles * layout.frameLength)),
          band.rootWeight, excess, binRates);
      if (bend.measured && std::fabs(bend.curvature) > BendClear * bend.sigma) {
        bendDeviation = std::sqrt(std::fabs(bend.curvature)) / fs;
      }
    }
    if (!(echo.found && std::fabs(paths.echo - paths.main) >= 1.5 * lobe) &&
        floorBins.size() >= 64) {
      // Paths closer than the lobe's width cannot be told apart, but they widen the lobe beyond
      // what the band explains: the delay is then that of their mixture, off by up to a share
      // of the lobe, and is flagged with a deviation to match. The curvature's own scatter
      // shrinks with the SNR; a few thousandths remain from the shape's noise.
      // A line both recordings share (AM's carrier: much of the power in a few bins) holds no
      // delay and no width: its smoothed shape would widen the expected lobe by the smoothing's
      // own width, and its leakage through the frames' edges reaches every bin, so the lobe is
      // judged without it, on windowed frames, at the rest's SNR.
      const std::vector<double> lines = powerRatio(firstPower, 0);
      std::vector<char> inLine(bins, 0);
      bool anyLine = false;
      for (int k = 0; k < length; ++k) {
        // The smoothed shape spreads a line over ShapeSmooth bins, the window over a few more.
        for (int d = -ShapeSmooth - 4; d <= ShapeSmooth + 4; ++d) {
          if (lines[static_cast<std::size_t>(((k + d) % length + length) % length)] > LineRatio) {
            inLine[static_cast<std::size_t>(k)] = 1;
            anyLine = anyLine || band.rootWeight[static_cast<std::size_t>(k)] > 0.0;
            break;
          }
        }
      }
      std::vector<double2> lineless(weighted.begin(), weighted.end());
      std::vector<double> linelessShape = shape;
      double shapeTotal = 0.0, keptTotal = 0.0;
      if (anyLine) {
        primitives.crossSpectrum(segments, layout, cycles, FrameShape::Windowed, spectrum);
      }
      for (std::size_t k = 0; k < bins; ++k) {
        shapeTotal += shape[k];
        if (anyLine) {
          const double w = band.rootWeight[k] * band.rootWeight[k];
          lineless[k] = inLine[k] ? double2{0.0, 0.0} : scaled(spectrum[k], w);
          if (inLine[k]) linelessShape[k] = 0.0;
        }
        keptTotal += linelessShape[k];
      }
      const double ratio = lobeCurvatureRatio(lineless, linelessShape, binRates, delaySamples);
      const double share = shapeTotal > 0.0 ? std::clamp(keptTotal / shapeTotal, 1e-6, 1.0) : 1.0;
      const double snr = share * std::pow(10.0, estimate.postIntegrationSnrDb / 10.0);
      // The shape's noise moves the band's second moment too: each smoothed bin carries the
      // floor's chi-square scatter over (2 ShapeSmooth + 1) / 1.5 bins of every block.
      const double degrees = layout.blockCount * (2.0 * ShapeSmooth + 1.0) / 1.5;
      double total = 0.0, moment1 = 0.0, moment2 = 0.0;
      for (std::size_t k = 0; k < bins; ++k) {
        total += linelessShape[k];
        moment1 += linelessShape[k] * binRates[k];
        moment2 += linelessShape[k] * binRates[k] * binRates[k];
      }
      double shapeScatter = 0.0, restWidth = 0.0;  // restWidth: rms, cycles per sample
      if (total > 0.0) {
        const double centre = moment1 / total;
        const double second = moment2 / total - centre * centre;
        double variance = 0.0;
        for (std::size_t k = 0; k < bins; ++k) {
          if (linelessShape[k] == 0.0) continue;
          const double w = band.rootWeight[k] * band.rootWeight[k];
          const double d = (binRates[k] - centre) * (binRates[k] - centre) - second;
          variance += w * w * floor * floor / degrees * d * d;
        }
        shapeScatter = second > 0.0 ? std::sqrt(variance) / (total * second) : 1.0;
        restWidth = std::sqrt(std::max(0.0, second)) / FullTurn;
      }
      const double scatter = 0.8 / std::sqrt(snr) + 0.004 + shapeScatter;
      // (A drift widens the lobe as well: that is judged once the drift is known.)
      const double least = std::max(0.02, 5.0 * scatter);
      // The lobe of the band without its lines.
      const double restLobe = anyLine && restWidth > 0.0 ? 1.0 / flatWidthOfRms(restWidth) : lobe;
      if (ratio < 1.0 - least) {
        mixtureDeviation = restLobe * std::sqrt(1.0 - ratio) / fs;
      } else if (restLobe * std::sqrt(3.0 * least) / fs > BlindEchoDelay ||
                 share < LeastRestShare) {
        // Two paths d apart narrow the curvature by up to a third of (d / lobe)^2, so the test
        // sees none closer than lobe sqrt(3 least). Where that passes the delays ordinary
        // multipath reaches, an echo could pull the delay by microseconds unseen: flagged, with
        // the largest pull it could hide, lobe sqrt(least), as the deviation. So too where
        // lines hold nearly all the power: their leakage through the frames' edges then reaches
        // the delay itself.
        blindDeviation = restLobe * std::sqrt(least) / fs;
      }
    }
  }

  // The drift over the segment; where it stands clear of its deviation, the estimate once more
  // with it taken out.
  DriftEstimator drift(segments, layout, band.rootWeight, excess, band.rmsBandwidth, primitives);
  DriftFit fit = drift.fit(delaySamples, cycles);
  // A clear drift: the parts measured again where it puts them, each at its own offset.
  if (fit.measured && (std::fabs(fit.delayRate) > ClearRate * fit.sigmaDelayRate ||
                       std::fabs(fit.cyclesRate) > ClearRate * fit.sigmaCyclesRate)) {
    const DriftFit again = drift.fit(delaySamples, cycles, fit.delayRate, fit.cyclesRate);
    if (again.measured) fit = again;
  }
  estimate.delayRate = fit.delayRate;
  estimate.frequencyRate = fit.cyclesRate * fs * fs;
  estimate.sigmaDelayRate = fit.measured ? fit.sigmaDelayRate : infinity;
  estimate.sigmaFrequencyRate = fit.measured ? fit.sigmaCyclesRate * fs * fs : infinity;
  const auto flagBlind = [&] {
    if (bendDeviation > 0.0) {
      estimate.flags |= PreciseFlag::ModelMismatch | PreciseFlag::SpectrumBends;
      estimate.sigmaDelay = std::max(estimate.sigmaDelay, bendDeviation);
    }
    if (blindDeviation > 0.0) {
      estimate.flags |= PreciseFlag::ModelMismatch | PreciseFlag::EchoesUnseen;
      estimate.sigmaDelay = std::max(estimate.sigmaDelay, blindDeviation);
    }
  };
  const auto flagMixture = [&] {
    flagBlind();
    if (mixtureDeviation > 0.0) {
      estimate.flags |= PreciseFlag::ModelMismatch | PreciseFlag::LobeTooWide;
      estimate.sigmaDelay = std::max(estimate.sigmaDelay, mixtureDeviation);
    }
  };
  if (!fit.measured) {
    flagMixture();
    return estimate;
  }
  const bool stretched = std::fabs(fit.delayRate) > ClearRate * fit.sigmaDelayRate;
  const bool chirped = std::fabs(fit.cyclesRate) > ClearRate * fit.sigmaCyclesRate;
  if (stretched || chirped) {
    const DriftedEstimate drifted = drift.estimate(
        delaySamples, cycles, stretched ? fit.delayRate : 0.0, chirped ? fit.cyclesRate : 0.0);
    if (drifted.done) {
      estimate.delay = request.lagDelay + drifted.delaySamples / fs;
      estimate.frequencyOffset = drifted.cycles * fs;
      estimate.sigmaDelay = drifted.sigmaDelaySamples / fs;
      estimate.sigmaFrequency = drifted.sigmaCycles * fs;
      estimate.iterations += drifted.iterations;
      estimate.converged = drifted.converged;
      estimate.postIntegrationSnrDb = 10.0 * std::log10(drifted.postIntegrationSnr);
      estimate.effectiveBandwidthHz = flatWidthOfRms(drifted.rmsBandwidth) * fs;
      estimate.effectiveDurationS = flatWidthOfRms(drifted.rmsDuration) / fs;
    }
  }
  // Parts that scatter about the drift's line clearly beyond their deviations (three of the
  // scatter's own deviations) say that the deviations are too small: widened by the scatter,
  // and flagged where it is large besides (a weak narrow signal's parts scatter a few times
  // their bound without the model failing).
  if (fit.parts > 2) {
    const double clear = 1.0 + 3.0 * std::sqrt(2.0 / (fit.parts - 2));
    if (fit.delayMisfit > clear) estimate.sigmaDelay *= std::sqrt(fit.delayMisfit);
    if (fit.frequencyMisfit > clear) estimate.sigmaFrequency *= std::sqrt(fit.frequencyMisfit);
    if (std::max(fit.delayMisfit, fit.frequencyMisfit) > std::max(clear, LargeMisfit)) {
      estimate.flags |= PreciseFlag::ModelMismatch | PreciseFlag::PartsDisagree;
    }
  }
  if (stretched) {
    flagBlind();
  } else {
    flagMixture();
  }
  return estimate;
}

}  // namespace kestrav
