#pragma once
// The complex sample and value types shared by host and device code: short2 (one stored I/Q
// sample), float2 and double2 (real part first). With the CUDA toolkit they are the toolkit's
// own types, so host and device code see one definition; without it, layout-identical structs.
#if defined(KESTRAV_CUDA_VECTOR_TYPES) || defined(__CUDACC__)
#include <vector_types.h>
#else
struct alignas(4) short2 {
  short x, y;
};
struct alignas(8) float2 {
  float x, y;
};
struct alignas(16) double2 {
  double x, y;
};
#endif

static_assert(sizeof(short2) == 4 && sizeof(float2) == 8 && sizeof(double2) == 16);
