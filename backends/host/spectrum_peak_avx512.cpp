// The spectrum's power, sum and first maximum with AVX-512: 16 bins a step. Only this unit and
// the lane kernel are compiled for AVX-512 (tdc/CMakeLists.txt); nothing here is shared inline
// with code that must run with AVX2 alone.
#include <immintrin.h>

#include "backends/host/spectrum_peak.hpp"

namespace kestrav {
namespace {

__m256 upperHalf(__m512 v) {
  return _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1));
}

}  // namespace

SpectrumPeak spectrumPeakAvx512(const float2* bins, std::size_t count) {
  const float* values = reinterpret_cast<const float*>(bins);
  const std::size_t covered = count & ~std::size_t{15};
  const __m512i realParts =
      _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  const __m512i imaginaryParts = _mm512_add_epi32(realParts, _mm512_set1_epi32(1));
  const __m512i sixteen = _mm512_set1_epi32(16);
  __m512d sumLow = _mm512_setzero_pd();
  __m512d sumHigh = _mm512_setzero_pd();
  __m512 peak = _mm512_set1_ps(-__builtin_inff());
  __m512i peakIndex = _mm512_setzero_si512();
  __m512i index = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  for (std::size_t j = 0; j < covered; j += 16) {
    const __m512 first = _mm512_loadu_ps(values + 2 * j);
    const __m512 second = _mm512_loadu_ps(values + 2 * j + 16);
    const __m512 re = _mm512_permutex2var_ps(first, realParts, second);
    const __m512 im = _mm512_permutex2var_ps(first, imaginaryParts, second);
    const __m512d reLow = _mm512_cvtps_pd(_mm512_castps512_ps256(re));
    const __m512d imLow = _mm512_cvtps_pd(_mm512_castps512_ps256(im));
    const __m512d reHigh = _mm512_cvtps_pd(upperHalf(re));
    const __m512d imHigh = _mm512_cvtps_pd(upperHalf(im));
    const __m512d powerLow = _mm512_fmadd_pd(reLow, reLow, _mm512_mul_pd(imLow, imLow));
    const __m512d powerHigh = _mm512_fmadd_pd(reHigh, reHigh, _mm512_mul_pd(imHigh, imHigh));
    sumLow = _mm512_add_pd(sumLow, powerLow);
    sumHigh = _mm512_add_pd(sumHigh, powerHigh);
    const __m512 power = _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(powerLow)),
                                            _mm512_cvtpd_ps(powerHigh), 1);
    // Strictly greater: within a lane the earliest of equal powers stays.
    const __mmask16 greater = _mm512_cmp_ps_mask(power, peak, _CMP_GT_OQ);
    peak = _mm512_mask_mov_ps(peak, greater, power);
    peakIndex = _mm512_mask_mov_epi32(peakIndex, greater, index);
    index = _mm512_add_epi32(index, sixteen);
  }
  SpectrumPeak result;
  result.binsCovered = covered;
  result.sumOfSquares = _mm512_reduce_add_pd(_mm512_add_pd(sumLow, sumHigh));
  alignas(64) float powers[16];
  alignas(64) std::int32_t indices[16];
  _mm512_store_ps(powers, peak);
  _mm512_store_si512(indices, peakIndex);
  if (covered > 0) mergeLanePeaks(result, powers, indices, 16);
  return result;
}

}  // namespace kestrav
