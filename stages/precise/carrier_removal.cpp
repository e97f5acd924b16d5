#include "stages/precise/carrier_removal.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "stages/precise/band_weight.hpp"
#include "stages/precise/peak_fit.hpp"
#include "stages/precise/precise_maps.hpp"

namespace kestrav {
namespace {

// Twenty decibels over the neighbourhood in one smoothed bin: nothing noise-like gets there,
// and below it the band weight copes with the leakage.
constexpr double CarrierRatio = 100.0;
constexpr int MostCarriers = 4;
constexpr int Apart = 4;  // bins: a carrier's windowed peak and its neighbours

// Bins where one recording's power peaks far above its neighbourhood while the other's, at the
// matching bin, does not, strongest first.
std::vector<int> carrierBins(std::span<const double2> power, const std::vector<double>& ratio,
                             const std::vector<double>& otherRatio, int otherShift) {
  const int length = static_cast<int>(power.size());
  std::vector<int> found;
  for (int k = 0; k < length; ++k) {
    if (ratio[static_cast<std::size_t>(k)] < CarrierRatio) continue;
    bool peak = true;
    for (int d = -Apart; d <= Apart && peak; ++d) {
      const int j = ((k + d) % length + length) % length;
      peak =
          d == 0 || power[static_cast<std::size_t>(j)].x < power[static_cast<std::size_t>(k)].x ||
          (power[static_cast<std::size_t>(j)].x == power[static_cast<std::size_t>(k)].x && j > k);
    }
    if (!peak) continue;
    // A carrier that both recordings hold is shared signal: it stays.
    bool shared = false;
    for (int d = -Apart; d <= Apart; ++d) {
      const int j = ((k - otherShift + d) % length + length) % length;
      shared = shared || otherRatio[static_cast<std::size_t>(j)] >= CarrierRatio;
    }
    if (!shared) found.push_back(k);
  }
  std::sort(found.begin(), found.end(), [&](int a, int b) {
    return power[static_cast<std::size_t>(a)].x > power[static_cast<std::size_t>(b)].x;
  });
  if (found.size() > MostCarriers) found.resize(MostCarriers);
  return found;
}

// Fits a carrier near `cycles` per sample to the whole copy and subtracts it.
void subtractCarrier(std::vector<float2>& samples, double cycles, double binCycles) {
  const auto count = samples.size();
  const double centre = 0.5 * (static_cast<double>(count) - 1.0);
  std::vector<double2> terms(count);
  std::vector<double> rates(count);
  for (std::size_t i = 0; i < count; ++i) {
    terms[i] = double2{samples[i].x, samples[i].y};
    rates[i] = -2.0 * std::numbers::pi * (static_cast<double>(i) - centre);
  }
  // The frame's bin places it within a few of the record's bins: a scan at a quarter of one finds
  // the main lobe, Newton its top.
  const double record = 1.0 / static_cast<double>(count);
  const int reach = static_cast<int>(std::ceil(2.0 * binCycles / record)) + 1;
  double start = cycles, strongest = -1.0;
  for (int m = -reach; m <= reach; ++m) {
    const double x = cycles + 0.25 * m * record;
    double2 sum{0.0, 0.0};
    for (std::size_t i = 0; i < count; ++i) {
      const double2 v =
          complexProduct(terms[i], unitPhasor(x * rates[i] / (2.0 * std::numbers::pi)));
      sum = double2{sum.x + v.x, sum.y + v.y};
    }
    const double power = sum.x * sum.x + sum.y * sum.y;
    if (power > strongest) strongest = power, start = x;
  }
  const PhasorPeak peak = maximizePhasorSum(terms, rates, start, 0.1 * record, 1e-6 * record);
  // The least-squares amplitude at the fitted frequency: the mean of the turned samples.
  double2 sum{0.0, 0.0};
  for (std::size_t i = 0; i < count; ++i) {
    const double2 turned =
        complexProduct(terms[i], unitPhasor(peak.position * rates[i] / (2.0 * std::numbers::pi)));
    sum = double2{sum.x + turned.x, sum.y + turned.y};
  }
  const double2 amplitude = scaled(sum, record);
  for (std::size_t i = 0; i < count; ++i) {
    const double2 carrier =
        complexProduct(amplitude, unitPhasor(-peak.position * rates[i] / (2.0 * std::numbers::pi)));
    samples[i] = float2{static_cast<float>(terms[i].x - carrier.x),
                        static_cast<float>(terms[i].y - carrier.y)};
  }
}

}  // namespace

CarrierFreeSegments removeCarriers(const PreciseSegments& segments, const PreciseLayout& layout,
                                   std::span<const double2> firstPower,
                                   std::span<const double2> secondPower, int shiftBins) {
  const std::vector<double> firstRatio = powerRatio(firstPower, 0);
  const std::vector<double> secondRatio = powerRatio(secondPower, 0);
  const std::vector<int> inFirst = carrierBins(firstPower, firstRatio, secondRatio, -shiftBins);
  const std::vector<int> inSecond = carrierBins(secondPower, secondRatio, firstRatio, shiftBins);
  CarrierFreeSegments clean;
  if (inFirst.empty() && inSecond.empty()) return clean;

  static_cast<SegmentCopies&>(clean) = copySegments(segments, layout);
  const double binCycles = 1.0 / layout.frameLength;
  for (const int k : inFirst) {
    subtractCarrier(clean.first, signedBinFrequency(k, layout.frameLength), binCycles);
  }
  for (const int k : inSecond) {
    subtractCarrier(clean.second, signedBinFrequency(k, layout.frameLength), binCycles);
  }
  clean.removed = static_cast<int>(inFirst.size() + inSecond.size());
  return clean;
}

}  // namespace kestrav
