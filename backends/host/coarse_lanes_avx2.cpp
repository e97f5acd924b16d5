// The lane kernel with AVX2: 8 lanes a vector, 16 lags a group.
#include <immintrin.h>

#include "backends/host/coarse_lanes_kernel.hpp"

namespace kestrav {
namespace {

struct Avx2 {
  using Type = __m256;
  static constexpr int Lanes = 8;
  // 16 registers: deeper subtrees spill.
  static constexpr int RegisterDepth = 3;
  [[gnu::always_inline]] static Type broadcast(const float* p) { return _mm256_broadcast_ss(p); }
  [[gnu::always_inline]] static Type load(const float* p) { return _mm256_loadu_ps(p); }
  [[gnu::always_inline]] static void store(float* p, Type a) { _mm256_storeu_ps(p, a); }
  [[gnu::always_inline]] static Type add(Type a, Type b) { return _mm256_add_ps(a, b); }
  [[gnu::always_inline]] static Type sub(Type a, Type b) { return _mm256_sub_ps(a, b); }
  [[gnu::always_inline]] static Type mul(Type a, Type b) { return _mm256_mul_ps(a, b); }
  [[gnu::always_inline]] static Type fmadd(Type a, Type b, Type c) {
    return _mm256_fmadd_ps(a, b, c);
  }
};

}  // namespace

void formLaneGroupAvx2(const LaneGroupJob& job) { lane_kernel::formLaneGroup<Avx2>(job); }

}  // namespace kestrav
