#include "stages/precise/echo_path.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "stages/precise/peak_fit.hpp"
#include "stages/precise/precise_constants.hpp"
#include "stages/precise/precise_maps.hpp"

namespace kestrav {
namespace {

constexpr double Step = 0.25;  // samples between correlation points
// An echo must stand this far above the median of the correlation's residual power, and hold
// at least this share of the main path's power, to be modelled.
constexpr double AboveNoise = 40.0;
constexpr double LeastShare = 0.01;

// sum_k terms[k] e^{j rates[k] x} on the grid from + i step, i < count.
std::vector<double2> onGrid(std::span<const double2> terms, std::span<const double> rates,
                            double from, double step, int count) {
  std::vector<double2> current(terms.size()), turn(terms.size());
  for (std::size_t k = 0; k < terms.size(); ++k) {
    current[k] = complexProduct(terms[k], unitPhasor(rates[k] * from / FullTurn));
    turn[k] = unitPhasor(rates[k] * step / FullTurn);
  }
  std::vector<double2> values(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    double2 sum{0.0, 0.0};
    for (std::size_t k = 0; k < terms.size(); ++k) {
      sum = double2{sum.x + current[k].x, sum.y + current[k].y};
      current[k] = complexProduct(current[k], turn[k]);
    }
    values[static_cast<std::size_t>(i)] = sum;
  }
  return values;
}

double2 valueAt(std::span<const double2> terms, std::span<const double> rates, double x) {
  return onGrid(terms, rates, x, 0.0, 1)[0];
}

double2 divide(double2 a, double2 b) {
  const double d = b.x * b.x + b.y * b.y;
  return double2{(a.x * b.x + a.y * b.y) / d, (a.y * b.x - a.x * b.y) / d};
}

}  // namespace

EchoPath findEcho(std::span<const double2> weighted, std::span<const double2> shape,
                  std::span<const double> rates, double main, double lobe, double reach) {
  EchoPath echo;
  // Bins without weight add nothing to any correlation.
  std::vector<double2> kept, keptShape;
  std::vector<double> keptRates;
  for (std::size_t k = 0; k < weighted.size(); ++k) {
    const bool empty = shape[k].x == 0.0 && shape[k].y == 0.0;
    if (empty && weighted[k].x == 0.0 && weighted[k].y == 0.0) continue;
    kept.push_back(weighted[k]);
    keptShape.push_back(shape[k]);
    keptRates.push_back(rates[k]);
  }
  weighted = kept;
  shape = keptShape;
  rates = keptRates;
  const auto count = static_cast<int>(2.0 * reach / Step) + 1;
  const double from = main - reach;
  const std::vector<double2> correlation = onGrid(weighted, rates, from, Step, count);
  // The main path's own correlation: its peak value times the one-path shape about it.
  const std::vector<double2> sidelobes = onGrid(shape, rates, -reach, Step, count);
  const double2 peak = valueAt(weighted, rates, main);
  const double2 shapePeak = valueAt(shape, rates, 0.0);
  if (!(shapePeak.x > 0.0)) return echo;
  const double2 scale = divide(peak, shapePeak);
  std::vector<double> residual(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const auto at = static_cast<std::size_t>(i);
    const double2 own = complexProduct(scale, sidelobes[at]);
    const double2 rest{correlation[at].x - own.x, correlation[at].y - own.y};
    residual[at] = rest.x * rest.x + rest.y * rest.y;
  }
  std::vector<double> outside;
  int best = -1;
  for (int i = 1; i + 1 < count; ++i) {
    const double offset = from + i * Step - main;
    if (std::fabs(offset) < 1.5 * lobe) continue;
    const auto at = static_cast<std::size_t>(i);
    outside.push_back(residual[at]);
    const bool local = residual[at] >= residual[at - 1] && residual[at] >= residual[at + 1];
    if (local && (best < 0 || residual[at] > residual[static_cast<std::size_t>(best)])) best = i;
  }
  if (best < 0 || outside.empty()) return echo;
  std::nth_element(outside.begin(), outside.begin() + outside.size() / 2, outside.end());
  const double floor = outside[outside.size() / 2];
  const double mainPower = peak.x * peak.x + peak.y * peak.y;
  const double strongest = residual[static_cast<std::size_t>(best)];
  if (!(strongest > AboveNoise * floor) || !(strongest > LeastShare * mainPower)) return echo;
  // Its own peak, with the main path modelled in turn.
  const PhasorPeak refined = maximizePhasorSum(weighted, rates, from + best * Step, 0.25, 1e-8);
  echo.delaySamples = refined.position;
  echo.ratio = divide(valueAt(weighted, rates, echo.delaySamples), peak);
  const double share = echo.ratio.x * echo.ratio.x + echo.ratio.y * echo.ratio.y;
  echo.found = std::fabs(echo.delaySamples - main) >= 1.5 * lobe && share < 4.0;
  return echo;
}

double lobeCurvatureRatio(std::span<const double2> weighted, std::span<const double> shape,
                          std::span<const double> rates, double main) {
  double2 a{0.0, 0.0}, first{0.0, 0.0}, second{0.0, 0.0};
  double total = 0.0, moment1 = 0.0, moment2 = 0.0;
  for (std::size_t k = 0; k < weighted.size(); ++k) {
    const double2 v = complexProduct(weighted[k], unitPhasor(rates[k] * main / FullTurn));
    const double r = rates[k];
    a = double2{a.x + v.x, a.y + v.y};
    first = double2{first.x - r * v.y, first.y + r * v.x};
    second = double2{second.x - r * r * v.x, second.y - r * r * v.y};
    total += shape[k];
    moment1 += shape[k] * r;
    moment2 += shape[k] * r * r;
  }
  const double power = a.x * a.x + a.y * a.y;
  if (!(power > 0.0) || !(total > 0.0)) return 1.0;
  const double measured =
      2.0 * (first.x * first.x + first.y * first.y + a.x * second.x + a.y * second.y) / power;
  const double centre = moment1 / total;
  const double expected = -2.0 * (moment2 / total - centre * centre);
  return expected < 0.0 ? measured / expected : 1.0;
}

TwoPaths separatePaths(std::span<const double2> weighted, std::span<const double2> shape,
                       std::span<const double> rates, double main, double echo) {
  constexpr int Passes = 4;
  std::vector<double2> terms(weighted.size());
  double2 shapeSum{0.0, 0.0};
  for (const double2 s : shape) shapeSum = double2{shapeSum.x + s.x, shapeSum.y + s.y};
  TwoPaths paths{main, echo, {0.0, 0.0}};
  if (!(shapeSum.x > 0.0)) return paths;
  // The amplitude of the path at `at` once the path at `other`, of amplitude `otherAmplitude`,
  // is taken out; the terms hold what remains.
  const auto without = [&](double other, double2 otherAmplitude) {
    for (std::size_t k = 0; k < weighted.size(); ++k) {
      const double2 model = complexProduct(complexProduct(otherAmplitude, shape[k]),
                                           unitPhasor(-rates[k] * other / FullTurn));
      terms[k] = double2{weighted[k].x - model.x, weighted[k].y - model.y};
    }
  };
  const auto amplitudeAt = [&](double at) { return divide(valueAt(terms, rates, at), shapeSum); };
  double2 echoAmplitude = divide(valueAt(weighted, rates, echo), shapeSum);
  double2 mainAmplitude{0.0, 0.0};
  for (int pass = 0; pass < Passes; ++pass) {
    without(paths.echo, echoAmplitude);
    paths.main = maximizePhasorSum(terms, rates, paths.main, 0.25, 1e-10).position;
    mainAmplitude = amplitudeAt(paths.main);
    without(paths.main, mainAmplitude);
    paths.echo = maximizePhasorSum(terms, rates, paths.echo, 0.25, 1e-10).position;
    echoAmplitude = amplitudeAt(paths.echo);
  }
  if (mainAmplitude.x != 0.0 || mainAmplitude.y != 0.0)
    paths.ratio = divide(echoAmplitude, mainAmplitude);
  return paths;
}

double jackknifedMainDelay(std::span<const double2> weighted, std::span<const double2> shape,
                           std::span<const double> rates, const TwoPaths& paths, int chunks) {
  // The weighted bins in order of frequency, cut into runs of equal count.
  std::vector<std::size_t> carried;
  for (std::size_t k = 0; k < weighted.size(); ++k) {
    if (shape[k].x != 0.0 || weighted[k].x != 0.0 || weighted[k].y != 0.0) carried.push_back(k);
  }
  if (chunks < 2 || carried.size() < static_cast<std::size_t>(64 * chunks)) return 0.0;
  std::sort(carried.begin(), carried.end(),
            [&](std::size_t a, std::size_t b) { return rates[a] < rates[b]; });
  std::vector<double2> leftWeighted(weighted.begin(), weighted.end());
  std::vector<double2> leftShape(shape.begin(), shape.end());
  std::vector<double> delays;
  for (int c = 0; c < chunks; ++c) {
    const std::size_t from = carried.size() * static_cast<std::size_t>(c) / chunks;
    const std::size_t to = carried.size() * static_cast<std::size_t>(c + 1) / chunks;
    for (std::size_t i = from; i < to; ++i) {
      leftWeighted[carried[i]] = double2{0.0, 0.0};
      leftShape[carried[i]] = double2{0.0, 0.0};
    }
    delays.push_back(separatePaths(leftWeighted, leftShape, rates, paths.main, paths.echo).main);
    for (std::size_t i = from; i < to; ++i) {
      leftWeighted[carried[i]] = weighted[carried[i]];
      leftShape[carried[i]] = shape[carried[i]];
    }
  }
  double mean = 0.0;
  for (const double d : delays) mean += d / chunks;
  double spread = 0.0;
  for (const double d : delays) spread += (d - mean) * (d - mean);
  return std::sqrt(spread * (chunks - 1) / chunks);
}

}  // namespace kestrav
