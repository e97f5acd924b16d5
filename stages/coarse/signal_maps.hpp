#pragma once
// The single-precision element arithmetic of the coarse search, written once for the host loops
// and the device kernels. Every rounding is placed deliberately: a product or sum is rounded to
// float where it is written as a separate expression, and a fused multiply-add rounds once.
#include <cmath>

#include "platform/host/host_device.hpp"
#include "platform/host/vector_types.hpp"

namespace kestrav {

// Every 16-bit value is a float exactly; no scaling.
KESTRAV_HD float2 toFloat2(short2 sample) {
  return float2{static_cast<float>(sample.x), static_cast<float>(sample.y)};
}

// Recordings of float samples need no conversion.
KESTRAV_HD float2 toFloat2(float2 sample) { return sample; }

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

// Column j of thread t's part of a decimation group: value u = t + threads j with value u + P
// folded onto it when u + P < n (the first step of the reduction). u + P < 2P stays in 32 bits.
template <class Values>
KESTRAV_HD float2 foldedColumn(const Values& value, int n, int P, int threads, int t, int j) {
  const int u = t + threads * j;
  float2 column = value(u);
  if (u + P < n) column = complexAdd(column, value(u + P));
  return column;
}

// What thread t of a block of `threads` threads holds of a decimation group of n values once the
// reduction has reached the stride `threads`: threads is a power of two not above P =
// reductionBlockOf(n), so every stride from P down to `threads` pairs values of the same thread,
// the columns u = t + threads j. Those strides halve a tree over j, which is the pairwise sum of
// the columns taken in bit-reversed order of j; the strides below `threads` are the block's.
// value(u) gives value u of the group. With threads = P this is the first fold alone.
template <class Values>
KESTRAV_HD float2 threadPartOfGroup(const Values& value, int n, int P, int threads, int t) {
  const int columns = P / threads;
  if (columns == 1) return foldedColumn(value, n, P, threads, t, 0);
  int bits = 0;
  while ((1 << bits) < columns) ++bits;
  float2 pending[32];  // partial sums of completed subtrees, at most bits + 1 <= 31 of them
  int depth = 0;
  for (int k = 0; k < columns; ++k) {
    int j = 0;
    for (int b = 0; b < bits; ++b) j |= ((k >> b) & 1) << (bits - 1 - b);
    float2 sum = foldedColumn(value, n, P, threads, t, j);
    for (int done = k + 1; (done & 1) == 0; done >>= 1) sum = complexAdd(pending[--depth], sum);
    pending[depth++] = sum;
  }
  return pending[0];
}

}  // namespace kestrav
