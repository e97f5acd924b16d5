#include "stages/precise/band_weight.hpp"

#include <algorithm>
#include <cmath>

#include "stages/precise/precise_maps.hpp"

namespace kestrav {

namespace {

// Each bin's power summed over 2 Smooth + 1 neighbours, over its side medians.
constexpr int Smooth = 2;
constexpr int Side = 64;   // bins in each side's median
constexpr int Stride = 8;  // medians are taken every Stride bins and held between

}  // namespace

namespace {

const double& powerAt(std::span<const double2> power, int k) {
  const int length = static_cast<int>(power.size());
  return power[static_cast<std::size_t>(((k % length) + length) % length)].x;
}

// Each value over the larger median of its neighbours on either side.
std::vector<double> overSideMedians(const std::vector<double>& values) {
  const int length = static_cast<int>(values.size());
  const auto at = [&](int k) {
    return values[static_cast<std::size_t>(((k % length) + length) % length)];
  };
  std::vector<double> window(Side);
  const auto medianOf = [&](int from) {
    for (int d = 0; d < Side; ++d) window[static_cast<std::size_t>(d)] = at(from + d);
    std::nth_element(window.begin(), window.begin() + Side / 2, window.end());
    return window[Side / 2];
  };
  std::vector<double> ratio(values.size(), 1.0);
  for (int start = 0; start < length; start += Stride) {
    const double level =
        std::max(medianOf(start - Smooth - Side), medianOf(start + Stride + Smooth));
    for (int k = start; k < std::min(length, start + Stride); ++k) {
      if (level > 0.0) ratio[static_cast<std::size_t>(k)] = at(k) / level;
    }
  }
  return ratio;
}

}  // namespace

namespace {

// Each bin's power averaged over 2 Smooth + 1 neighbours; bin k + shift of the spectrum lands on k.
std::vector<double> smoothedPower(std::span<const double2> power, int shift) {
  const int length = static_cast<int>(power.size());
  std::vector<double> smoothed(power.size());
  for (int k = 0; k < length; ++k) {
    double sum = 0.0;
    for (int d = -Smooth; d <= Smooth; ++d) sum += powerAt(power, k + shift + d);
    smoothed[static_cast<std::size_t>(k)] = sum / (2 * Smooth + 1);
  }
  return smoothed;
}

// The median over a wide neighbourhood of each bin (taken every few bins and held between) of
// the values that `counted` marks (all, where it is empty): the level a band much narrower than
// the neighbourhood stands on. Where fewer than a quarter of the neighbourhood count, 0: nothing
// beside the bin says what its level is, and any lift stands clear of that.
std::vector<double> wideMedian(const std::vector<double>& values,
                               const std::vector<char>& counted = {}) {
  const int length = static_cast<int>(values.size());
  const int side = std::max(Side, length / 8);
  const int stride = std::max(Stride, side / 16);
  std::vector<double> window;
  window.reserve(static_cast<std::size_t>(2 * side + 1));
  std::vector<double> level(values.size(), 0.0);
  for (int start = 0; start < length; start += stride) {
    const int middle = std::min(length - 1, start + stride / 2);
    window.clear();
    for (int d = -side; d <= side; ++d) {
      const auto j = static_cast<std::size_t>(((middle + d) % length + length) % length);
      if (counted.empty() || counted[j] != 0) window.push_back(values[j]);
    }
    if (2 * static_cast<int>(window.size()) < side) continue;
    const auto half = window.begin() + static_cast<long>(window.size() / 2);
    std::nth_element(window.begin(), half, window.end());
    for (int k = start; k < std::min(length, start + stride); ++k) {
      level[static_cast<std::size_t>(k)] = *half;
    }
  }
  return level;
}

// Over 2 Smooth + 1 bins of `blocks` windowed frames (about 1.5 bins to an independent one) a
// smoothed power is a chi-square that strays by 1 / sqrt(degrees), a quotient of two by sqrt(2)
// as much. Eight of those stand clear of it.
double clearRatio(int blocks) {
  const double degrees = std::max(1, blocks) * (2 * Smooth + 1) / 1.5;
  return 1.0 + 8.0 * std::sqrt(2.0 / degrees);
}

}  // namespace

std::vector<double> powerRatio(std::span<const double2> power, int shift) {
  return overSideMedians(smoothedPower(power, shift));
}

OneSidedExcess measureOneSidedExcess(std::span<const double2> firstPower,
                                     std::span<const double2> secondPower, int shiftBins,
                                     int blocks) {
  // The second's power over the first's is flat across a shared signal, whatever its shape: it
  // is the receivers' gain ratio where the signal dominates, their noise ratio where it does
  // not, and changes slowly between. A band one recording holds alone lifts it (or lowers it)
  // against its wide neighbourhood. So does a notch of the other's (an echo's), which is told
  // apart by the holder's own power: a band lifts it over the level of the bins beside it where
  // the two recordings agree; a notch of the other's leaves it there. Measured over a
  // neighbourhood much wider than the band, its middle shows as plainly as its edges.
  const std::vector<double> first = smoothedPower(firstPower, 0);
  const std::vector<double> second = smoothedPower(secondPower, shiftBins);
  std::vector<double> quotient(first.size(), 0.0);
  for (std::size_t k = 0; k < first.size(); ++k) {
    if (first[k] > 0.0) quotient[k] = second[k] / first[k];
  }
  const double clear = clearRatio(blocks);
  const std::vector<double> quotientLevel = wideMedian(quotient);
  std::vector<double> lift(first.size(), 1.0);
  std::vector<char> agree(first.size(), 0);
  for (std::size_t k = 0; k < first.size(); ++k) {
    if (quotient[k] > 0.0 && quotientLevel[k] > 0.0) lift[k] = quotient[k] / quotientLevel[k];
    agree[k] = lift[k] <= clear && lift[k] >= 1.0 / clear ? 1 : 0;
  }
  const std::vector<double> firstLevel = wideMedian(first, agree);
  const std::vector<double> secondLevel = wideMedian(second, agree);
  OneSidedExcess excess{std::vector<double>(first.size(), 1.0),
                        std::vector<double>(first.size(), 1.0)};
  for (std::size_t k = 0; k < first.size(); ++k) {
    if (agree[k] != 0) continue;
    if (lift[k] > clear && second[k] > clear * secondLevel[k]) excess.second[k] = lift[k];
    if (lift[k] < 1.0 / clear && first[k] > clear * firstLevel[k]) excess.first[k] = 1.0 / lift[k];
  }
  return excess;
}

std::vector<double> measureExcess(std::span<const double2> firstPower,
                                  std::span<const double2> secondPower, int shiftBins, int blocks) {
  // Each recording's power against its own close neighbourhood, then the two against each
  // other: a narrow feature (a line, a band a few bins wide) and the bins beside it, where its
  // leakage lies; and the wide bands that measureOneSidedExcess finds.
  const std::vector<double> first = powerRatio(firstPower, 0);
  const std::vector<double> second = powerRatio(secondPower, shiftBins);
  const double clear = clearRatio(blocks);
  const OneSidedExcess sides = measureOneSidedExcess(firstPower, secondPower, shiftBins, blocks);
  std::vector<double> excess(first.size(), 1.0);
  for (std::size_t k = 0; k < excess.size(); ++k) {
    excess[k] = std::max(sides.first[k], sides.second[k]);
    if (!(first[k] > 0.0) || !(second[k] > 0.0)) continue;
    const double larger = std::max(first[k] / second[k], second[k] / first[k]);
    if (larger > clear) excess[k] = std::max(excess[k], larger);
  }
  return excess;
}

BandProfile measureBand(std::span<const double2> spectrum, double delaySamples, int bandCount,
                        std::span<const double> excess) {
  const int length = static_cast<int>(spectrum.size());
  const int perBand = length / bandCount;
  // Turned to the delay: every bin of the signal then carries the same phase.
  std::vector<double2> turned(spectrum.size());
  double2 total{0.0, 0.0};
  for (int k = 0; k < length; ++k) {
    turned[k] = complexProduct(spectrum[k], advancePhasor(k, length, delaySamples));
    total = double2{total.x + turned[k].x, total.y + turned[k].y};
  }
  const double magnitude = std::hypot(total.x, total.y);
  const double2 unturn =
      magnitude > 0.0 ? double2{total.x / magnitude, -total.y / magnitude} : double2{1.0, 0.0};

  // Bands in order of signed frequency: band b starts at bin -length/2 + b perBand.
  const auto bandOf = [&](int k) {
    const int signedBin = 2 * k < length ? k : k - length;
    return (signedBin + length / 2) / perBand;
  };
  std::vector<double> signal(static_cast<std::size_t>(bandCount), 0.0);
  std::vector<double> noise(static_cast<std::size_t>(bandCount), 0.0);
  std::vector<double> share(static_cast<std::size_t>(bandCount), 0.0);
  const bool cleaned = !excess.empty();
  for (int k = 0; k < length; ++k) {
    turned[k] = complexProduct(turned[k], unturn);
    // Bins with excess noise count for less: as many bins' worth as their share of clean noise.
    const double e = cleaned ? excess[k] : 1.0;
    signal[bandOf(k)] += turned[k].x / e;
    noise[bandOf(k)] += turned[k].y * turned[k].y / (e * e);
    share[bandOf(k)] += 1.0 / e;
  }
  BandProfile profile;
  std::vector<double> root(static_cast<std::size_t>(bandCount), 0.0);
  for (int b = 0; b < bandCount; ++b) {
    signal[b] = cleaned ? signal[b] / std::max(share[b], 1.0) : signal[b] / perBand;
  }
  const double strongest = *std::max_element(signal.begin(), signal.end());
  for (int b = 0; b < bandCount; ++b) {
    // A floor keeps the weight finite for noiseless recordings.
    noise[b] = std::max(noise[b] / (cleaned ? std::max(share[b], 1.0) : perBand),
                        1e-24 * signal[b] * signal[b] + 1e-300);
    // Kept when the in-phase mean stands two of its standard deviations above zero (a windowed
    // spectrum's neighbouring bins share their noise: two of three bins count as independent),
    // a level that seldom drops the partly filled bands at the band's edges, which carry much of
    // the delay's information; and, so that a band of noise alone next to a strong signal cannot
    // pass, when it holds at least a thousandth of the strongest band's power.
    const double deviation =
        std::sqrt(noise[b] / ((cleaned ? std::max(share[b], 1.0) : perBand) / 1.5));
    if (signal[b] > 2.0 * deviation && signal[b] > 1e-3 * strongest) {
      root[b] = std::sqrt(signal[b] / (2.0 * noise[b]));
      ++profile.bandsKept;
    }
  }
  const double largest = *std::max_element(root.begin(), root.end());
  profile.rootWeight.assign(spectrum.size(), 0.0);
  profile.crossPower.assign(spectrum.size(), 0.0);
  if (largest <= 0.0) return profile;
  for (double& r : root) r /= largest;

  // Linear between band centres, flat beyond the outermost ones; the Nyquist bin, which belongs
  // to neither side, carries nothing.
  double weightedSignal = 0.0, moment1 = 0.0, moment2 = 0.0;
  for (int k = 0; k < length; ++k) {
    const int signedBin = 2 * k < length ? k : k - length;
    if (2 * signedBin == -length) continue;
    const double x = (signedBin + length / 2 - 0.5 * (perBand - 1)) / perBand;
    const int lower = std::clamp(static_cast<int>(std::floor(x)), 0, bandCount - 1);
    const int upper = std::min(lower + 1, bandCount - 1);
    const double fraction = std::clamp(x - lower, 0.0, 1.0);
    const double r = (root[lower] + fraction * (root[upper] - root[lower])) /
                     (cleaned ? std::sqrt(excess[k]) : 1.0);
    profile.rootWeight[k] = r;
    profile.crossPower[k] =
        std::max(0.0, signal[lower] + fraction * (signal[upper] - signal[lower]));
    const double w = r * r;
    const double f = static_cast<double>(signedBin) / length;
    const double cross = w * turned[k].x;
    weightedSignal += cross;
    moment1 += cross * f;
    moment2 += cross * f * f;
  }
  if (weightedSignal > 0.0) {
    const double centre = moment1 / weightedSignal;
    profile.rmsBandwidth = std::sqrt(std::max(0.0, moment2 / weightedSignal - centre * centre));
  }
  return profile;
}

}  // namespace kestrav
