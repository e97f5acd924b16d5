#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>

#include "stages/coarse/coarse_search.hpp"

namespace kestrav {

CoarseSizes deriveCoarseSizes(int sampleCount, double sampleRate, int lagCount,
                              double frequencySpan) {
  CoarseSizes sizes;
  if (sampleRate > frequencySpan) {
    // A decimation beyond 32 bits leaves fewer than one decimated sample of any segment.
    sizes.decimation = static_cast<int>(
        std::min(std::floor(sampleRate / frequencySpan), static_cast<double>(INT_MAX)));
  }
  sizes.decimatedRate = sampleRate / sizes.decimation;
  sizes.decimatedLength = static_cast<int>(
      std::floor(static_cast<double>(sampleCount) / static_cast<double>(sizes.decimation)));
  sizes.reductionBlock = static_cast<int>(std::bit_floor(static_cast<unsigned>(sizes.decimation)));
  sizes.productGrid = std::min(sampleCount / 1024, 65535);
  if (sizes.decimatedLength <= 0 || lagCount <= 0) return sizes;

  // The smallest power of two not below M (equal to 2^ceil(log2 M) in double for every int M).
  sizes.fftLength = std::bit_ceil(static_cast<std::uint64_t>(sizes.decimatedLength));
  const std::uint64_t rowsInBudget = BatchBudgetBytes / (8 * sizes.fftLength);
  // Rows longer than the budget still go one at a time, and every lag is covered.
  sizes.lagsPerBatch =
      static_cast<int>(std::max<std::uint64_t>(1, std::min<std::uint64_t>(rowsInBudget, lagCount)));
  sizes.batchCount = (lagCount + sizes.lagsPerBatch - 1) / sizes.lagsPerBatch;
  sizes.chunkCount = static_cast<int>(std::ceil(sizes.decimatedLength / 65535.0));
  return sizes;
}

double binFrequency(std::uint64_t idx, std::uint64_t fftLength, double decimatedRate) {
  // Bins above L/2 are negative frequencies; bin L/2 itself stays positive.
  const double signedIndex =
      idx > fftLength / 2 ? -static_cast<double>(fftLength - idx) : static_cast<double>(idx);
  return signedIndex / static_cast<double>(fftLength) * decimatedRate;
}

double lagLevel(float peakPower, float norm, std::uint64_t fftLength) {
  return 10.0 *
         (2.0 * std::log10(std::sqrt(static_cast<double>(peakPower)) / static_cast<double>(norm)) +
          std::log10(static_cast<double>(fftLength)));
}

}  // namespace kestrav
