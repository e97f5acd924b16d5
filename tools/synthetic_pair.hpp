#pragma once
// Generated recording pairs with a known delay and frequency offset: a band-limited random
// signal, seen by the second receiver later by `delay` and higher by `frequencyOffset`, with
// independent noise on each receiver.
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/sample_format.hpp"
#include "platform/host/vector_types.hpp"

namespace kestrav {

struct Emitter {
  double delay = 0.0;            // seconds; positive when the second recording sees it later
  double frequencyOffset = 0.0;  // hertz; positive when the second recording sees it higher
  double powerDb = 0.0;          // power relative to the reference power, decibels
};

struct PairConfig {
  int sampleCount = 262144;
  double sampleRate = 1.0e6;  // hertz
  double bandwidth = 0.0;     // hertz, centred on zero; 0 means 0.6 of the sample rate
  std::vector<Emitter> emitters{Emitter{}};
  double snrDb = 20.0;  // reference signal power over each receiver's noise power, per sample
  std::uint64_t seed = 1;
};

struct ComplexPair {
  std::vector<std::complex<double>> first;
  std::vector<std::complex<double>> second;
};

// The pair before quantisation. The signal is periodic over the recording, so every delay,
// fractional ones too, is an exact shift of the same band-limited waveform.
ComplexPair generatePair(const PairConfig& config);

// Both recordings scaled by one factor so that the largest component is 32767, rounded to int16.
struct SamplePairInt16 {
  std::vector<short2> first;
  std::vector<short2> second;
};
SamplePairInt16 quantizePair(const ComplexPair& pair);

// The factor that brings the pair's largest component to `top` (32767 for int16, 127 for int8).
double fullScale(const ComplexPair& pair, double top);
// The stored bytes of a recording in the format, scaled by `scale`: integer formats rounded
// (cu8 offset by 128), cf32 unrounded.
std::string encodeRecording(const std::vector<std::complex<double>>& samples, double scale,
                            SampleFormat format);

}  // namespace kestrav
