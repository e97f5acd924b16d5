// The lane kernel with AVX-512: 16 lanes a vector, 32 lags a group. Only this unit is compiled
// for AVX-512 (tdc/CMakeLists.txt), and it runs only after a run-time check.
#include <immintrin.h>

#include "backends/host/coarse_lanes_kernel.hpp"

namespace kestrav {
namespace {

struct Avx512 {
  using Type = __m512;
  static constexpr int Lanes = 16;
  // 32 registers hold a subtree of 64 products.
  static constexpr int RegisterDepth = 6;
  [[gnu::always_inline]] static Type broadcast(const float* p) { return _mm512_set1_ps(*p); }
  [[gnu::always_inline]] static Type load(const float* p) { return _mm512_loadu_ps(p); }
  [[gnu::always_inline]] static void store(float* p, Type a) { _mm512_storeu_ps(p, a); }
  [[gnu::always_inline]] static Type add(Type a, Type b) { return _mm512_add_ps(a, b); }
  [[gnu::always_inline]] static Type sub(Type a, Type b) { return _mm512_sub_ps(a, b); }
  [[gnu::always_inline]] static Type mul(Type a, Type b) { return _mm512_mul_ps(a, b); }
  [[gnu::always_inline]] static Type fmadd(Type a, Type b, Type c) {
    return _mm512_fmadd_ps(a, b, c);
  }
};

}  // namespace

void formLaneGroupAvx512(const LaneGroupJob& job) { lane_kernel::formLaneGroup<Avx512>(job); }

}  // namespace kestrav
