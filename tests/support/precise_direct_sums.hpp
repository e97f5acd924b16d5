#pragma once
// The precise estimate's primitives summed directly, in long double, over the frames the element
// maps fill: each frame's transform a sum over the roots of unity, not an FFT. Every
// implementation of the primitives is checked against them on the same layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "stages/precise/precise_primitives.hpp"

namespace kestrav::testing {

using Wide = std::complex<long double>;

struct TestSegments {
  std::vector<short2> first;
  std::vector<short2> secondStore;  // before + n + after samples
  int before = 0;
  int after = 0;
  const short2* secondAtLag() const { return secondStore.data() + before; }
  PreciseSegments view() const {
    return {PointerPair<short2>{first.data(), secondAtLag()}, before, after};
  }
};

TestSegments randomSegments(int n, int before, int after, unsigned seed);

std::vector<Wide> directCrossSpectrum(const TestSegments& s, const PreciseLayout& layout,
                                      double cycles, FrameShape shape);
std::vector<Wide> directProductRuns(const TestSegments& s, const PreciseLayout& layout,
                                    double cycles, double delay,
                                    const std::vector<double>& rootWeight);

// Largest difference over the largest reference magnitude.
double relativeError(const std::vector<double2>& got, const std::vector<Wide>& want);

// Every layout case, both frame shapes, against the direct sums: within 1e-13 of the largest bin.
void expectCrossSpectraMatchDirectSums(PrecisePrimitives& primitives, const std::string& name);
// Every layout case against the direct sums, within 1e-12 of the largest run.
void expectProductRunsMatchDirectSums(PrecisePrimitives& primitives, const std::string& name);

// Largest difference over the largest magnitude of the expected values; an all-zero expectation
// fails, since it proves nothing.
inline double relativeDifference(const std::vector<double2>& got,
                                 const std::vector<double2>& want) {
  double largest = 0.0, difference = 0.0;
  for (std::size_t i = 0; i < want.size(); ++i) {
    largest = std::max(largest, std::hypot(want[i].x, want[i].y));
    difference = std::max(difference, std::hypot(got[i].x - want[i].x, got[i].y - want[i].y));
  }
  EXPECT_GT(largest, 0.0) << "an all-zero result proves nothing";
  return difference / largest;
}

}  // namespace kestrav::testing
