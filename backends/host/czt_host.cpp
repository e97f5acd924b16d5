#include <algorithm>

#include "backends/host/host_paths.hpp"
#include "platform/host/inplace_transform.hpp"
#include "stages/fine/czt.hpp"
#include "stages/fine/czt_maps.hpp"
#include "stages/fine/signal_maps_double.hpp"

namespace kestrav {

// Bluestein's method: out[k] = c[k] sum_n (x[n] e^{-j n start} c[n]) conj(c[k - n]), with the
// chirp c[k] = e^{j k^2 step / 2}, the sum a circular convolution of L points, L >= N + M - 1, so
// that outputs k = 0 .. M - 1 carry no wrapped terms.
void cztHost(const double2* x, int N, double2* out, int M, double step, double start) {
  if (N < 1 || M < 1) return;
  const std::int64_t len = std::int64_t{N} + M - 1;
  const std::int64_t chirpLength = std::int64_t{N} + std::max(M, N) - 1;
  const std::int64_t L = cztFftLength(N, M);
  const auto chirpCount = static_cast<std::size_t>(chirpLength);
  const auto fftCount = static_cast<std::size_t>(L);
  const std::int64_t origin = N - 1;  // the element of k = 0

  // chirp[i] holds k = i + 1 - N, from 1 - N up to the last input and the last output point.
  auto chirp = makeFftwArray<double2>(chirpCount, "the chirp-z chirp");
  auto work = makeFftwArray<double2>(fftCount, "the chirp-z work buffer");
  auto filter = makeFftwArray<double2>(fftCount, "the chirp-z filter");
  for (std::int64_t i = 0; i < chirpLength; ++i) {
    chirp[i] = cztChirp(static_cast<int>(i - origin), step, +1);
  }

  // The weighted input x[n] e^{-j n start} e^{j n^2 step / 2}, zero-padded to L.
  for (int n = 0; n < N; ++n) {
    work[n] = cztRamp(n, start);
    multiplyInPlace(work[n], chirp[origin + n]);
    multiplyInPlace(work[n], x[n]);
  }
  std::fill(work.get() + N, work.get() + L, double2{0.0, 0.0});

  // The conjugate chirp over k = 1 - N .. M - 1, zero-padded: the sign -1 chirp is exactly the
  // conjugate of the one already computed.
  for (std::int64_t i = 0; i < len; ++i) filter[i] = double2{chirp[i].x, -chirp[i].y};
  std::fill(filter.get() + len, filter.get() + L, double2{0.0, 0.0});

  const FftwPlan forward = planInPlaceTransforms(work.get(), L, 1, FFTW_FORWARD);
  const FftwPlan inverse = planInPlaceTransforms(work.get(), L, 1, FFTW_BACKWARD);
  transformInPlace(forward, work.get());
  transformInPlace(forward, filter.get());
  for (std::int64_t i = 0; i < L; ++i) multiplyInPlace(work[i], filter[i]);
  filter.reset();
  // Normalised before the inverse transform.
  const auto scale = static_cast<double>(L);
  for (std::int64_t i = 0; i < L; ++i) work[i] = divide(work[i], scale);
  transformInPlace(inverse, work.get());

  for (int k = 0; k < M; ++k) multiplyInto(out[k], work[origin + k], chirp[origin + k]);
}

}  // namespace kestrav
