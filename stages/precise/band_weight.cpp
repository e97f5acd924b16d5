#include "stages/precise/band_weight.hpp"

#include <algorithm>
#include <cmath>

#include "stages/precise/precise_maps.hpp"

namespace kestrav {

BandProfile measureBand(std::span<const double2> spectrum, double delaySamples, int bandCount) {
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
  const double2 unturn = magnitude > 0.0 ? double2{total.x / magnitude, -total.y / magnitude}
                                         : double2{1.0, 0.0};

  // Bands in order of signed frequency: band b starts at bin -length/2 + b perBand.
  const auto bandOf = [&](int k) {
    const int signedBin = 2 * k < length ? k : k - length;
    return (signedBin + length / 2) / perBand;
  };
  std::vector<double> signal(static_cast<std::size_t>(bandCount), 0.0);
  std::vector<double> noise(static_cast<std::size_t>(bandCount), 0.0);
  for (int k = 0; k < length; ++k) {
    turned[k] = complexProduct(turned[k], unturn);
    signal[bandOf(k)] += turned[k].x;
    noise[bandOf(k)] += turned[k].y * turned[k].y;
  }
  BandProfile profile;
  std::vector<double> root(static_cast<std::size_t>(bandCount), 0.0);
  for (int b = 0; b < bandCount; ++b) signal[b] /= perBand;
  const double strongest = *std::max_element(signal.begin(), signal.end());
  for (int b = 0; b < bandCount; ++b) {
    // A floor keeps the weight finite for noiseless recordings.
    noise[b] = std::max(noise[b] / perBand, 1e-24 * signal[b] * signal[b] + 1e-300);
    // Kept when the in-phase mean stands two of its standard deviations above zero (a windowed
    // spectrum's neighbouring bins share their noise: two of three bins count as independent),
    // a level that seldom drops the partly filled bands at the band's edges, which carry much of
    // the delay's information; and, so that a band of noise alone next to a strong signal cannot
    // pass, when it holds at least a thousandth of the strongest band's power.
    const double deviation = std::sqrt(noise[b] / (perBand / 1.5));
    if (signal[b] > 2.0 * deviation && signal[b] > 1e-3 * strongest) {
      root[b] = std::sqrt(signal[b] / (2.0 * noise[b]));
      ++profile.bandsKept;
    }
  }
  const double largest = *std::max_element(root.begin(), root.end());
  profile.rootWeight.assign(spectrum.size(), 0.0);
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
    const double r = root[lower] + fraction * (root[upper] - root[lower]);
    profile.rootWeight[k] = r;
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
