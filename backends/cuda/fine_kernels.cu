// The refinement's double-precision kernels: one thread per element, no bounds test (the launch
// rule starts exactly one thread for each element), and the element maps shared with the host.
// Compiled for blocks of 1024 threads, so that no chip needs more registers than they allow.
#include <cuda_runtime.h>

#include <cstdint>

#include "backends/cuda/fine_kernels.hpp"
#include "platform/gpu/chunked_launch.hpp"
#include "platform/gpu/thread_index.cuh"
#include "stages/fine/signal_maps_double.hpp"

namespace kestrav {
template <class Sample>
__global__ void __launch_bounds__(LaunchBlockThreads)
    BuildSignal_df_dev(const Sample* in, double2* out, int offset, double w) {
  const int i = threadIndex() + offset;
  out[i] = shiftFrequency(in[i], i, w);
}

template <class Sample>
__global__ void __launch_bounds__(LaunchBlockThreads)
    BuildZeroDfSig_d_dev(const Sample* in, double2* out, int offset, int half, double w) {
  const int i = threadIndex() + offset;
  out[frameIndex(i, half)] = shiftFrequency(in[i], i, w);
}

template <class Sample>
__global__ void __launch_bounds__(LaunchBlockThreads)
    SegmentCopy_d_dev(const Sample* in, double2* out, int offset, int half) {
  const int i = threadIndex() + offset;
  out[frameIndex(i, half)] = toDouble2(in[i]);
}

__global__ void __launch_bounds__(LaunchBlockThreads)
    Sig_Conj_Mul_inout_d_dev(double2* a, const double2* b) {
  const int i = threadIndex();
  a[i] = conjugateProduct(a[i], b[i]);
}

template <class Sample>
__global__ void __launch_bounds__(LaunchBlockThreads)
    Sig_Conj_Mul_SDD_dev(const Sample* a, double2* b) {
  const int i = threadIndex();
  b[i] = conjugateProduct(a[i], b[i]);
}

__global__ void __launch_bounds__(LaunchBlockThreads)
    Sig_Add_d_0_dev(const double2* in, double2* out, int offset, int terms, int stride) {
  accumulateRows(in, out, threadIndex() + offset, terms, stride);
}

__global__ void __launch_bounds__(LaunchBlockThreads)
    Sig_Add_d_1_dev(const double2* in, double2* out, int offset, int terms,
                    int /*stride: a run needs none*/) {
  accumulateRun(in, out, threadIndex() + offset, terms);
}

__global__ void __launch_bounds__(LaunchBlockThreads) Sig_Div_inout_d_dev(double2* a, double d) {
  const int i = threadIndex();
  a[i] = divide(a[i], d);
}

__global__ void __launch_bounds__(LaunchBlockThreads) Sig_Abs_inout_d_dev(double2* a) {
  const int i = threadIndex();
  a[i] = power(a[i]);
}

__global__ void __launch_bounds__(LaunchBlockThreads)
    Sig_Reverse_Centre_d_dev(const double2* in, double2* out, int offset, int n, int half,
                             double d) {
  const int m = threadIndex() + offset;
  out[m] = divide(in[(std::int64_t{half} - m + n) % n], d);  // half + n may pass 32 bits
}

namespace {

// The launchers that read the recordings, for either sample type.
template <class Sample>
void launchBuildSignal(const Sample* in, double2* out, int n, double w) {
  for (const Launch& launch : chunkedLaunches(n)) {
    BuildSignal_df_dev<<<launch.blocks, launch.threads>>>(in, out, launch.base, w);
  }
}

template <class Sample>
void launchBuildZeroSignal(const Sample* in, double2* out, int n, int half, double w) {
  for (const Launch& launch : chunkedLaunches(n)) {
    BuildZeroDfSig_d_dev<<<launch.blocks, launch.threads>>>(in, out, launch.base, half, w);
  }
}

template <class Sample>
void launchSegmentCopy(const Sample* in, double2* out, int n, int half) {
  for (const Launch& launch : chunkedLaunches(n)) {
    SegmentCopy_d_dev<<<launch.blocks, launch.threads>>>(in, out, launch.base, half);
  }
}

template <class Sample>
void launchConjugateMultiply(const Sample* a, double2* b, int n) {
  for (const Launch& launch : chunkedLaunches(n)) {
    Sig_Conj_Mul_SDD_dev<<<launch.blocks, launch.threads>>>(a + launch.base, b + launch.base);
  }
}

}  // namespace

void BuildSignal_df(const short2* in, double2* out, int n, double w) {
  launchBuildSignal(in, out, n, w);
}
void BuildSignal_df(const float2* in, double2* out, int n, double w) {
  launchBuildSignal(in, out, n, w);
}

void BuildZeroDfSig_d(const short2* in, double2* out, int n, int half, double w) {
  launchBuildZeroSignal(in, out, n, half, w);
}
void BuildZeroDfSig_d(const float2* in, double2* out, int n, int half, double w) {
  launchBuildZeroSignal(in, out, n, half, w);
}

void SegmentCopy_d(const short2* in, double2* out, int n, int half) {
  launchSegmentCopy(in, out, n, half);
}
void SegmentCopy_d(const float2* in, double2* out, int n, int half) {
  launchSegmentCopy(in, out, n, half);
}

void Sig_Conj_Mul_SDD(const short2* a, double2* b, int n) { launchConjugateMultiply(a, b, n); }
void Sig_Conj_Mul_SDD(const float2* a, double2* b, int n) { launchConjugateMultiply(a, b, n); }

void Sig_Conj_Mul_inout_d(double2* a, const double2* b, int n) {
  for (const Launch& launch : chunkedLaunches(n)) {
    Sig_Conj_Mul_inout_d_dev<<<launch.blocks, launch.threads>>>(a + launch.base, b + launch.base);
  }
}

void Sig_Add_d(const double2* in, double2* out, int terms, int n, int mode) {
  for (const Launch& launch : chunkedLaunches(n)) {
    if (mode == 1) {
      Sig_Add_d_1_dev<<<launch.blocks, launch.threads>>>(in, out, launch.base, terms, n);
    } else {
      Sig_Add_d_0_dev<<<launch.blocks, launch.threads>>>(in, out, launch.base, terms, n);
    }
  }
}

void Sig_Div_inout_d(double2* a, int n, double d) {
  for (const Launch& launch : chunkedLaunches(n)) {
    Sig_Div_inout_d_dev<<<launch.blocks, launch.threads>>>(a + launch.base, d);
  }
}

void Sig_Abs_inout_d(double2* a, int n) {
  for (const Launch& launch : chunkedLaunches(n)) {
    Sig_Abs_inout_d_dev<<<launch.blocks, launch.threads>>>(a + launch.base);
  }
}

void Sig_Reverse_Centre_d(const double2* in, double2* out, int n, int half, double d) {
  for (const Launch& launch : chunkedLaunches(n)) {
    Sig_Reverse_Centre_d_dev<<<launch.blocks, launch.threads>>>(in, out, launch.base, n, half, d);
  }
}

}  // namespace kestrav
