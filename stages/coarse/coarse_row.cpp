#include "stages/coarse/coarse_row.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>

#include "platform/host/errors.hpp"
#include "stages/coarse/signal_maps.hpp"

namespace kestrav {

CoarseSizes startCoarseSearch(const CoarseRequest& request, std::span<LagCell> cells) {
  if (request.sampleCount < 0 || request.lagCount < 0) {
    throw InputError("the sample count and the lag count must not be negative");
  }
  if (cells.size() != static_cast<std::size_t>(request.lagCount)) {
    throw InputError("the coarse search needs one cell for each of the " +
                     std::to_string(request.lagCount) + " lags");
  }
  const auto sampleCount = static_cast<std::size_t>(request.sampleCount);
  const bool shortSegments = withSegments(request.segments, [&](auto first, auto second) {
    return first.size() < sampleCount ||
           second.size() < sampleCount + static_cast<std::size_t>(request.lagCount);
  });
  if (shortSegments) {
    throw InputError("the segments are shorter than the sample count and lag window need");
  }
  if (!std::isfinite(request.sampleRate) || !(request.sampleRate > 0.0) ||
      !std::isfinite(request.frequencySpan) || !(request.frequencySpan > 0.0)) {
    throw InputError("the sample rate and frequency span must be finite and greater than 0");
  }
  std::fill(cells.begin(), cells.end(), LagCell{});
  return deriveCoarseSizes(request.sampleCount, request.sampleRate, request.lagCount,
                           request.frequencySpan);
}

FftwfPlan planRowTransforms(std::uint64_t fftLength, int rows, float2* data) {
  if (fftLength > static_cast<std::uint64_t>(INT_MAX)) {
    throw ResourceError("a coarse spectrum of " + std::to_string(fftLength) +
                        " points is beyond the FFT's 32-bit lengths");
  }
  int length = static_cast<int>(fftLength);
  auto* complexData = reinterpret_cast<fftwf_complex*>(data);
  std::lock_guard lock(fftwPlannerLock());
  FftwfPlan plan(fftwf_plan_many_dft(1, &length, rows, complexData, nullptr, 1, length, complexData,
                                     nullptr, 1, length, FFTW_FORWARD, FFTW_ESTIMATE));
  if (!plan) {
    throw ResourceError("cannot plan " + std::to_string(rows) + " transforms of " +
                        std::to_string(fftLength) + " points");
  }
  return plan;
}

LagCell evaluateSpectrum(std::span<const float2> spectrum, int lagIndex, double decimatedRate) {
  // The norm stands for a single-precision BLAS norm: accumulated wide, rounded to float once.
  double sumOfSquares = 0.0;
  std::size_t peakIndex = 0;
  float peakPower = powerOf(spectrum[0]).x;
  for (std::size_t j = 0; j < spectrum.size(); ++j) {
    const double x = spectrum[j].x;
    const double y = spectrum[j].y;
    sumOfSquares += x * x + y * y;
    // Strictly greater: of equal powers the lowest bin wins.
    const float power = powerOf(spectrum[j]).x;
    if (power > peakPower) {
      peakPower = power;
      peakIndex = j;
    }
  }
  const auto norm = static_cast<float>(std::sqrt(sumOfSquares));
  const std::uint64_t fftLength = spectrum.size();
  return LagCell{lagIndex, binFrequency(peakIndex, fftLength, decimatedRate),
                 lagLevel(peakPower, norm, fftLength)};
}

}  // namespace kestrav
