#pragma once
// Seeded inputs for the chirp-z transforms and the error measure their checks share.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "platform/host/vector_types.hpp"

namespace kestrav::testing {

inline std::vector<double2> randomPoints(int count, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double2> points(static_cast<std::size_t>(count));
  for (double2& point : points) point = double2{uniform(random), uniform(random)};
  return points;
}

// The largest deviation, relative to sum |x[n]|, the bound of every output's magnitude.
inline double relativeError(const std::vector<double2>& got, const std::vector<double2>& want,
                            const std::vector<double2>& x) {
  double scale = 0.0;
  for (const double2& point : x) scale += std::hypot(point.x, point.y);
  double largest = 0.0;
  for (std::size_t k = 0; k < want.size(); ++k) {
    largest = std::max(largest, std::hypot(got[k].x - want[k].x, got[k].y - want[k].y));
  }
  return largest / scale;
}

}  // namespace kestrav::testing
