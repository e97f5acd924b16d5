#include "tools/synthetic_pair.hpp"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>

#include "platform/host/fftw_plans.hpp"

namespace kestrav {
namespace {

using Complex = std::complex<double>;

// In-place unnormalised inverse DFT of any length. Planned under the one planner lock, so that
// pairs may be generated on several threads.
void inverseTransform(std::vector<Complex>& data) {
  auto* buffer = reinterpret_cast<fftw_complex*>(data.data());
  fftw_plan raw = nullptr;
  {
    std::lock_guard lock(fftwPlannerLock());
    raw = fftw_plan_dft_1d(static_cast<int>(data.size()), buffer, buffer, FFTW_BACKWARD,
                           FFTW_ESTIMATE);
  }
  if (raw == nullptr) throw std::runtime_error("cannot plan the synthesis transform");
  const FftwPlan plan(raw);
  fftw_execute(plan.get());
}

double binFrequencyHz(std::size_t k, std::size_t n, double sampleRate) {
  const double signedBin = k <= n / 2 ? static_cast<double>(k) : -static_cast<double>(n - k);
  return signedBin / static_cast<double>(n) * sampleRate;
}

double amplitudeOf(double powerDb) { return std::pow(10.0, powerDb / 20.0); }

// An emitter whose delay and offset drift: the second recording reads the periodic waveform at
// times that are not whole samples apart, interpolated from a fourfold oversampled copy with a
// windowed sinc (error near -75 dB for the band the generator uses).
void addDrifting(const std::vector<Complex>& coefficients, double scale, const Emitter& emitter,
                 const SecondChannel& channel, double fs, ComplexPair& pair) {
  constexpr int Over = 4;
  constexpr int Half = 16;
  const std::size_t n = coefficients.size();
  const std::size_t m = Over * n;
  std::vector<Complex> first(n), over(m);
  for (std::size_t k = 0; k < n; ++k) {
    first[k] = coefficients[k] * scale;
    const std::size_t at = k <= n / 2 ? k : m - (n - k);
    over[at] = first[k];
  }
  inverseTransform(first);
  inverseTransform(over);
  const double middle = 0.5 * (static_cast<double>(n) - 1.0) / fs;
  const auto read = [&](double samples) {
    // The waveform at a fractional sample index, periodic over n.
    const double x = samples * Over;
    const double base = std::floor(x);
    Complex sum;
    for (int t = -Half + 1; t <= Half; ++t) {
      const double u = x - (base + t);
      const double sinc = u == 0.0 ? 1.0 : std::sin(std::numbers::pi * u) / (std::numbers::pi * u);
      const double w = std::pow(std::cos(0.5 * std::numbers::pi * u / (Half + 1)), 2.0);
      auto index = static_cast<long long>(base) + t;
      index %= static_cast<long long>(m);
      if (index < 0) index += static_cast<long long>(m);
      sum += over[static_cast<std::size_t>(index)] * (sinc * w);
    }
    return sum;
  };
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / fs;
    const double delay = emitter.delay + channel.delayRate * (t - middle);
    Complex value = read(static_cast<double>(i) - delay * fs);
    for (const Echo& echo : channel.echoes) {
      value += amplitudeOf(echo.powerDb) * read(static_cast<double>(i) - (delay + echo.delay) * fs);
    }
    const double phase = 2.0 * std::numbers::pi * emitter.frequencyOffset * t +
                         std::numbers::pi * channel.frequencyRate * (t - middle) * (t - middle);
    pair.first[i] += first[i];
    pair.second[i] += value * std::polar(1.0, phase);
  }
}

// Interferers draw from their own generator, so that adding one leaves the rest of the pair as
// it was.
void addInterferers(const PairConfig& config, ComplexPair& pair) {
  const std::size_t n = pair.first.size();
  const double fs = config.sampleRate;
  std::mt19937_64 random(config.seed ^ 0x9e3779b97f4a7c15ULL);
  std::normal_distribution<double> normal(0.0, std::sqrt(0.5));
  std::uniform_real_distribution<double> turn(0.0, 2.0 * std::numbers::pi);
  for (const Interferer& interferer : config.interferers) {
    auto& recording = interferer.recording == 2 ? pair.second : pair.first;
    const double amplitude = amplitudeOf(interferer.powerDb);
    if (interferer.bandwidth <= 0.0) {
      const double phase = turn(random);
      for (std::size_t i = 0; i < n; ++i) {
        recording[i] +=
            std::polar(amplitude, phase + 2.0 * std::numbers::pi * interferer.frequency *
                                              static_cast<double>(i) / fs);
      }
      continue;
    }
    std::vector<Complex> band(n);
    std::size_t bins = 0;
    for (std::size_t k = 0; k < n; ++k) {
      if (std::fabs(binFrequencyHz(k, n, fs) - interferer.frequency) <= interferer.bandwidth / 2) {
        band[k] = Complex(normal(random), normal(random));
        ++bins;
      }
    }
    if (bins == 0) continue;
    for (Complex& c : band) c *= amplitude / std::sqrt(static_cast<double>(bins));
    inverseTransform(band);
    for (std::size_t i = 0; i < n; ++i) recording[i] += band[i];
  }
}

}  // namespace

ComplexPair generatePair(const PairConfig& config) {
  if (config.sampleCount <= 0 || !(config.sampleRate > 0.0)) {
    throw std::invalid_argument("the sample count and rate must be greater than 0");
  }
  const std::size_t n = static_cast<std::size_t>(config.sampleCount);
  const double fs = config.sampleRate;
  const double bandwidth = config.bandwidth > 0.0 ? config.bandwidth : 0.6 * fs;
  std::mt19937_64 random(config.seed);
  std::normal_distribution<double> normal(0.0, std::sqrt(0.5));

  ComplexPair pair{std::vector<Complex>(n), std::vector<Complex>(n)};
  std::vector<Complex> spectrum(n);
  std::vector<Complex> delayed(n);
  for (const Emitter& emitter : config.emitters) {
    std::size_t bins = 0;
    for (std::size_t k = 0; k < n; ++k) {
      const bool inBand = std::fabs(binFrequencyHz(k, n, fs)) <= bandwidth / 2;
      spectrum[k] = inBand ? Complex(normal(random), normal(random)) : Complex();
      bins += inBand ? 1 : 0;
    }
    // The unnormalised inverse transform sums `bins` coefficients of unit mean power into each
    // sample: dividing by the bin count alone gives unit mean power per sample, then the
    // emitter's power.
    const double scale =
        std::sqrt(std::pow(10.0, emitter.powerDb / 10.0) / static_cast<double>(bins));
    const SecondChannel& channel = config.channel;
    const bool drifting = channel.delayRate != 0.0 || channel.frequencyRate != 0.0;
    if (drifting) {
      addDrifting(spectrum, scale, emitter, channel, fs, pair);
      continue;
    }
    for (std::size_t k = 0; k < n; ++k) {
      const double phase = -2.0 * std::numbers::pi * binFrequencyHz(k, n, fs) * emitter.delay;
      delayed[k] = spectrum[k] * std::polar(scale, phase);
      for (const Echo& echo : channel.echoes) {
        const double echoPhase =
            -2.0 * std::numbers::pi * binFrequencyHz(k, n, fs) * (emitter.delay + echo.delay);
        delayed[k] += spectrum[k] * std::polar(scale * amplitudeOf(echo.powerDb), echoPhase);
      }
      spectrum[k] *= scale;
    }
    inverseTransform(spectrum);
    inverseTransform(delayed);
    for (std::size_t i = 0; i < n; ++i) {
      const double phase =
          2.0 * std::numbers::pi * emitter.frequencyOffset * static_cast<double>(i) / fs;
      pair.first[i] += spectrum[i];
      pair.second[i] += delayed[i] * std::polar(1.0, phase);
    }
  }
  const double noiseScale = std::pow(10.0, -config.snrDb / 20.0);
  for (auto* recording : {&pair.first, &pair.second}) {
    for (Complex& sample : *recording) {
      sample += noiseScale * Complex(normal(random), normal(random));
    }
  }
  addInterferers(config, pair);
  return pair;
}

double fullScale(const ComplexPair& pair, double top) {
  double largest = 0.0;
  for (const auto* recording : {&pair.first, &pair.second}) {
    for (const Complex& sample : *recording) {
      largest = std::max({largest, std::fabs(sample.real()), std::fabs(sample.imag())});
    }
  }
  return largest > 0.0 ? top / largest : 0.0;
}

std::string encodeRecording(const std::vector<std::complex<double>>& samples, double scale,
                            SampleFormat format) {
  std::string bytes;
  bytes.reserve(samples.size() * static_cast<std::size_t>(bytesPerSample(format)));
  const auto append = [&bytes](const auto& value) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
  };
  for (const Complex& sample : samples) {
    for (const double component : {sample.real() * scale, sample.imag() * scale}) {
      switch (format) {
        case SampleFormat::Ci16:
          append(static_cast<std::int16_t>(std::clamp(std::lround(component), -32767L, 32767L)));
          break;
        case SampleFormat::Cf32:
          append(static_cast<float>(component));
          break;
        case SampleFormat::Ci8:
          append(static_cast<std::int8_t>(std::clamp(std::lround(component), -127L, 127L)));
          break;
        case SampleFormat::Cu8:
          append(static_cast<std::uint8_t>(std::clamp(std::lround(component), -127L, 127L) + 128));
          break;
      }
    }
  }
  return bytes;
}

SamplePairInt16 quantizePair(const ComplexPair& pair) {
  const double scale = fullScale(pair, 32767.0);
  const auto toInt16 = [scale](double value) {
    return static_cast<short>(std::clamp(std::lround(value * scale), -32767L, 32767L));
  };
  SamplePairInt16 out;
  for (const auto& [in, result] :
       {std::pair{&pair.first, &out.first}, std::pair{&pair.second, &out.second}}) {
    result->reserve(in->size());
    for (const Complex& sample : *in) {
      result->push_back(short2{toInt16(sample.real()), toInt16(sample.imag())});
    }
  }
  return out;
}

}  // namespace kestrav
