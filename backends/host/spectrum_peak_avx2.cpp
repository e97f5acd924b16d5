// The spectrum's power, sum and first maximum with AVX2: 8 bins a step, and the merge of the
// vector lanes' peaks that both instruction sets use.
#include <immintrin.h>

#include <cmath>

#include "backends/host/spectrum_peak.hpp"
#include "stages/coarse/signal_maps.hpp"

namespace kestrav {
namespace {

// Powers of four bins, both the double sums and their float roundings, in bin order 0, 2, 1, 3
// (the order in which the pairs of squares are added).
struct FourBins {
  __m256d wide;
  __m128 narrow;
};
FourBins powersOfFourBins(const float* values) {
  const __m256 v = _mm256_loadu_ps(values);
  const __m256d low = _mm256_cvtps_pd(_mm256_castps256_ps128(v));
  const __m256d high = _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1));
  const __m256d wide = _mm256_hadd_pd(_mm256_mul_pd(low, low), _mm256_mul_pd(high, high));
  return FourBins{wide, _mm256_cvtpd_ps(wide)};
}

struct LanePeaks {
  __m128 power = _mm_set1_ps(-INFINITY);
  __m128i index = _mm_setzero_si128();

  // Strictly greater: within a lane the earliest of equal powers stays.
  void update(__m128 powers, __m128i indices) {
    const __m128 greater = _mm_cmp_ps(powers, power, _CMP_GT_OQ);
    power = _mm_blendv_ps(power, powers, greater);
    index = _mm_castps_si128(
        _mm_blendv_ps(_mm_castsi128_ps(index), _mm_castsi128_ps(indices), greater));
  }
};

}  // namespace

void mergeLanePeaks(SpectrumPeak& peak, const float* powers, const std::int32_t* indices,
                    int lanes) {
  peak.power = -INFINITY;
  peak.index = 0;
  for (int lane = 0; lane < lanes; ++lane) {
    const auto index = static_cast<std::uint64_t>(indices[lane]);
    if (powers[lane] > peak.power || (powers[lane] == peak.power && index < peak.index)) {
      peak.power = powers[lane];
      peak.index = index;
    }
  }
}

SpectrumPeak spectrumPeakAvx2(const float2* bins, std::size_t count) {
  const float* values = reinterpret_cast<const float*>(bins);
  const std::size_t covered = count & ~std::size_t{7};
  __m256d sumLow = _mm256_setzero_pd();
  __m256d sumHigh = _mm256_setzero_pd();
  LanePeaks low, high;
  __m128i index = _mm_setr_epi32(0, 2, 1, 3);
  const __m128i four = _mm_set1_epi32(4);
  const __m128i eight = _mm_set1_epi32(8);
  for (std::size_t j = 0; j < covered; j += 8) {
    const FourBins a = powersOfFourBins(values + 2 * j);
    const FourBins b = powersOfFourBins(values + 2 * j + 8);
    sumLow = _mm256_add_pd(sumLow, a.wide);
    sumHigh = _mm256_add_pd(sumHigh, b.wide);
    low.update(a.narrow, index);
    high.update(b.narrow, _mm_add_epi32(index, four));
    index = _mm_add_epi32(index, eight);
  }
  SpectrumPeak peak;
  peak.binsCovered = covered;
  alignas(32) double sums[4];
  _mm256_store_pd(sums, _mm256_add_pd(sumLow, sumHigh));
  peak.sumOfSquares = (sums[0] + sums[1]) + (sums[2] + sums[3]);
  alignas(16) float powers[8];
  alignas(16) std::int32_t indices[8];
  _mm_store_ps(powers, low.power);
  _mm_store_ps(powers + 4, high.power);
  _mm_store_si128(reinterpret_cast<__m128i*>(indices), low.index);
  _mm_store_si128(reinterpret_cast<__m128i*>(indices + 4), high.index);
  if (covered > 0) mergeLanePeaks(peak, powers, indices, 8);
  return peak;
}

}  // namespace kestrav
