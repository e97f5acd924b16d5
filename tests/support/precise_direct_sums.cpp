#include "support/precise_direct_sums.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "stages/precise/precise_maps.hpp"

namespace kestrav::testing {
namespace {

Wide wide(double2 v) { return {v.x, v.y}; }

// The forward DFT (sign -1) or the unnormalised inverse (sign +1), summed directly with the
// n roots of unity.
std::vector<Wide> directTransform(const std::vector<Wide>& x, int sign) {
  const auto n = x.size();
  std::vector<Wide> roots(n);
  for (std::size_t j = 0; j < n; ++j) {
    const long double angle =
        sign * 2.0L * std::numbers::pi_v<long double> * static_cast<long double>(j) / n;
    roots[j] = Wide(std::cos(angle), std::sin(angle));
  }
  std::vector<Wide> out(n);
  for (std::size_t k = 0; k < n; ++k) {
    Wide sum = 0;
    for (std::size_t p = 0; p < n; ++p) sum += x[p] * roots[(k * p) % n];
    out[k] = sum;
  }
  return out;
}

std::vector<Wide> frame(const TestSegments& s, const PreciseLayout& layout, int block,
                        double cycles, bool firstSegment, FrameShape shape) {
  std::vector<Wide> values(static_cast<std::size_t>(layout.frameLength));
  for (int p = 0; p < layout.frameLength; ++p) {
    const double2 v = firstSegment ? firstFrameValue(s.first.data(), layout, block, p)
                                   : secondFrameValue(s.secondAtLag(), s.before, s.after, layout,
                                                      block, p, cycles);
    const double w = shape == FrameShape::Windowed ? blockWindow(layout, p) : 1.0;
    values[p] = wide(v) * static_cast<long double>(w);
  }
  return values;
}

struct LayoutCase {
  const char* name;
  int samples;
  int longestFrame;
  int before, after;  // margins the second segment offers
};

const LayoutCase layoutCases[] = {
    {"one block, full margins", 300, 65536, 64, 64},
    {"one block, no margins", 300, 65536, 0, 0},
    {"three blocks, full margins", 700, 256, 100, 90},
    {"three blocks, short margins", 650, 256, 5, 17},
    {"four blocks, the last one short", 385, 256, 64, 64},
};

}  // namespace

TestSegments randomSegments(int n, int before, int after, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> value(-20000, 20000);
  TestSegments s;
  s.before = before;
  s.after = after;
  for (int i = 0; i < n; ++i) s.first.push_back(short2{short(value(random)), short(value(random))});
  for (int i = 0; i < before + n + after; ++i) {
    s.secondStore.push_back(short2{short(value(random)), short(value(random))});
  }
  return s;
}

std::vector<Wide> directCrossSpectrum(const TestSegments& s, const PreciseLayout& layout,
                                      double cycles, FrameShape shape) {
  std::vector<Wide> sum(static_cast<std::size_t>(layout.frameLength));
  for (int b = 0; b < layout.blockCount; ++b) {
    const auto x1 = directTransform(frame(s, layout, b, cycles, true, shape), -1);
    const auto x2 = directTransform(frame(s, layout, b, cycles, false, shape), -1);
    for (std::size_t k = 0; k < sum.size(); ++k) sum[k] += std::conj(x1[k]) * x2[k];
  }
  return sum;
}

std::vector<Wide> directProductRuns(const TestSegments& s, const PreciseLayout& layout,
                                    double cycles, double delay,
                                    const std::vector<double>& rootWeight) {
  std::vector<Wide> runs(static_cast<std::size_t>(layout.runCount));
  const long double scale =
      1.0L / (static_cast<long double>(layout.frameLength) * layout.frameLength);
  for (int b = 0; b < layout.blockCount; ++b) {
    auto x1 = directTransform(frame(s, layout, b, cycles, true, FrameShape::Margined), -1);
    auto x2 = directTransform(frame(s, layout, b, cycles, false, FrameShape::Margined), -1);
    for (int k = 0; k < layout.frameLength; ++k) {
      const long double f = signedBinFrequency(k, layout.frameLength);
      const long double angle = 2.0L * std::numbers::pi_v<long double> * f * delay;
      x1[k] *= static_cast<long double>(rootWeight[k]);
      x2[k] *= static_cast<long double>(rootWeight[k]) * Wide(std::cos(angle), std::sin(angle));
    }
    const auto y1 = directTransform(x1, +1);
    const auto y2 = directTransform(x2, +1);
    for (int p = 0; p < layout.frameLength; ++p) {
      runs[runIndex(layout, b, p)] += std::conj(y1[p]) * y2[p] * scale;
    }
  }
  return runs;
}

double relativeError(const std::vector<double2>& got, const std::vector<Wide>& want) {
  long double largest = 0, difference = 0;
  for (std::size_t i = 0; i < want.size(); ++i) {
    largest = std::max(largest, std::abs(want[i]));
    difference = std::max(difference, std::abs(wide(got[i]) - want[i]));
  }
  EXPECT_GT(largest, 0.0L) << "an all-zero reference proves nothing";
  return static_cast<double>(difference / largest);
}

void expectCrossSpectraMatchDirectSums(PrecisePrimitives& primitives, const std::string& name) {
  for (const LayoutCase& c : layoutCases) {
    const PreciseLayout layout = planPreciseLayout(c.samples, c.longestFrame);
    const TestSegments s = randomSegments(c.samples, c.before, c.after, 7);
    for (const FrameShape shape : {FrameShape::Margined, FrameShape::Windowed}) {
      std::vector<double2> got(static_cast<std::size_t>(layout.frameLength));
      primitives.crossSpectrum(s.view(), layout, 0.0123, shape, got);
      EXPECT_LT(relativeError(got, directCrossSpectrum(s, layout, 0.0123, shape)), 1e-13)
          << name << ": " << c.name;
    }
  }
}

void expectProductRunsMatchDirectSums(PrecisePrimitives& primitives, const std::string& name) {
  for (const LayoutCase& c : layoutCases) {
    const PreciseLayout layout = planPreciseLayout(c.samples, c.longestFrame);
    const TestSegments s = randomSegments(c.samples, c.before, c.after, 8);
    std::vector<double> rootWeight(static_cast<std::size_t>(layout.frameLength));
    for (int k = 0; k < layout.frameLength; ++k) {
      rootWeight[k] = std::fabs(signedBinFrequency(k, layout.frameLength)) < 0.3 ? 1.0 : 0.25;
    }
    std::vector<double2> got(static_cast<std::size_t>(layout.runCount));
    primitives.delayedProductRuns(s.view(), layout, -0.004, 0.37, rootWeight, got);
    EXPECT_LT(relativeError(got, directProductRuns(s, layout, -0.004, 0.37, rootWeight)), 1e-12)
        << name << ": " << c.name;
  }
}

}  // namespace kestrav::testing
