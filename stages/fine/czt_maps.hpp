#pragma once
// The element maps of Bluestein's method, written once for the host loops and the device
// kernels: the linear phase ramp, the quadratic chirp and the complex products. The order of the
// multiplications and the one fused multiply-add are fixed, so that every path rounds alike.
// Sine and cosine are the double-precision library routines, accurate for arguments of any size:
// the chirp phases grow with the square of the index.
#include <cmath>

#include "platform/host/host_device.hpp"
#include "platform/host/vector_types.hpp"

namespace kestrav {

// exp(-j i x): the phase is formed from the negated index.
KESTRAV_HD double2 cztRamp(int i, double x) {
  const double phi = static_cast<double>(-i) * x;
  return double2{::cos(phi), ::sin(phi)};
}

// exp(j sign k^2 x / 2), with k = i + shift the element's index moved by the shift (32-bit).
// The sign flips only the imaginary part, so sign -1 gives the exact conjugate of sign +1.
KESTRAV_HD double2 cztChirp(int k, double x, int sign) {
  const double kk = static_cast<double>(k);
  const double t = kk * x;
  const double u = kk * t;
  const double phi = u * 0.5;
  return double2{::cos(phi), static_cast<double>(sign) * ::sin(phi)};
}

// a b, the imaginary part a fused multiply-add onto the rounded ai br.
KESTRAV_HD double2 complexProduct(double2 a, double2 b) {
  return double2{a.x * b.x - a.y * b.y, ::fma(a.x, b.y, a.y * b.x)};
}

// a <- a b: both parts from the old a, written together.
KESTRAV_HD void multiplyInPlace(double2& a, double2 b) { a = complexProduct(a, b); }

// c <- a b, the real part stored first; c must not share storage with a or b.
KESTRAV_HD void multiplyInto(double2& c, const double2& a, const double2& b) {
  c.x = a.x * b.x - a.y * b.y;
  c.y = ::fma(a.x, b.y, a.y * b.x);
}

}  // namespace kestrav
