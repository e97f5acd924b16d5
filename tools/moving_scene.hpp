#pragma once
// A generated scene: one emitter (QPSK with root-raised-cosine shaping) heard by several
// receivers, each with its own delay and frequency offset of arrival varying linearly in time,
// its own noise, and its own start time (receivers start whole and fractional samples apart).
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrav {

// One receiver's view of the emission as functions of campaign time t (seconds from the earliest
// receiver's first sample): the emission reaches it delayAt(t) late and offsetAt(t) hertz high.
struct SceneReceiver {
  std::string name;
  double delay = 0.0;              // seconds, at t = 0
  double delayRate = 0.0;          // seconds per second
  double offset = 0.0;             // hertz, at t = 0
  double offsetRate = 0.0;         // hertz per second
  long long startPicoseconds = 0;  // campaign time of its sample 0, exact
  double start() const { return static_cast<double>(startPicoseconds) * 1e-12; }
  double delayAt(double t) const { return delay + delayRate * t; }
  double offsetAt(double t) const { return offset + offsetRate * t; }
};

// What a search of (first, second) should find at campaign time t: the second recording later by
// the difference of delays and higher by the difference of offsets.
inline double pairDelay(const SceneReceiver& first, const SceneReceiver& second, double t) {
  return second.delayAt(t) - first.delayAt(t);
}
inline double pairOffset(const SceneReceiver& first, const SceneReceiver& second, double t) {
  return second.offsetAt(t) - first.offsetAt(t);
}

struct SceneConfig {
  int receivers = 3;
  double seconds = 2.0;  // each recording's length
  double sampleRate = 1.0e6;
  double snrDb = 20.0;  // the emission's power over each receiver's noise, per sample
  std::uint64_t seed = 1;
  double symbolRate = 0.0;  // 0: a quarter of the sample rate
  double rolloff = 0.35;
};

// Throws std::invalid_argument naming what cannot be generated.
void validateScene(const SceneConfig& config);

// Samples in each recording: seconds * sampleRate, rounded.
long long sceneSampleCount(const SceneConfig& config);

// The receivers A, B, C, ... drawn from the seed. Delays lie within 0..40 us, drifting by up to
// 0.4 us/s; offsets within +-60 Hz, drifting by up to 1.5 Hz/s; starts up to 300 samples after the
// earliest (which is at 0). The bounds keep the terms a pair's linear truth leaves out (the offset
// drift over the pair's delay, the offset times the delay's drift) under 0.1 mHz and 0.1 ns.
std::vector<SceneReceiver> drawReceivers(const SceneConfig& config);

// The emission as a function of continuous time: unit-power QPSK symbols shaped by a tabulated
// root-raised-cosine pulse (tapered over +-8 symbols), so that any receiver reads it at any
// instant exactly, fractional and drifting delays alike.
class QpskEmission {
 public:
  // Symbols cover emission times from `earliest` to `latest` seconds.
  QpskEmission(double symbolRate, double rolloff, std::uint64_t seed, double earliest,
               double latest);
  std::complex<double> at(double time) const;

 private:
  double symbolPeriod_;
  double firstSymbolTime_;
  std::vector<std::complex<double>> symbols_;
  std::vector<double> pulse_;  // PulseSteps points per symbol over +-PulseSymbols, scaled
};

// The emission as `receiver` records it (before quantisation): sceneSampleCount samples from its
// start, plus its own noise. Deterministic for the seed and the receiver's index.
std::vector<std::complex<double>> recordScene(const SceneConfig& config,
                                              const QpskEmission& emission,
                                              const SceneReceiver& receiver, std::size_t index);

// The emission the scene's receivers hear, covering every receiver's recording.
QpskEmission sceneEmission(const SceneConfig& config, const std::vector<SceneReceiver>& receivers);

}  // namespace kestrav
