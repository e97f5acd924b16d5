// The chirp-z kernels: the phase ramp, the chirp and the two complex products, one thread per
// element, on the element maps shared with the host. Compiled for blocks of 1024 threads, so
// that no chip needs more registers than they allow.
#include <cuda_runtime.h>

#include "backends/cuda/czt_kernels.hpp"
#include "platform/gpu/chunked_launch.hpp"
#include "platform/gpu/thread_index.cuh"
#include "stages/fine/czt_maps.hpp"

namespace kestrav {
__global__ void __launch_bounds__(LaunchBlockThreads)
    CztInitAA_dev(double2* p, int offset, double x) {
  const int i = threadIndex() + offset;
  p[i] = cztRamp(i, x);
}

__global__ void __launch_bounds__(LaunchBlockThreads)
    CztInitWW_dev(double2* p, int offset, int shift, double x, int sign) {
  const int i = threadIndex() + offset;
  p[i] = cztChirp(i + shift, x, sign);
}

__global__ void __launch_bounds__(LaunchBlockThreads)
    Sig_Mul_dev(const double2* a, const double2* b, double2* c) {
  const int i = threadIndex();
  multiplyInto(c[i], a[i], b[i]);
}

__global__ void __launch_bounds__(LaunchBlockThreads)
    Sig_Mul_inout_dev(double2* a, const double2* b) {
  const int i = threadIndex();
  multiplyInPlace(a[i], b[i]);
}

void CztInitAA(double2* p, int n, double x) {
  for (const Launch& launch : chunkedLaunches(n)) {
    CztInitAA_dev<<<launch.blocks, launch.threads>>>(p, launch.base, x);
  }
}

void CztInitWW(double2* p, int n, int shift, double x, int sign) {
  for (const Launch& launch : chunkedLaunches(n)) {
    CztInitWW_dev<<<launch.blocks, launch.threads>>>(p, launch.base, shift, x, sign);
  }
}

void Sig_Mul_inout(double2* a, const double2* b, int n) {
  for (const Launch& launch : chunkedLaunches(n)) {
    Sig_Mul_inout_dev<<<launch.blocks, launch.threads>>>(a + launch.base, b + launch.base);
  }
}

void Sig_Mul(const double2* a, const double2* b, double2* c, int n) {
  for (const Launch& launch : chunkedLaunches(n)) {
    Sig_Mul_dev<<<launch.blocks, launch.threads>>>(a + launch.base, b + launch.base,
                                                   c + launch.base);
  }
}

}  // namespace kestrav
