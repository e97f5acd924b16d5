#pragma once
// The double-precision element maps of the fine refinement, written once for the host loops and
// the device kernels. Each map fixes where its products are rounded: a fused multiply-add appears
// only where written as fma, and every other product and sum is rounded on its own.
#include <cmath>
#include <cstdint>

#include "platform/host/host_device.hpp"
#include "platform/host/vector_types.hpp"

namespace kestrav {

// A stored sample as a complex double, without scaling: 1000 becomes 1000.0. Every int16 and
// every float value is a double exactly.
KESTRAV_HD double2 toDouble2(short2 sample) {
  return double2{static_cast<double>(sample.x), static_cast<double>(sample.y)};
}
KESTRAV_HD double2 toDouble2(float2 sample) {
  return double2{static_cast<double>(sample.x), static_cast<double>(sample.y)};
}

// Sample i (short2 or float2) rotated by e^{j theta}, theta = (i + 1) w: the phase uses i + 1 so
// that element 0 already carries one step. With w = -2 pi f / fs this shifts a recording down by
// f hertz.
template <class Sample>
KESTRAV_HD double2 shiftFrequency(Sample sample, int i, double w) {
  const double theta = static_cast<double>(i + 1) * w;
  const double c = ::cos(theta);
  const double s = ::sin(theta);
  const double2 v = toDouble2(sample);
  return double2{c * v.x - s * v.y, ::fma(s, v.x, c * v.y)};
}

// Where input index i lands in frame layout: each run of `half` inputs fills the first half of
// a frame of 2 half elements; the second halves are never written.
KESTRAV_HD std::int64_t frameIndex(std::int64_t i, int half) {
  const std::int64_t r = i % half;
  return 2 * (i - r) + r;
}

// conj(a) b: the lag product, conjugating the first recording.
KESTRAV_HD double2 conjugateProduct(double2 a, double2 b) {
  return double2{::fma(a.x, b.x, a.y * b.y), a.x * b.y - a.y * b.x};
}
// With a stored sample (short2 or float2) as the first factor.
template <class Sample>
KESTRAV_HD double2 conjugateProduct(Sample a, double2 b) {
  return conjugateProduct(toDouble2(a), b);
}

// True division, not multiplication by 1 / d.
KESTRAV_HD double2 divide(double2 a, double d) { return double2{a.x / d, a.y / d}; }

// The squared magnitude (power) in the real part; the imaginary part is exactly 0.
KESTRAV_HD double2 power(double2 a) { return double2{::fma(a.x, a.x, a.y * a.y), 0.0}; }

// out[i] += in[first] + in[first + stride] + ... (terms of them), added one after another onto
// what out[i] holds. terms < 1 writes nothing.
KESTRAV_HD void accumulateStrided(const double2* in, std::int64_t first, std::int64_t stride,
                                  double2* out, std::int64_t i, int terms) {
  if (terms < 1) return;
  double2 sum = out[i];
  for (int k = 0; k < terms; ++k) {
    const double2 term = in[first + k * stride];
    sum.x = sum.x + term.x;
    sum.y = sum.y + term.y;
  }
  out[i] = sum;
}

// Sum across rows: out[i] += in[i] + in[i + stride] + ... + in[i + (terms - 1) stride].
KESTRAV_HD void accumulateRows(const double2* in, double2* out, std::int64_t i, int terms,
                               std::int64_t stride) {
  accumulateStrided(in, i, stride, out, i, terms);
}

// Sum of a run: out[i] += in[i terms] + in[i terms + 1] + ... + in[i terms + terms - 1].
KESTRAV_HD void accumulateRun(const double2* in, double2* out, std::int64_t i, int terms) {
  accumulateStrided(in, i * terms, 1, out, i, terms);
}

}  // namespace kestrav
