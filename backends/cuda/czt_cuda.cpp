// Bluestein's method: out[k] = c[k] sum_n (x[n] e^{-j n start} c[n]) conj(c[k - n]) with the
// chirp c[k] = e^{j k^2 step / 2}; the sum is a circular convolution of L >= N + M - 1 points,
// done with three transforms of one plan.
#include "backends/cuda/czt_cuda.hpp"

#include <algorithm>
#include <climits>
#include <string>

#include "backends/cuda/czt_kernels.hpp"
#include "backends/cuda/fine_kernels.hpp"
#include "backends/cuda/gpu_sites.hpp"
#include "platform/gpu/device_buffer.hpp"
#include "stages/fine/czt.hpp"

namespace kestrav {

void cztCuda(const double2* x, int N, double2* out, int M, double step, double start) {
  if (N < 1 || M < 1) return;
  const std::int64_t L = cztFftLength(N, M);
  const std::int64_t len = std::int64_t{N} + M - 1;
  const std::int64_t chirpLength = std::int64_t{N} + std::max(M, N) - 1;
  // Lengths, launches and plans are 32-bit: L = 2^31 would not fit, so 2^30 is the longest.
  if (L > INT_MAX || chirpLength > INT_MAX) {
    throw ResourceError("a chirp-z transform of " + std::to_string(N) + " points at " +
                        std::to_string(M) + " frequencies needs transforms of " +
                        std::to_string(L) +
                        " points, beyond the GPU path's 32-bit lengths; the host backend "
                        "(--backend=host) can do it");
  }
  const int fftLength = static_cast<int>(L);
  const int origin = N - 1;  // the chirp's element of k = 0

  DeviceBuffer<double2> chirp(static_cast<std::size_t>(std::max(L, chirpLength)),
                              CztSite::AllocateChirp);
  DeviceBuffer<double2> work(static_cast<std::size_t>(L), CztSite::AllocateWork);
  DeviceBuffer<double2> filter(static_cast<std::size_t>(L), CztSite::AllocateFilter);
  // The tails of work beyond N and of filter beyond len must be zero for the convolution.
  GpuCheck(cudaMemset(chirp.get(), 0, chirp.bytes()), CztSite::ClearChirp);
  GpuCheck(cudaMemset(work.get(), 0, work.bytes()), CztSite::ClearWork);
  GpuCheck(cudaMemset(filter.get(), 0, filter.bytes()), CztSite::ClearFilter);

  // The weighted input x[n] e^{-j n start} e^{j n^2 step / 2}.
  CztInitWW(chirp.get(), static_cast<int>(chirpLength), 1 - N, step, +1);
  CztInitAA(work.get(), N, start);
  Sig_Mul_inout(work.get(), chirp.get() + origin, N);
  Sig_Mul_inout(work.get(), x, N);

  FftPlan plan;
  GpuCheck(plan.create(fftLength, CUFFT_Z2Z, 1), CztSite::CreatePlan);
  GpuCheck(cufftExecZ2Z(plan.get(), reinterpret_cast<cufftDoubleComplex*>(work.get()),
                        reinterpret_cast<cufftDoubleComplex*>(work.get()), CUFFT_FORWARD),
           CztSite::TransformWork);
  // The conjugate chirp over k = 1 - N .. M - 1.
  CztInitWW(filter.get(), static_cast<int>(len), 1 - N, step, -1);
  GpuCheck(cufftExecZ2Z(plan.get(), reinterpret_cast<cufftDoubleComplex*>(filter.get()),
                        reinterpret_cast<cufftDoubleComplex*>(filter.get()), CUFFT_FORWARD),
           CztSite::TransformFilter);
  Sig_Mul_inout(work.get(), filter.get(), fftLength);
  filter.release(CztSite::FreeFilter);
  // Normalised before the inverse transform.
  Sig_Div_inout_d(work.get(), fftLength, static_cast<double>(fftLength));
  GpuCheck(cufftExecZ2Z(plan.get(), reinterpret_cast<cufftDoubleComplex*>(work.get()),
                        reinterpret_cast<cufftDoubleComplex*>(work.get()), CUFFT_INVERSE),
           CztSite::InverseTransformWork);
  plan.destroy(CztSite::DestroyPlan);

  Sig_Mul(work.get() + origin, chirp.get() + origin, out, M);
  work.release(CztSite::FreeWork);
  chirp.release(CztSite::FreeChirp);
}

}  // namespace kestrav
