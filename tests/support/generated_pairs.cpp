#include "support/generated_pairs.hpp"

#include <cstddef>
#include <utility>

namespace kestrav::testing {

PairConfig oneEmitter(int sampleCount, double sampleRate, double delay, double offsetHz,
                      double snrDb, std::uint64_t seed) {
  PairConfig config;
  config.sampleCount = sampleCount;
  config.sampleRate = sampleRate;
  config.emitters = {Emitter{delay, offsetHz, 0.0}};
  config.snrDb = snrDb;
  config.seed = seed;
  return config;
}

GeneratedPair generatedPair(const PairConfig& config, Samples samples, int firstCount) {
  const ComplexPair pair = generatePair(config);
  GeneratedPair out;
  if (samples == Samples::Floats) {
    const double scale = fullScale(pair, 32767.0);
    out.firstFloat = scaledFloats(pair.first, scale);
    out.secondFloat = scaledFloats(pair.second, scale);
    if (firstCount >= 0) out.firstFloat.resize(static_cast<std::size_t>(firstCount));
  } else {
    SamplePairInt16 quantized = quantizePair(pair);
    out.first = std::move(quantized.first);
    out.second = std::move(quantized.second);
    if (firstCount >= 0) out.first.resize(static_cast<std::size_t>(firstCount));
  }
  return out;
}

std::vector<float2> scaledFloats(const std::vector<std::complex<double>>& samples, double scale) {
  std::vector<float2> floats;
  floats.reserve(samples.size());
  for (const std::complex<double>& s : samples) {
    floats.push_back(
        float2{static_cast<float>(s.real() * scale), static_cast<float>(s.imag() * scale)});
  }
  return floats;
}

}  // namespace kestrav::testing
