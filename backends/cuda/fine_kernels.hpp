#pragma once
// The launchers of the refinement's double-precision kernels. Plain host declarations over
// device pointers; each covers its n elements by the launch rule. Those that read the recordings
// take int16 pairs or float pairs.
#include "platform/host/vector_types.hpp"

namespace kestrav {

// out[i] = in[i] e^{j (i + 1) w}.
void BuildSignal_df(const short2* in, double2* out, int n, double w);
void BuildSignal_df(const float2* in, double2* out, int n, double w);
// The same product written in frame layout: input i to output 2 (i - r) + r, r = i mod half.
void BuildZeroDfSig_d(const short2* in, double2* out, int n, int half, double w);
void BuildZeroDfSig_d(const float2* in, double2* out, int n, int half, double w);
// The samples as doubles in frame layout, without a phase term.
void SegmentCopy_d(const short2* in, double2* out, int n, int half);
void SegmentCopy_d(const float2* in, double2* out, int n, int half);
// a[i] = conj(a[i]) b[i].
void Sig_Conj_Mul_inout_d(double2* a, const double2* b, int n);
// b[i] = conj(a[i]) b[i], a the stored samples.
void Sig_Conj_Mul_SDD(const short2* a, double2* b, int n);
void Sig_Conj_Mul_SDD(const float2* a, double2* b, int n);
// out[i] += the sum of `terms` inputs, i < n: mode 1 sums the run in[i terms ..], any other
// mode the column in[i], in[i + n], ...
void Sig_Add_d(const double2* in, double2* out, int terms, int n, int mode);
// a[i] = a[i] / d.
void Sig_Div_inout_d(double2* a, int n, double d);
// a[i] = (|a[i]|^2, 0).
void Sig_Abs_inout_d(double2* a, int n);
// out[m] = in[(half - m) mod n] / d for m < n, 0 <= half <= n: a spectrum with its bins
// reversed, scaled and centred on zero frequency (half = n / 2).
void Sig_Reverse_Centre_d(const double2* in, double2* out, int n, int half, double d);

}  // namespace kestrav
