#pragma once
// The chirp-z transform: N points x[n] evaluated at M equally spaced angular frequencies,
//   out[k] = sum_{n<N} x[n] exp(-j n (start - k step)),  k = 0 .. M-1.
// A negative step makes the frequencies rise with k; start 0, step -2 pi / N, M = N is the
// N-point forward DFT.
#include <cstdint>

#include "platform/host/vector_types.hpp"

namespace kestrav {

using CztFunction = void (*)(const double2* x, int N, double2* out, int M, double step,
                             double start);

// The FFT length of Bluestein's method: the smallest power of two not below N + M - 1.
std::int64_t cztFftLength(int N, int M);

}  // namespace kestrav
