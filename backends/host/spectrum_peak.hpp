#pragma once
// The vectorised part of reducing a spectrum to its cell, one function per instruction set:
// over the bins it covers, the sum of the powers and the first bin of largest power, each power
// formed as powerOf forms it (both parts widened, x^2 + y^2 rounded once in double: the squares
// of floats are exact in double, so this is the fused multiply-add, then rounded to float).
#include <cstddef>
#include <cstdint>

#include "platform/host/vector_types.hpp"

namespace kestrav {

struct SpectrumPeak {
  double sumOfSquares = 0.0;
  float power = 0.0f;  // the largest power; of equal ones the lowest bin is kept
  std::uint64_t index = 0;
  std::size_t binsCovered = 0;  // bins 0 .. binsCovered - 1; the caller reduces the rest
};

// Whole vectors of bins only: 8 at a time with AVX2, 16 with AVX-512 (for which the processor
// must be checked first).
SpectrumPeak spectrumPeakAvx2(const float2* bins, std::size_t count);
SpectrumPeak spectrumPeakAvx512(const float2* bins, std::size_t count);

// The largest of the vector lanes' peaks, and of equal ones the lowest bin, into `peak`.
void mergeLanePeaks(SpectrumPeak& peak, const float* powers, const std::int32_t* indices,
                    int lanes);

}  // namespace kestrav
