#include "stages/precise/noise_floor.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "stages/precise/precise_maps.hpp"

namespace kestrav {
namespace {

constexpr int Half = 16;  // bins on either side of a window's centre
constexpr int Step = 8;   // bins between windows' centres
// Under one Hann window neighbouring bins correlate by -2/3 and 1/6: the products of two
// recordings' bins summed over a window vary by 1 + 2 (4/9 + 1/36) times their own variances.
constexpr double HannProductSpread = 1.0 + 2.0 * (4.0 / 9.0 + 1.0 / 36.0);

struct Window {
  double first = 0.0, second = 0.0;  // mean power per bin
  double shared = 0.0;               // |mean cross-spectrum|^2, its noise taken out
};

}  // namespace

double fillingBandFloor(std::span<const double2> cross, std::span<const double2> firstPower,
                        std::span<const double2> secondPower, int shiftBins, double delaySamples,
                        int blocks) {
  const int length = static_cast<int>(cross.size());
  const auto at = [&](int k) { return static_cast<std::size_t>(((k % length) + length) % length); };
  const double width = 2 * Half + 1;
  std::vector<Window> windows;
  std::vector<double> beyond;
  for (int k = 0; k < length; k += Step) {
    double first = 0.0, second = 0.0, products = 0.0, crossPowers = 0.0;
    double2 sum{0.0, 0.0};
    for (int d = -Half; d <= Half; ++d) {
      const std::size_t j = at(k + d);
      const double p1 = firstPower[j].x, p2 = secondPower[at(k + d + shiftBins)].x;
      first += p1;
      second += p2;
      products += p1 * p2;
      crossPowers += cross[j].x * cross[j].x + cross[j].y * cross[j].y;
      const double2 turned =
          complexProduct(cross[j], advancePhasor(static_cast<int>(j), length, delaySamples));
      sum = double2{sum.x + turned.x, sum.y + turned.y};
    }
    // What the first holds beyond the cross-spectrum's magnitude: the floor where both
    // receivers see the signal alike.
    beyond.push_back((first - std::hypot(sum.x, sum.y)) / width);
    // The window's summed cross-spectrum carries its bins' noise, (P1 P2 - |C|^2) / blocks each.
    const double noise = HannProductSpread * std::max(0.0, products - crossPowers) / blocks;
    windows.push_back(Window{first / width, second / width,
                             (sum.x * sum.x + sum.y * sum.y - noise) / (width * width)});
  }
  std::nth_element(beyond.begin(), beyond.begin() + static_cast<long>(beyond.size() / 2),
                   beyond.end());
  const double fallback = std::max(0.0, beyond[beyond.size() / 2]);

  // Whatever each receiver's gain and whatever an echo does to the second's spectrum, the shared
  // signal's cross power is the product of the two signal powers: (P1 - N1)(P2 - N2) = |C|^2 in
  // every window. Where the two spectra's shapes differ across the band (an echo's ripple, a
  // filter) that pins both floors; where they do not, only a mixture of the two, and the floor
  // stays the first's excess over the cross-spectrum, which is right for receivers alike.
  // Neither floor lies above the lower half of its recording's windows.
  const auto lowerQuarter = [&](double Window::*power) {
    std::vector<double> values;
    for (const Window& w : windows) values.push_back(w.*power);
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 4),
                     values.end());
    return values[values.size() / 4];
  };
  const double lowestFirst = lowerQuarter(&Window::first);
  const double lowestSecond = lowerQuarter(&Window::second);
  double n1 = fallback, n2 = 0.0;
  {
    std::vector<double> second;
    for (const Window& w : windows) {
      if (w.first - n1 > 0.0) second.push_back(w.second - w.shared / (w.first - n1));
    }
    if (second.empty()) return fallback;
    std::nth_element(second.begin(), second.begin() + static_cast<long>(second.size() / 2),
                     second.end());
    n2 = std::clamp(second[second.size() / 2], 0.0, lowestSecond);
  }
  for (int iteration = 0; iteration < 30; ++iteration) {
    // Gauss-Newton on the relative misfits r = ((P1 - N1)(P2 - N2) - |C|^2) / (P1 P2).
    double h11 = 0.0, h12 = 0.0, h22 = 0.0, g1 = 0.0, g2 = 0.0;
    for (const Window& w : windows) {
      const double scale = w.first * w.second;
      if (!(scale > 0.0)) continue;
      const double r = ((w.first - n1) * (w.second - n2) - w.shared) / scale;
      const double j1 = -(w.second - n2) / scale, j2 = -(w.first - n1) / scale;
      h11 += j1 * j1;
      h12 += j1 * j2;
      h22 += j2 * j2;
      g1 += j1 * r;
      g2 += j2 * r;
    }
    const double determinant = h11 * h22 - h12 * h12;
    // Columns this nearly alike cannot tell the two floors apart.
    if (!(determinant > 1e-4 * h11 * h22)) return fallback;
    const double step1 = -(h22 * g1 - h12 * g2) / determinant;
    const double step2 = -(h11 * g2 - h12 * g1) / determinant;
    n1 += step1;
    n2 += step2;
    if (!(n1 >= 0.0 && n1 < lowestFirst && n2 >= 0.0 && n2 < lowestSecond)) return fallback;
    if (std::fabs(step1) <= 1e-9 * lowestFirst && std::fabs(step2) <= 1e-9 * lowestSecond) break;
  }
  return n1;
}

}  // namespace kestrav
