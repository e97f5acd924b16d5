// The reduction of a lag's spectrum to its cell in one vectorised pass: power, sum of powers and
// the first bin of largest power together.
#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "tdc/coarse_row.hpp"
#include "tdc/signal_maps.hpp"

namespace kestrav {
namespace {

// Powers of four bins as powerOf forms them: both parts widened, x^2 + y^2 rounded once in double
// (the squares of floats are exact in double, so this is the fused multiply-add) and then to
// float. The pair sums come in bin order 0, 2, 1, 3.
struct FourBins {
  __m256d wide;
  __m128 narrow;
};
inline FourBins powersOfFourBins(const float* values) {
  const __m256 v = _mm256_loadu_ps(values);
  const __m256d low = _mm256_cvtps_pd(_mm256_castps256_ps128(v));
  const __m256d high = _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1));
  const __m256d wide = _mm256_hadd_pd(_mm256_mul_pd(low, low), _mm256_mul_pd(high, high));
  return FourBins{wide, _mm256_cvtpd_ps(wide)};
}

struct LanePeaks {
  __m128 power = _mm_set1_ps(-std::numeric_limits<float>::infinity());
  __m128i index = _mm_setzero_si128();

  // Strictly greater: within a lane the earliest of equal powers stays.
  void update(__m128 powers, __m128i indices) {
    const __m128 greater = _mm_cmp_ps(powers, power, _CMP_GT_OQ);
    power = _mm_blendv_ps(power, powers, greater);
    index = _mm_castps_si128(
        _mm_blendv_ps(_mm_castsi128_ps(index), _mm_castsi128_ps(indices), greater));
  }
};

double horizontalSum(__m256d v) {
  alignas(32) double parts[4];
  _mm256_store_pd(parts, v);
  return (parts[0] + parts[1]) + (parts[2] + parts[3]);
}

}  // namespace

LagCell evaluateSpectrumVectorised(std::span<const float2> spectrum, int lagIndex,
                                   double decimatedRate) {
  const std::size_t length = spectrum.size();
  const float* values = reinterpret_cast<const float*>(spectrum.data());
  const std::size_t vectorBins = length & ~std::size_t{7};

  __m256d sumLow = _mm256_setzero_pd();
  __m256d sumHigh = _mm256_setzero_pd();
  LanePeaks low, high;
  __m128i index = _mm_setr_epi32(0, 2, 1, 3);
  const __m128i four = _mm_set1_epi32(4);
  const __m128i eight = _mm_set1_epi32(8);
  for (std::size_t j = 0; j < vectorBins; j += 8) {
    const FourBins a = powersOfFourBins(values + 2 * j);
    const FourBins b = powersOfFourBins(values + 2 * j + 8);
    sumLow = _mm256_add_pd(sumLow, a.wide);
    sumHigh = _mm256_add_pd(sumHigh, b.wide);
    low.update(a.narrow, index);
    high.update(b.narrow, _mm_add_epi32(index, four));
    index = _mm_add_epi32(index, eight);
  }
  double sumOfSquares = horizontalSum(_mm256_add_pd(sumLow, sumHigh));

  // Of the lanes' peaks the largest power, and of equal ones the lowest bin.
  float peakPower = -std::numeric_limits<float>::infinity();
  std::uint64_t peakIndex = 0;
  alignas(16) float powers[8];
  alignas(16) std::int32_t indices[8];
  _mm_store_ps(powers, low.power);
  _mm_store_ps(powers + 4, high.power);
  _mm_store_si128(reinterpret_cast<__m128i*>(indices), low.index);
  _mm_store_si128(reinterpret_cast<__m128i*>(indices + 4), high.index);
  for (int lane = 0; lane < (vectorBins > 0 ? 8 : 0); ++lane) {
    const auto laneIndex = static_cast<std::uint64_t>(indices[lane]);
    if (powers[lane] > peakPower || (powers[lane] == peakPower && laneIndex < peakIndex)) {
      peakPower = powers[lane];
      peakIndex = laneIndex;
    }
  }
  for (std::size_t j = vectorBins; j < length; ++j) {
    const double x = spectrum[j].x;
    const double y = spectrum[j].y;
    sumOfSquares += x * x + y * y;
    const float power = powerOf(spectrum[j]).x;
    if (j == 0 || power > peakPower) {
      peakPower = power;
      peakIndex = j;
    }
  }
  const auto norm = static_cast<float>(std::sqrt(sumOfSquares));
  return LagCell{lagIndex, binFrequency(peakIndex, length, decimatedRate),
                 lagLevel(peakPower, norm, length)};
}

}  // namespace kestrav
