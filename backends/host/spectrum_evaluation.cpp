// The reduction of a lag's spectrum to its cell in one vectorised pass: power, sum of powers and
// the first bin of largest power together, by the instruction set's spectrum peak.
#include <cmath>

#include "backends/host/host_paths.hpp"
#include "backends/host/spectrum_peak.hpp"
#include "stages/coarse/coarse_row.hpp"
#include "stages/coarse/signal_maps.hpp"

namespace kestrav {

LagCell evaluateSpectrumVectorised(std::span<const float2> spectrum, int lagIndex,
                                   double decimatedRate, InstructionSet set) {
  const std::size_t length = spectrum.size();
  SpectrumPeak peak = set == InstructionSet::Avx512 ? spectrumPeakAvx512(spectrum.data(), length)
                                                    : spectrumPeakAvx2(spectrum.data(), length);
  // The bins past the last whole vector, one by one; they come after all the others.
  for (std::size_t j = peak.binsCovered; j < length; ++j) {
    const double x = spectrum[j].x;
    const double y = spectrum[j].y;
    peak.sumOfSquares += x * x + y * y;
    const float power = powerOf(spectrum[j]).x;
    if (j == 0 || power > peak.power) {
      peak.power = power;
      peak.index = j;
    }
  }
  const auto norm = static_cast<float>(std::sqrt(peak.sumOfSquares));
  return LagCell{lagIndex, binFrequency(peak.index, length, decimatedRate),
                 lagLevel(peak.power, norm, length)};
}

}  // namespace kestrav
