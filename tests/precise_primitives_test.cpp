// The precise estimate's primitives against direct DFT sums in long double over the same frames,
// on layouts of one and of several blocks, with margins that the segments can and cannot supply.
// Another implementation of the primitives (a device one) joins the table of implementations.
#include "tdc/precise_primitives.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

#include "tdc/precise_maps.hpp"

namespace kestrav {
namespace {

using Wide = std::complex<long double>;

struct Segments {
  std::vector<short2> first;
  std::vector<short2> secondStore;  // before + n + after samples
  int before = 0;
  int after = 0;
  PreciseSegments view() const {
    return {first.data(), secondStore.data() + before, before, after};
  }
};

Segments randomSegments(int n, int before, int after, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> value(-20000, 20000);
  Segments s;
  s.before = before;
  s.after = after;
  for (int i = 0; i < n; ++i) s.first.push_back(short2{short(value(random)), short(value(random))});
  for (int i = 0; i < before + n + after; ++i) {
    s.secondStore.push_back(short2{short(value(random)), short(value(random))});
  }
  return s;
}

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

std::vector<Wide> frame(const Segments& s, const PreciseLayout& layout, int block, double cycles,
                        bool firstSegment, FrameShape shape) {
  std::vector<Wide> values(static_cast<std::size_t>(layout.frameLength));
  for (int p = 0; p < layout.frameLength; ++p) {
    const double2 v = firstSegment ? firstFrameValue(s.first.data(), layout, block, p)
                                   : secondFrameValue(s.view().second, s.before, s.after, layout,
                                                      block, p, cycles);
    const double w = shape == FrameShape::Windowed ? blockWindow(layout, p) : 1.0;
    values[p] = wide(v) * static_cast<long double>(w);
  }
  return values;
}

std::vector<Wide> referenceSpectrum(const Segments& s, const PreciseLayout& layout, double cycles,
                                    FrameShape shape) {
  std::vector<Wide> sum(static_cast<std::size_t>(layout.frameLength));
  for (int b = 0; b < layout.blockCount; ++b) {
    const auto x1 = directTransform(frame(s, layout, b, cycles, true, shape), -1);
    const auto x2 = directTransform(frame(s, layout, b, cycles, false, shape), -1);
    for (std::size_t k = 0; k < sum.size(); ++k) sum[k] += std::conj(x1[k]) * x2[k];
  }
  return sum;
}

std::vector<Wide> referenceRuns(const Segments& s, const PreciseLayout& layout, double cycles,
                                double delay, const std::vector<double>& rootWeight) {
  std::vector<Wide> runs(static_cast<std::size_t>(layout.runCount));
  const long double scale = 1.0L / (static_cast<long double>(layout.frameLength) * layout.frameLength);
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

// Largest difference over the largest reference magnitude.
double relativeError(const std::vector<double2>& got, const std::vector<Wide>& want) {
  long double largest = 0, difference = 0;
  for (std::size_t i = 0; i < want.size(); ++i) {
    largest = std::max(largest, std::abs(want[i]));
    difference = std::max(difference, std::abs(wide(got[i]) - want[i]));
  }
  EXPECT_GT(largest, 0.0L) << "an all-zero reference proves nothing";
  return static_cast<double>(difference / largest);
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

struct Implementation {
  const char* name;
  std::function<std::unique_ptr<PrecisePrimitives>()> make;
};
const Implementation implementations[] = {{"host", makeHostPrecisePrimitives}};

TEST(PrecisePrimitives, CrossSpectraMatchDirectSums) {
  for (const Implementation& implementation : implementations) {
    const auto primitives = implementation.make();
    for (const LayoutCase& c : layoutCases) {
      const PreciseLayout layout = planPreciseLayout(c.samples, c.longestFrame);
      const Segments s = randomSegments(c.samples, c.before, c.after, 7);
      for (const FrameShape shape : {FrameShape::Margined, FrameShape::Windowed}) {
        std::vector<double2> got(static_cast<std::size_t>(layout.frameLength));
        primitives->crossSpectrum(s.view(), layout, 0.0123, shape, got);
        EXPECT_LT(relativeError(got, referenceSpectrum(s, layout, 0.0123, shape)), 1e-13)
            << implementation.name << ": " << c.name;
      }
    }
  }
}

TEST(PrecisePrimitives, DelayedProductRunsMatchDirectSums) {
  for (const Implementation& implementation : implementations) {
    const auto primitives = implementation.make();
    for (const LayoutCase& c : layoutCases) {
      const PreciseLayout layout = planPreciseLayout(c.samples, c.longestFrame);
      const Segments s = randomSegments(c.samples, c.before, c.after, 8);
      std::vector<double> rootWeight(static_cast<std::size_t>(layout.frameLength));
      for (int k = 0; k < layout.frameLength; ++k) {
        rootWeight[k] = std::fabs(signedBinFrequency(k, layout.frameLength)) < 0.3 ? 1.0 : 0.25;
      }
      std::vector<double2> got(static_cast<std::size_t>(layout.runCount));
      primitives->delayedProductRuns(s.view(), layout, -0.004, 0.37, rootWeight, got);
      EXPECT_LT(relativeError(got, referenceRuns(s, layout, -0.004, 0.37, rootWeight)), 1e-12)
          << implementation.name << ": " << c.name;
    }
  }
}

// Frames tile the first segment: every sample sits in exactly one block position, and every
// frame position lands in a run.
TEST(PreciseLayout, BlocksTileTheSegmentAndRunsCoverEveryFrame) {
  for (const int n : {1, 255, 256, 4096, 65408, 65409, 262144, 4194304}) {
    const PreciseLayout layout = planPreciseLayout(n);
    EXPECT_GE(static_cast<long long>(layout.blockCount) * layout.blockLength, n) << n;
    EXPECT_LT(static_cast<long long>(layout.blockCount - 1) * layout.blockLength, n) << n;
    EXPECT_LE(layout.blockLength + 2 * layout.margin, layout.frameLength) << n;
    EXPECT_EQ(layout.blockLength % layout.runLength, 0) << n;
    EXPECT_EQ(runIndex(layout, 0, 0), 0) << n;
    EXPECT_EQ(runIndex(layout, layout.blockCount - 1, layout.frameLength - 1),
              layout.runCount - 1)
        << n;
  }
}

TEST(PreciseMaps, TaperEasesBothEndsSymmetrically) {
  const PreciseLayout layout = planPreciseLayout(8192);
  ASSERT_EQ(layout.taperLength, 256);
  for (int i = 0; i < layout.taperLength; ++i) {
    EXPECT_DOUBLE_EQ(firstTaper(i, layout), firstTaper(8191 - i, layout)) << i;
    EXPECT_GT(firstTaper(i + 1, layout), firstTaper(i, layout)) << i;
    // Raised cosine: a sample and its mirror about the taper's middle sum to one.
    EXPECT_NEAR(firstTaper(i, layout) + firstTaper(layout.taperLength - 1 - i, layout), 1.0,
                1e-15);
  }
  EXPECT_EQ(firstTaper(layout.taperLength, layout), 1.0);
  EXPECT_EQ(firstTaper(4096, layout), 1.0);
}

}  // namespace
}  // namespace kestrav
