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

// A later copy of an emitter's signal in the second recording only (multipath at its receiver).
struct Echo {
  double delay = 0.0;    // seconds beyond the emitter's delay
  double powerDb = 0.0;  // relative to the emitter's direct path
};

struct Emitter {
  double delay = 0.0;            // seconds; positive when the second recording sees it later
  double frequencyOffset = 0.0;  // hertz; positive when the second recording sees it higher
  double powerDb = 0.0;          // power relative to the reference power, decibels
};

// What the second receiver adds to every emitter. Drifts are about the middle of the recording:
// the delay grows by delayRate seconds per second (a time scale: its clock, or motion), the
// offset by frequencyRate hertz per second.
struct SecondChannel {
  double delayRate = 0.0;
  double frequencyRate = 0.0;
  std::vector<Echo> echoes;
};

// A signal in one recording only: a carrier (bandwidth 0) or a narrow band of noise.
struct Interferer {
  int recording = 1;       // 1 or 2
  double frequency = 0.0;  // hertz, its centre
  double powerDb = 0.0;    // relative to the reference power
  double bandwidth = 0.0;  // hertz
};

struct PairConfig {
  int sampleCount = 262144;
  double sampleRate = 1.0e6;  // hertz
  double bandwidth = 0.0;     // hertz, centred on zero; 0 means 0.6 of the sample rate
  std::vector<Emitter> emitters{Emitter{}};
  double snrDb = 20.0;  // reference signal power over each receiver's noise power, per sample
  std::uint64_t seed = 1;
  SecondChannel channel;
  std::vector<Interferer> interferers;
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
