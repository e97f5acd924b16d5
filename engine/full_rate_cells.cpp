#include "engine/full_rate_cells.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kestrav {

FullRateCell fullRateCell(const ProbeContext& context, int lag, double frequency,
                          const SegmentMoments& first) {
  const std::int64_t n = context.sampleCount;
  return withPair(context.pair, [&](const auto* a, const auto* b) {
    const SegmentMoments second = momentsOf(b + lag, n);
    FullRateCell cell;
    cell.secondMean = second.mean;
    cell.strength =
        std::abs(crossCell(a, b + lag, n, frequency / context.sampleRate, first.mean, second.mean));
    const double e1 = first.energy - static_cast<double>(n) * std::norm(first.mean);
    const double e2 = second.energy - static_cast<double>(n) * std::norm(second.mean);
    cell.correlation = e1 > 0.0 && e2 > 0.0 ? cell.strength / std::sqrt(e1 * e2) : 0.0;
    return cell;
  });
}

SegmentMoments firstMoments(const ProbeContext& context) {
  return withPair(context.pair,
                  [&](const auto* a, const auto*) { return momentsOf(a, context.sampleCount); });
}

double binSpacing(const CoarseSizes& sizes) {
  return sizes.fftLength > 0 ? sizes.decimatedRate / static_cast<double>(sizes.fftLength) : 0.0;
}

double cellDeviation(const ProbeContext& context, int lag, double strength) {
  const double productEnergy = withPair(context.pair, [&](const auto* a, const auto* b) {
    return productPower(a, b + lag, context.sampleCount);
  });
  return std::sqrt(std::max(0.0, productEnergy - strength * strength / context.sampleCount));
}

std::vector<std::size_t> strongestFirst(std::span<const double> strength) {
  std::vector<std::size_t> order(strength.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t x, std::size_t y) { return strength[x] > strength[y]; });
  return order;
}

}  // namespace kestrav
