#pragma once
// The single-precision element arithmetic of the coarse search, written once for the host loops
// and the device kernels. Every rounding is placed deliberately: a product or sum is rounded to
// float where it is written as a separate expression, and a fused multiply-add rounds once.
#include <cmath>

#include "gpu/host_device.hpp"
#include "gpu/vector_types.hpp"

namespace kestrav {

// Every 16-bit value is a float exactly; no scaling.
KESTRAV_HD float2 toFloat2(short2 sample) {
  return float2{static_cast<float>(sample.x), static_cast<float>(sample.y)};
}

// The lag product conj(a) * b: the first recording is conjugated.
KESTRAV_HD float2 conjugateProduct(float2 a, float2 b) {
  const float imaginaryProducts = a.y * b.y;
  const float crossFirst = a.x * b.y;
  const float crossSecond = a.y * b.x;
  return float2{::fmaf(a.x, b.x, imaginaryProducts), crossFirst - crossSecond};
}

KESTRAV_HD float2 complexAdd(float2 a, float2 b) { return float2{a.x + b.x, a.y + b.y}; }

// |v|^2 formed in double (both parts widened, one fused step) and rounded to float once more;
// the imaginary part is exactly zero.
KESTRAV_HD float2 powerOf(float2 v) {
  const double x = v.x;
  const double y = v.y;
  return float2{static_cast<float>(::fma(x, x, y * y)), 0.0f};
}

// The block size of a decimation group of n >= 1 values: the largest power of two not above n.
KESTRAV_HD int reductionBlockOf(int n) {
  int block = 1;
  while (block <= n / 2) block *= 2;
  return block;
}

// The sum of one decimation group of n >= 1 consecutive values, in the order of the device's
// block reduction: with P the largest power of two not above n, the stride starts at P and
// halves down to 1, and at each stride element t + s is added onto element t for every t < s
// with t + s < n. Float addition is not associative, so this order is part of the result.
// The group is overwritten with partial sums, as on the device.
inline float2 decimateGroup(float2* group, int n) {
  for (int stride = reductionBlockOf(n); stride > 0; stride >>= 1) {
    for (int t = 0; t < stride && t + stride < n; ++t) {
      group[t] = complexAdd(group[t], group[t + stride]);
    }
  }
  return group[0];
}

}  // namespace kestrav
