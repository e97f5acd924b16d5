#include "stages/precise/run_profile.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "stages/precise/precise_constants.hpp"
#include "stages/precise/precise_maps.hpp"

namespace kestrav {
namespace {}  // namespace

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

}  // namespace kestrav
