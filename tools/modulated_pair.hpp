#pragma once
// Generated recording pairs of modulated emitters, for the checks that plain band-limited noise
// cannot exercise: shaped PSK (sidelobes along delay and at the symbol rate), GMSK and FM
// (constant envelope), OFDM (cyclic-prefix echoes), bursts (a comb in frequency), and receivers
// with a DC offset.
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "tools/synthetic_pair.hpp"

namespace kestrav {

enum class Waveform { Psk, Gmsk, Fm, Ofdm };

struct ModulatedEmitter {
  Waveform waveform = Waveform::Psk;
  double delay = 0.0;            // seconds, the second recording later
  double frequencyOffset = 0.0;  // hertz, the second recording higher
  double powerDb = 0.0;
  double symbolRate = 50.0e3;     // PSK and GMSK symbols, FM's message bandwidth, hertz
  double rolloff = 0.35;          // PSK's root-raised-cosine roll-off
  int ofdmCarriers = 64;          // OFDM: the transform's length in samples ...
  int ofdmPrefix = 16;            // ... and the cyclic prefix's
  int burstOn = 0;                // bursts: on for burstOn of every burstPeriod samples
  int burstPeriod = 0;            // 0: continuous
  double echoDelay = 0.0;         // seconds after the direct path; 0: no echo in the second
  double echoPowerDb = 0.0;       // the echo's power against the direct path's
  double firstEchoDelay = 0.0;    // seconds after the direct path; 0: no echo in the first
  double firstEchoPowerDb = 0.0;  // that echo's power against the direct path's
};

struct ModulatedPairConfig {
  int sampleCount = 262144;
  double sampleRate = 1.0e6;
  std::vector<ModulatedEmitter> emitters{ModulatedEmitter{}};
  double snrDb = 20.0;             // reference power over each receiver's noise, per sample
  std::complex<double> firstDc{};  // added to every sample, in units of the reference amplitude
  std::complex<double> secondDc{};
  std::uint64_t seed = 1;
};

// One emitter's waveform alone, n samples at fs, periodic over n, at its power: what
// generateModulatedPair puts in the first recording before noise.
std::vector<std::complex<double>> modulatedWaveform(const ModulatedEmitter& emitter, std::size_t n,
                                                    double fs, std::mt19937_64& random);

// Each waveform is built periodic over the recording, so that every delay, fractional ones too,
// is an exact shift; the bursts move with the signal.
ComplexPair generateModulatedPair(const ModulatedPairConfig& config);

}  // namespace kestrav
