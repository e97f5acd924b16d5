#include "tools/modulated_pair.hpp"

#include <fftw3.h>

#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>

#include "platform/host/fftw_plans.hpp"

namespace kestrav {
namespace {

using Complex = std::complex<double>;
constexpr double Pi = std::numbers::pi;

void transform(std::vector<Complex>& data, int direction) {
  auto* buffer = reinterpret_cast<fftw_complex*>(data.data());
  fftw_plan raw = nullptr;
  {
    std::lock_guard lock(fftwPlannerLock());
    raw = fftw_plan_dft_1d(static_cast<int>(data.size()), buffer, buffer, direction, FFTW_ESTIMATE);
  }
  if (raw == nullptr) throw std::runtime_error("cannot plan the synthesis transform");
  const FftwPlan plan(raw);
  fftw_execute(plan.get());
}

double signedFrequency(std::size_t k, std::size_t n, double fs) {
  return (k <= n / 2 ? static_cast<double>(k) : -static_cast<double>(n - k)) /
         static_cast<double>(n) * fs;
}

// The root-raised-cosine response at frequency f for symbol rate R and roll-off b.
double rootRaisedCosine(double f, double R, double b) {
  const double a = std::fabs(f);
  const double edge = (1.0 - b) * R / 2.0;
  if (a <= edge) return 1.0;
  if (a > (1.0 + b) * R / 2.0) return 0.0;
  return std::sqrt(0.5 * (1.0 + std::cos(Pi / (b * R) * (a - edge))));
}

// Random symbols held for their duration, n samples, periodic.
std::vector<double> heldSymbols(std::size_t n, double samplesPerSymbol, std::mt19937_64& random,
                                bool binary) {
  std::vector<double> held(n);
  std::uniform_int_distribution<int> bit(0, 1);
  std::normal_distribution<double> normal(0.0, 1.0);
  double value = 0.0;
  long long symbol = -1;
  for (std::size_t i = 0; i < n; ++i) {
    const auto s = static_cast<long long>(std::floor(static_cast<double>(i) / samplesPerSymbol));
    if (s != symbol) {
      symbol = s;
      value = binary ? (bit(random) ? 1.0 : -1.0) : normal(random);
    }
    held[i] = value;
  }
  return held;
}

// Smooths a periodic sequence with a Gaussian of `sigma` samples (circularly, in frequency).
void gaussianSmooth(std::vector<double>& x, double sigma) {
  std::vector<Complex> spectrum(x.begin(), x.end());
  transform(spectrum, FFTW_FORWARD);
  const std::size_t n = x.size();
  for (std::size_t k = 0; k < n; ++k) {
    const double f = signedFrequency(k, n, 1.0);
    spectrum[k] *= std::exp(-2.0 * Pi * Pi * sigma * sigma * f * f) / static_cast<double>(n);
  }
  transform(spectrum, FFTW_BACKWARD);
  for (std::size_t i = 0; i < n; ++i) x[i] = spectrum[i].real();
}

}  // namespace

std::vector<Complex> modulatedWaveform(const ModulatedEmitter& e, std::size_t n, double fs,
                                       std::mt19937_64& random) {
  std::vector<Complex> w(n);
  const double sps = fs / e.symbolRate;
  switch (e.waveform) {
    case Waveform::Psk: {
      // QPSK impulses at the symbol instants, shaped in frequency by the root-raised cosine.
      std::uniform_int_distribution<int> quadrant(0, 3);
      for (double t = 0.0; t < static_cast<double>(n); t += sps) {
        w[static_cast<std::size_t>(t)] = std::polar(1.0, Pi / 4 + Pi / 2 * quadrant(random));
      }
      transform(w, FFTW_FORWARD);
      for (std::size_t k = 0; k < n; ++k) {
        w[k] *= rootRaisedCosine(signedFrequency(k, n, fs), e.symbolRate, e.rolloff);
      }
      transform(w, FFTW_BACKWARD);
      break;
    }
    case Waveform::Gmsk:
    case Waveform::Fm: {
      // GMSK: Gaussian-filtered NRZ at modulation index 1/2 (BT 0.3); FM: a smoothed random
      // message at a deviation of twice its bandwidth.
      const bool gmsk = e.waveform == Waveform::Gmsk;
      std::vector<double> message = heldSymbols(n, gmsk ? sps : sps / 4, random, gmsk);
      gaussianSmooth(message, gmsk ? 0.1325 * sps / 0.3 : sps / 2);
      const double step = gmsk ? Pi / 2 / sps : 2.0 * Pi * 2.0 * e.symbolRate / fs;
      double phase = 0.0;
      for (std::size_t i = 0; i < n; ++i) {
        phase += step * message[i];
        w[i] = std::polar(1.0, phase);
      }
      break;
    }
    case Waveform::Ofdm: {
      // QPSK on every carrier but DC, each symbol preceded by a copy of its tail.
      const auto carriers = static_cast<std::size_t>(e.ofdmCarriers);
      const auto prefix = static_cast<std::size_t>(e.ofdmPrefix);
      std::uniform_int_distribution<int> quadrant(0, 3);
      std::vector<Complex> symbol(carriers);
      for (std::size_t start = 0; start < n; start += carriers + prefix) {
        for (std::size_t c = 0; c < carriers; ++c) {
          symbol[c] = c == 0 ? Complex() : std::polar(1.0, Pi / 4 + Pi / 2 * quadrant(random));
        }
        transform(symbol, FFTW_BACKWARD);
        for (std::size_t i = 0; i < carriers + prefix && start + i < n; ++i) {
          w[start + i] = symbol[(i + carriers - prefix) % carriers];
        }
      }
      break;
    }
  }
  if (e.burstPeriod > 0) {
    for (std::size_t i = 0; i < n; ++i) {
      if (static_cast<int>(i % static_cast<std::size_t>(e.burstPeriod)) >= e.burstOn) w[i] = 0.0;
    }
  }
  // Unit mean power over the samples that carry the signal, then the emitter's power.
  double power = 0.0;
  std::size_t on = 0;
  for (const Complex& v : w) {
    power += std::norm(v);
    on += std::norm(v) > 0.0 ? 1 : 0;
  }
  const double scale =
      power > 0.0 ? std::sqrt(std::pow(10.0, e.powerDb / 10.0) * static_cast<double>(on) / power)
                  : 0.0;
  for (Complex& v : w) v *= scale;
  return w;
}

ComplexPair generateModulatedPair(const ModulatedPairConfig& config) {
  if (config.sampleCount <= 0 || !(config.sampleRate > 0.0)) {
    throw std::invalid_argument("the sample count and rate must be greater than 0");
  }
  const auto n = static_cast<std::size_t>(config.sampleCount);
  const double fs = config.sampleRate;
  std::mt19937_64 random(config.seed);
  ComplexPair pair{std::vector<Complex>(n, config.firstDc),
                   std::vector<Complex>(n, config.secondDc)};
  for (const ModulatedEmitter& emitter : config.emitters) {
    const std::vector<Complex> w = modulatedWaveform(emitter, n, fs, random);
    std::vector<Complex> spectrum = w;
    transform(spectrum, FFTW_FORWARD);
    std::vector<Complex> delayed = spectrum;
    const double echoGain =
        emitter.echoDelay != 0.0 ? std::pow(10.0, emitter.echoPowerDb / 20.0) : 0.0;
    for (std::size_t k = 0; k < n; ++k) {
      const double f = signedFrequency(k, n, fs);
      // The direct path, and the echo a further echoDelay later.
      delayed[k] *= std::polar(1.0 / static_cast<double>(n), -2.0 * Pi * f * emitter.delay) +
                    echoGain * std::polar(1.0 / static_cast<double>(n),
                                          -2.0 * Pi * f * (emitter.delay + emitter.echoDelay));
    }
    transform(delayed, FFTW_BACKWARD);
    // The first receiver's own echo, seen by the first recording alone.
    std::vector<Complex> seen = w;
    if (emitter.firstEchoDelay != 0.0) {
      const double gain = std::pow(10.0, emitter.firstEchoPowerDb / 20.0);
      for (std::size_t k = 0; k < n; ++k) {
        const double f = signedFrequency(k, n, fs);
        spectrum[k] *=
            std::polar(gain / static_cast<double>(n), -2.0 * Pi * f * emitter.firstEchoDelay);
      }
      transform(spectrum, FFTW_BACKWARD);
      for (std::size_t i = 0; i < n; ++i) seen[i] += spectrum[i];
    }
    for (std::size_t i = 0; i < n; ++i) {
      const double phase = 2.0 * Pi * emitter.frequencyOffset * static_cast<double>(i) / fs;
      pair.first[i] += seen[i];
      pair.second[i] += delayed[i] * std::polar(1.0, phase);
    }
  }
  std::normal_distribution<double> normal(0.0, std::sqrt(0.5));
  const double noiseScale = std::pow(10.0, -config.snrDb / 20.0);
  for (auto* recording : {&pair.first, &pair.second}) {
    for (Complex& sample : *recording)
      sample += noiseScale * Complex(normal(random), normal(random));
  }
  return pair;
}

}  // namespace kestrav
