#include "stages/precise/channel_bend.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace kestrav {
namespace {

// Regressors of the ratio P2 / P1: the gain g + b u + c u^2, and the noise floors' share n / P1,
// with u the frequency about the band's centre. (The floors' share bends with the gain too, but
// fitting that bend as well leaves the gain's own far less sure, and it is small where the
// signal stands over the noise.)
constexpr int Terms = 4;
constexpr int CurvatureTerm = 2;
constexpr int GainTerm = 0;
using Matrix = std::array<std::array<double, Terms>, Terms>;
using Vector = std::array<double, Terms>;

// Solves a symmetric system by elimination with partial pivoting; false where it is singular.
// The inverse's diagonal term at `wanted` comes back in `inverseAt`.
bool solve(Matrix a, Vector b, Vector& x, int wanted, double& inverseAt) {
  Matrix inverse{};
  for (int i = 0; i < Terms; ++i) inverse[i][i] = 1.0;
  for (int col = 0; col < Terms; ++col) {
    int pivot = col;
    for (int r = col + 1; r < Terms; ++r) {
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    }
    if (!(std::fabs(a[pivot][col]) > 1e-300)) return false;
    std::swap(a[col], a[pivot]);
    std::swap(inverse[col], inverse[pivot]);
    std::swap(b[col], b[pivot]);
    for (int r = 0; r < Terms; ++r) {
      if (r == col) continue;
      const double f = a[r][col] / a[col][col];
      for (int c = 0; c < Terms; ++c) {
        a[r][c] -= f * a[col][c];
        inverse[r][c] -= f * inverse[col][c];
      }
      b[r] -= f * b[col];
    }
  }
  for (int i = 0; i < Terms; ++i) {
    x[i] = b[i] / a[i][i];
    for (int c = 0; c < Terms; ++c) inverse[i][c] /= a[i][i];
  }
  inverseAt = inverse[wanted][wanted];
  return std::isfinite(inverseAt) && inverseAt > 0.0;
}

struct Bin {
  double u, inverse, ratio, weight;
};

// Bins summed into one point of the fit.
constexpr int Smooth = 32;
constexpr std::size_t MinimumPoints = 24;

// The regression in one direction: `over` against `under`, both smoothed, at bins `at`.
ChannelBend fitRatio(const std::vector<Bin>& bins) {
  ChannelBend bend;
  double total = 0.0, moment = 0.0, meanInverse = 0.0;
  for (const Bin& b : bins) {
    total += b.weight;
    moment += b.weight * b.u;
    meanInverse += b.weight * b.inverse;
  }
  if (bins.size() < MinimumPoints || !(total > 0.0)) return bend;
  const double centre = moment / total;
  // The floors' share is scaled to the gain's so that the system stays well conditioned.
  meanInverse /= total;

  // Weighted least squares, then once more without the points that stray beyond five of the
  // residuals' deviations (what one recording holds alone and the excess test left).
  std::vector<char> kept(bins.size(), 1);
  Vector x{};
  double inverseAt = 0.0, residualVariance = 0.0;
  for (int pass = 0; pass < 2; ++pass) {
    Matrix normal{};
    Vector right{};
    std::size_t count = 0;
    for (std::size_t j = 0; j < bins.size(); ++j) {
      if (!kept[j]) continue;
      const Bin& b = bins[j];
      const double s = b.inverse / meanInverse, u = b.u - centre;
      const Vector r{1.0, u, u * u, s};
      for (int p = 0; p < Terms; ++p) {
        right[p] += b.weight * r[p] * b.ratio;
        for (int q = 0; q < Terms; ++q) normal[p][q] += b.weight * r[p] * r[q];
      }
      ++count;
    }
    if (count < MinimumPoints || !solve(normal, right, x, CurvatureTerm, inverseAt)) return bend;
    double squares = 0.0;
    std::vector<double> residuals(bins.size(), 0.0);
    for (std::size_t j = 0; j < bins.size(); ++j) {
      const Bin& b = bins[j];
      const double s = b.inverse / meanInverse, u = b.u - centre;
      const double fit = x[0] + x[1] * u + x[2] * u * u + s * x[3];
      residuals[j] = b.ratio - fit;
      if (kept[j]) squares += b.weight * residuals[j] * residuals[j];
    }
    // Each residual's variance is residualVariance over its point's weight.
    residualVariance = squares / static_cast<double>(count - Terms);
    const double deviation = std::sqrt(residualVariance);
    for (std::size_t j = 0; j < bins.size(); ++j) {
      kept[j] = std::fabs(residuals[j]) * std::sqrt(bins[j].weight) <= 5.0 * deviation;
    }
  }
  const double gain = x[GainTerm];
  if (!(gain > 0.0)) return bend;
  bend.measured = true;
  bend.curvature = x[CurvatureTerm] / gain;
  bend.sigma = std::sqrt(residualVariance * inverseAt) / gain;
  return bend;
}

}  // namespace

ChannelBend measureChannelBend(std::span<const double2> firstPower,
                               std::span<const double2> secondPower, int shiftBins,
                               std::span<const double> rootWeight, std::span<const double> excess,
                               std::span<const double> binRates) {
  const int length = static_cast<int>(firstPower.size());
  if (length < 4 * Smooth || secondPower.size() != firstPower.size()) return {};
  const auto wrap = [&](int k) {
    return static_cast<std::size_t>(((k % length) + length) % length);
  };
  // What one recording holds alone leaks into its neighbours: a window near excess is left out.
  std::vector<char> clear(firstPower.size(), 1);
  for (int k = 0; k < static_cast<int>(excess.size()) && !excess.empty(); ++k) {
    if (excess[static_cast<std::size_t>(k)] == 1.0) continue;
    for (int d = -Smooth; d <= Smooth; ++d) clear[wrap(k + d)] = 0;
  }
  const auto usable = [&](int k) {
    const std::size_t i = wrap(k);
    return rootWeight[i] > 0.0 && clear[i];
  };
  // Each recording's power summed over Smooth bins, at every Smooth-th bin whose whole window
  // counts: a ratio of single bins carries the denominator's own noise into its mean (more at
  // the band's edges, where it bends the ratio as an echo would); summed, far less.
  std::vector<Bin> forward, backward;
  for (int k = 0; k + Smooth <= length; k += Smooth) {
    double p1 = 0.0, p2 = 0.0, w = 0.0;
    bool whole = true;
    for (int d = 0; d < Smooth && whole; ++d) {
      whole = usable(k + d);
      p1 += firstPower[wrap(k + d)].x;
      p2 += secondPower[wrap(k + d + shiftBins)].x;
      w += rootWeight[wrap(k + d)] * rootWeight[wrap(k + d)];
    }
    if (!whole || !(p1 > 0.0) || !(p2 > 0.0)) continue;
    const double u = binRates[wrap(k + Smooth / 2)];
    forward.push_back({u, 1.0 / p1, p2 / p1, w / Smooth});
    backward.push_back({u, 1.0 / p2, p1 / p2, w / Smooth});
  }
  // What is left of that bias goes the same way in both directions, while the channel's bend
  // changes sign: half the difference keeps the bend alone.
  const ChannelBend there = fitRatio(forward);
  const ChannelBend back = fitRatio(backward);
  ChannelBend bend;
  if (!there.measured || !back.measured) return bend;
  bend.measured = true;
  bend.curvature = 0.5 * (there.curvature - back.curvature);
  bend.sigma = std::max(there.sigma, back.sigma);
  return bend;
}

}  // namespace kestrav
