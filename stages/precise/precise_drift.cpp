#include "stages/precise/precise_drift.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

#include "stages/precise/peak_fit.hpp"
#include "stages/precise/precise_constants.hpp"
#include "stages/precise/precise_maps.hpp"
#include "stages/precise/run_profile.hpp"
#include "stages/precise/stein.hpp"

namespace kestrav {
namespace {

constexpr int MostParts = 16;
// A part whose own correlation stands less than this far above its noise (post-integration,
// 13 dB) cannot place its delay reliably: it is left out of the fit.
constexpr double WeakestPart = 20.0;
// How far a part's peak is looked for about where the drift so far puts it, samples.
constexpr double ScanReach = 2.0;
constexpr double ScanStep = 0.125;

// Maps a per-bin quantity of one frame length to another by frequency: the largest of the
// source bins that a target bin covers; `empty` at the Nyquist bin.
std::vector<double> resample(std::span<const double> source, int targetLength, double empty) {
  const int sourceLength = static_cast<int>(source.size());
  std::vector<double> target(static_cast<std::size_t>(targetLength), empty);
  if (source.empty()) return target;
  const double ratio = static_cast<double>(sourceLength) / targetLength;
  const int reach = std::max(0, static_cast<int>(std::ceil(0.5 * ratio)) - 1);
  for (int k = 0; k < targetLength; ++k) {
    const int signedBin = 2 * k < targetLength ? k : k - targetLength;
    if (2 * signedBin == -targetLength) continue;  // the Nyquist bin belongs to neither side
    const auto centre = static_cast<int>(std::lround(signedBin * ratio));
    double value = 0.0;
    for (int d = -reach; d <= reach; ++d) {
      const int s = ((centre + d) % sourceLength + sourceLength) % sourceLength;
      value = std::max(value, source[static_cast<std::size_t>(s)]);
    }
    target[static_cast<std::size_t>(k)] = value;
  }
  return target;
}

// |sum_k terms[k] e^{j rates[k] x}|^2 on a grid of x, by rotating each term one step at a time.
double strongestOnGrid(std::span<const double2> terms, std::span<const double> rates, double from,
                       double step, int count) {
  std::vector<double2> current(terms.size()), turn(terms.size());
  for (std::size_t k = 0; k < terms.size(); ++k) {
    current[k] = complexProduct(terms[k], unitPhasor(rates[k] * from / FullTurn));
    turn[k] = unitPhasor(rates[k] * step / FullTurn);
  }
  double best = from, strongest = -1.0;
  for (int i = 0; i < count; ++i) {
    double2 sum{0.0, 0.0};
    for (std::size_t k = 0; k < terms.size(); ++k) {
      sum = double2{sum.x + current[k].x, sum.y + current[k].y};
      current[k] = complexProduct(current[k], turn[k]);
    }
    const double power = sum.x * sum.x + sum.y * sum.y;
    if (power > strongest) strongest = power, best = from + i * step;
  }
  return best;
}

struct Line {
  double intercept = 0.0, slope = 0.0, sigmaSlope = 0.0, misfit = 1.0;
};

// Weighted least squares through (x, y) with deviations sigma; the slope's deviation widened by
// the scatter where it exceeds what the deviations allow.
Line fitLine(const std::vector<double>& x, const std::vector<double>& y,
             const std::vector<double>& sigma) {
  double sw = 0, sx = 0, sxx = 0, sy = 0, sxy = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double w = 1.0 / (sigma[i] * sigma[i]);
    sw += w, sx += w * x[i], sxx += w * x[i] * x[i], sy += w * y[i], sxy += w * x[i] * y[i];
  }
  Line line;
  const double det = sw * sxx - sx * sx;
  if (!(det > 0.0)) return line;
  line.slope = (sw * sxy - sx * sy) / det;
  line.intercept = (sxx * sy - sx * sxy) / det;
  double chi = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double r = (y[i] - line.intercept - line.slope * x[i]) / sigma[i];
    chi += r * r;
  }
  line.misfit = x.size() > 2 ? chi / static_cast<double>(x.size() - 2) : 1.0;
  line.sigmaSlope = std::sqrt(sw / det * std::max(1.0, line.misfit));
  return line;
}

}  // namespace

DriftEstimator::DriftEstimator(const PreciseSegments& segments, const PreciseLayout& fullLayout,
                               std::span<const double> rootWeight, std::span<const double> excess,
                               double rmsBandwidth, PrecisePrimitives& primitives)
    : segments_(segments), full_(fullLayout), rmsBandwidth_(rmsBandwidth), primitives_(primitives) {
  const int n = fullLayout.sampleCount;
  const int count = std::min(MostParts, n / ShortestPart);
  if (count < 2) return;
  const int length = n / count;
  layout_ = planPreciseLayout(length);
  for (int p = 0; p < count; ++p) {
    starts_.push_back(p * length);
    centres_.push_back(p * length + 0.5 * (length - 1) - fullLayout.centre);
  }
  rootWeight_ = resample(rootWeight, layout_.frameLength, 0.0);
  excess_ = resample(excess, layout_.frameLength, 1.0);
}

PreciseSegments DriftEstimator::part(int p) const {
  const int start = starts_[static_cast<std::size_t>(p)];
  const int n = full_.sampleCount;
  const SegmentPointers moved = withSegments(segments_.samples, [&](auto first, auto second) {
    return SegmentPointers(SegmentPair<decltype(first)>{first + start, second + start});
  });
  return PreciseSegments{moved, segments_.secondBefore + start,
                         segments_.secondAfter + (n - start - layout_.sampleCount)};
}

std::vector<double> DriftEstimator::spectrumRates() const {
  std::vector<double> rates(static_cast<std::size_t>(layout_.frameLength));
  for (int k = 0; k < layout_.frameLength; ++k) {
    rates[static_cast<std::size_t>(k)] = FullTurn * signedBinFrequency(k, layout_.frameLength);
  }
  return rates;
}

DriftFit DriftEstimator::fit(double delaySamples, double cycles, double delayRate,
                             double cyclesRate) {
  DriftFit result;
  const int count = static_cast<int>(starts_.size());
  if (count < 2) return result;
  const auto bins = static_cast<std::size_t>(layout_.frameLength);
  const std::vector<double> binRates = spectrumRates();
  std::vector<double> runRates(static_cast<std::size_t>(layout_.runCount));
  for (int j = 0; j < layout_.runCount; ++j) {
    runRates[static_cast<std::size_t>(j)] = -FullTurn * runTime(layout_, j);
  }
  std::vector<double2> spectrum(bins), runs(runRates.size());
  // From the middle outwards, each part looked for where the drift of those before puts it.
  std::vector<int> order(static_cast<std::size_t>(count));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return std::fabs(centres_[static_cast<std::size_t>(a)]) <
           std::fabs(centres_[static_cast<std::size_t>(b)]);
  });
  std::vector<double> t, delays, delaySigmas, frequencies, frequencySigmas;
  const double partCycles = 1.0 / layout_.sampleCount;
  for (const int p : order) {
    const double centre = centres_[static_cast<std::size_t>(p)];
    double predicted = delaySamples + delayRate * centre;
    const double partCyclesNow = cycles + cyclesRate * centre;
    if (t.size() >= 2) {
      const Line line = fitLine(t, delays, delaySigmas);
      predicted = line.intercept + line.slope * centre;
    }
    const PreciseSegments segments = part(p);
    primitives_.crossSpectrum(segments, layout_, partCyclesNow, FrameShape::Margined, spectrum);
    for (std::size_t k = 0; k < bins; ++k) {
      spectrum[k] = scaled(spectrum[k], rootWeight_[k] * rootWeight_[k]);
    }
    const auto steps = static_cast<int>(2.0 * ScanReach / ScanStep) + 1;
    const double start =
        strongestOnGrid(spectrum, binRates, predicted - ScanReach, ScanStep, steps);
    const PhasorPeak delayPeak = maximizePhasorSum(spectrum, binRates, start, 0.25, 1e-10);
    primitives_.delayedProductRuns(segments, layout_, partCyclesNow, delayPeak.position,
                                   rootWeight_, runs);
    const PhasorPeak frequencyPeak =
        maximizePhasorSum(runs, runRates, 0.0, 0.25 * partCycles, 1e-10 * partCycles);
    const RunProfile profile = measureRuns(runs, runRates, frequencyPeak.position);
    if (!(profile.postIntegrationSnr >= WeakestPart)) continue;
    t.push_back(centre);
    delays.push_back(delayPeak.position);
    delaySigmas.push_back(steinSigma(flatWidthOfRms(rmsBandwidth_), profile.postIntegrationSnr));
    frequencies.push_back(partCyclesNow + frequencyPeak.position);
    frequencySigmas.push_back(
        steinSigma(flatWidthOfRms(profile.rmsDuration), profile.postIntegrationSnr));
  }
  // Three parts at least, so that their scatter can be checked against their deviations.
  if (t.size() < 3) return result;
  const Line delayLine = fitLine(t, delays, delaySigmas);
  const Line frequencyLine = fitLine(t, frequencies, frequencySigmas);
  result.measured = std::isfinite(delayLine.sigmaSlope) && delayLine.sigmaSlope > 0.0 &&
                    std::isfinite(frequencyLine.sigmaSlope) && frequencyLine.sigmaSlope > 0.0;
  result.delayRate = delayLine.slope;
  result.sigmaDelayRate = delayLine.sigmaSlope;
  result.cyclesRate = frequencyLine.slope;
  result.sigmaCyclesRate = frequencyLine.sigmaSlope;
  result.delayMisfit = delayLine.misfit;
  result.frequencyMisfit = frequencyLine.misfit;
  result.parts = static_cast<int>(t.size());
  return result;
}

DriftedEstimate DriftEstimator::estimate(double delaySamples, double cycles, double delayRate,
                                         double cyclesRate) {
  DriftedEstimate result;
  const int count = static_cast<int>(starts_.size());
  if (count < 2) return result;
  const auto bins = static_cast<std::size_t>(layout_.frameLength);
  const std::vector<double> binRates = spectrumRates();
  std::vector<double2> spectrum(bins), total(bins),
      runs(static_cast<std::size_t>(layout_.runCount));
  std::vector<double2> collected;
  std::vector<double> collectedRates;
  // Each part's spectrum referred to the whole segment's middle: the phase its offset has run up
  // by the part's middle, the drifted frequency's too, and the delay moved by the drift.
  const auto addPart = [&](int p, double atCycles) {
    const double centre = centres_[static_cast<std::size_t>(p)];
    const double2 phase = unitPhasor(-atCycles * centre - 0.5 * cyclesRate * centre * centre);
    for (int k = 0; k < layout_.frameLength; ++k) {
      const auto i = static_cast<std::size_t>(k);
      total[i] = [&] {
        const double2 term =
            complexProduct(complexProduct(spectrum[i], phase),
                           advancePhasor(k, layout_.frameLength, delayRate * centre));
        return double2{total[i].x + term.x, total[i].y + term.y};
      }();
    }
  };
  // The band once more, from the parts' windowed spectra added with the drift taken out.
  std::fill(total.begin(), total.end(), double2{0.0, 0.0});
  for (int p = 0; p < count; ++p) {
    primitives_.crossSpectrum(part(p), layout_, cycles, FrameShape::Windowed, spectrum);
    addPart(p, cycles);
  }
  const BandProfile band = measureBand(total, delaySamples, PreciseBandCount, excess_);
  if (band.bandsKept == 0) return result;
  const double recordCycles = 1.0 / full_.sampleCount;
  for (int round = 1; round <= MostRounds; ++round) {
    std::fill(total.begin(), total.end(), double2{0.0, 0.0});
    for (int p = 0; p < count; ++p) {
      primitives_.crossSpectrum(part(p), layout_, cycles, FrameShape::Margined, spectrum);
      for (std::size_t k = 0; k < bins; ++k) {
        spectrum[k] = scaled(spectrum[k], band.rootWeight[k] * band.rootWeight[k]);
      }
      addPart(p, cycles);
    }
    const PhasorPeak delayPeak = maximizePhasorSum(total, binRates, delaySamples, 0.25, 1e-10);
    const double delayMove = delayPeak.position - delaySamples;
    delaySamples = delayPeak.position;

    collected.clear();
    collectedRates.clear();
    for (int p = 0; p < count; ++p) {
      const double centre = centres_[static_cast<std::size_t>(p)];
      primitives_.delayedProductRuns(part(p), layout_, cycles, delaySamples + delayRate * centre,
                                     band.rootWeight, runs);
      for (int j = 0; j < layout_.runCount; ++j) {
        const double time = runTime(layout_, j) + centre;
        const double2 phase = unitPhasor(-cycles * centre - 0.5 * cyclesRate * time * time);
        collected.push_back(complexProduct(runs[static_cast<std::size_t>(j)], phase));
        collectedRates.push_back(-FullTurn * time);
      }
    }
    const PhasorPeak frequencyPeak = maximizePhasorSum(collected, collectedRates, 0.0,
                                                       0.25 * recordCycles, 1e-10 * recordCycles);
    cycles += frequencyPeak.position;
    const RunProfile profile = measureRuns(collected, collectedRates, frequencyPeak.position);
    result.delaySamples = delaySamples;
    result.cycles = cycles;
    result.postIntegrationSnr = profile.postIntegrationSnr;
    result.rmsBandwidth = band.rmsBandwidth;
    result.rmsDuration = profile.rmsDuration;
    result.sigmaDelaySamples =
        steinSigma(flatWidthOfRms(band.rmsBandwidth), profile.postIntegrationSnr);
    result.sigmaCycles =
        steinSigma(flatWidthOfRms(profile.rmsDuration), profile.postIntegrationSnr);
    result.iterations = round;
    result.done = true;
    if (std::fabs(delayMove) < SettledShare * result.sigmaDelaySamples &&
        std::fabs(frequencyPeak.position) < SettledShare * result.sigmaCycles) {
      result.converged = true;
      break;
    }
  }
  return result;
}

}  // namespace kestrav
