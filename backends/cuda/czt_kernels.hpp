#pragma once
// The launchers of the chirp-z kernels: plain host declarations over device arrays of n
// elements, each covered by the launch rule.
#include "platform/host/vector_types.hpp"

namespace kestrav {

// p[i] = exp(-j i x).
void CztInitAA(double2* p, int n, double x);
// p[i] = exp(j sign k^2 x / 2), k = i + shift.
void CztInitWW(double2* p, int n, int shift, double x, int sign);
// a[i] = a[i] b[i].
void Sig_Mul_inout(double2* a, const double2* b, int n);
// c[i] = a[i] b[i]; c shares no storage with a or b.
void Sig_Mul(const double2* a, const double2* b, double2* c, int n);

}  // namespace kestrav
