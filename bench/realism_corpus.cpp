// The precise estimate on emissions of several modulations through several channels, against
// the bound of each emission's own spectrum: seeded waveforms (QPSK with root-raised-cosine pulses
// at three symbol rates, BPSK with rectangular pulses, GMSK, wideband FM, AM with its carrier, a
// multicarrier signal, OFDM, bursts), delayed by a fraction of a sample and offset in frequency,
// with noise on both receivers at +10 dB per sample, through channels with echoes, clock offsets,
// what one receiver holds alone, 8-bit converters with DC offsets and IQ imbalance; int16,
// searched, refined and estimated as the program does. The bound follows from the emission's
// periodogram: per bin the Eckart weight gamma = P^2 / (N1 N2 + P (N1 + N2)) (a band of noise in
// one receiver adds to its N), delay information
// 2 sum (2 pi (f - fbar))^2 gamma, frequency information 2 (2 pi)^2 (N^2 / 12) sum gamma.
// Statistics are of the unflagged results; flagged ones are counted apart, with how many lie
// within three of their delay deviations. Markdown on standard output.
//
//   realism_corpus [--trials N] [--threads N] [--samples N] [--seed S] [--cases TEXT]
#include <fftw3.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "backends/host/host_paths.hpp"
#include "bench/precise_window_search.hpp"
#include "engine/search_driver.hpp"
#include "engine/search_parameters.hpp"
#include "platform/host/fftw_plans.hpp"
#include "tools/modulated_pair.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

using Complex = std::complex<double>;
constexpr double Pi = std::numbers::pi;
constexpr double SampleRate = 1.0e6;
constexpr int Extra = 512;
constexpr double Delay = 20.0e-6;
constexpr double SnrDb = 10.0;

void transform(std::vector<Complex>& data, int sign) {
  auto* buffer = reinterpret_cast<fftw_complex*>(data.data());
  fftw_plan plan = nullptr;
  {
    std::lock_guard lock(fftwPlannerLock());
    plan = fftw_plan_dft_1d(static_cast<int>(data.size()), buffer, buffer, sign, FFTW_ESTIMATE);
  }
  fftw_execute(plan);
  std::lock_guard lock(fftwPlannerLock());
  fftw_destroy_plan(plan);
}

double signedFrequency(std::size_t k, std::size_t n) {
  return (k <= n / 2 ? static_cast<double>(k) : static_cast<double>(k) - static_cast<double>(n)) /
         static_cast<double>(n);
}

// Shapes symbols (one complex value each, `span` samples apart) with a pulse given by its
// spectrum, all in the frequency domain.
template <class Pulse>
std::vector<Complex> shaped(std::mt19937_64& random, std::size_t n, int span, Pulse pulse,
                            const std::vector<Complex>& alphabet) {
  std::vector<Complex> x(n);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (std::size_t i = 0; i < n; i += static_cast<std::size_t>(span)) x[i] = alphabet[pick(random)];
  transform(x, FFTW_FORWARD);
  for (std::size_t k = 0; k < n; ++k) x[k] *= pulse(signedFrequency(k, n) * span);
  transform(x, FFTW_BACKWARD);
  return x;
}

// Low-pass Gaussian noise of unit power below `cutoff` cycles per sample.
std::vector<Complex> lowpassNoise(std::mt19937_64& random, std::size_t n, double cutoff,
                                  bool real) {
  std::normal_distribution<double> normal;
  std::vector<Complex> x(n);
  for (auto& v : x) v = Complex(normal(random), real ? 0.0 : normal(random));
  transform(x, FFTW_FORWARD);
  for (std::size_t k = 0; k < n; ++k) {
    if (std::fabs(signedFrequency(k, n)) > cutoff) x[k] = 0.0;
  }
  transform(x, FFTW_BACKWARD);
  return x;
}

void normalise(std::vector<Complex>& x) {
  double power = 0.0;
  for (const Complex& v : x) power += std::norm(v);
  const double scale = 1.0 / std::sqrt(power / static_cast<double>(x.size()));
  for (Complex& v : x) v *= scale;
}

struct Modulation {
  const char* name;
  std::vector<Complex> (*make)(std::mt19937_64&, std::size_t);
};

// Root-raised-cosine QPSK at `span` samples a symbol, f in cycles per symbol.
std::vector<Complex> rrcQpsk(std::mt19937_64& r, std::size_t n, int span, double rolloff) {
  const double s = std::sqrt(0.5);
  return shaped(r, n, span,
                [rolloff](double f) {
                  const double a = rolloff, x = std::fabs(f);
                  if (x <= 0.5 * (1 - a)) return 1.0;
                  if (x >= 0.5 * (1 + a)) return 0.0;
                  return std::sqrt(0.5 * (1 + std::cos(Pi / a * (x - 0.5 * (1 - a)))));
                },
                {{s, s}, {-s, s}, {-s, -s}, {s, -s}});
}

std::vector<Complex> modulated(std::mt19937_64& r, std::size_t n, const ModulatedEmitter& e) {
  return modulatedWaveform(e, n, SampleRate, r);
}

const Modulation modulations[] = {
    {"QPSK 200 kBd, RRC 0.35",
     [](std::mt19937_64& r, std::size_t n) { return rrcQpsk(r, n, 5, 0.35); }},
    {"QPSK 50 kBd, RRC 0.35",
     [](std::mt19937_64& r, std::size_t n) { return rrcQpsk(r, n, 20, 0.35); }},
    {"QPSK 20 kBd, RRC 0.25 (narrowband)",
     [](std::mt19937_64& r, std::size_t n) { return rrcQpsk(r, n, 50, 0.25); }},
    {"BPSK 100 kBd, rectangular",
     [](std::mt19937_64& r, std::size_t n) {
       return shaped(r, n, 10,
                     [](double f) {  // a 10-sample rectangle: its transform, Dirichlet
                       const double x = Pi * f / 10.0;
                       return std::fabs(x) < 1e-12 ? 10.0 : std::sin(10.0 * x) / std::sin(x);
                     },
                     {{1, 0}, {-1, 0}});
     }},
    {"GMSK 100 kBd, BT 0.3",
     [](std::mt19937_64& r, std::size_t n) {
       ModulatedEmitter e;
       e.waveform = Waveform::Gmsk;
       e.symbolRate = 100.0e3;
       return modulated(r, n, e);
     }},
    {"FM, 75 kHz deviation, 15 kHz audio",
     [](std::mt19937_64& r, std::size_t n) {
       std::vector<Complex> audio = lowpassNoise(r, n, 0.015, true);
       normalise(audio);
       std::vector<Complex> x(n);
       double phase = 0.0;
       for (std::size_t i = 0; i < n; ++i) {
         phase += 2 * Pi * 0.075 * std::clamp(audio[i].real() / std::sqrt(2.0), -3.0, 3.0);
         x[i] = std::polar(1.0, phase);
       }
       return x;
     }},
    {"AM with carrier, 5 kHz audio",
     [](std::mt19937_64& r, std::size_t n) {
       std::vector<Complex> audio = lowpassNoise(r, n, 0.005, true);
       normalise(audio);
       for (Complex& v : audio) v = 1.0 + 0.5 * v.real() / std::sqrt(2.0);
       return audio;
     }},
    {"multicarrier, 600 kHz",
     [](std::mt19937_64& r, std::size_t n) { return lowpassNoise(r, n, 0.3, false); }},
    {"OFDM 64 carriers, prefix 16",
     [](std::mt19937_64& r, std::size_t n) {
       ModulatedEmitter e;
       e.waveform = Waveform::Ofdm;
       return modulated(r, n, e);
     }},
    {"QPSK 200 kBd bursts, 2 of 5 ms",
     [](std::mt19937_64& r, std::size_t n) {
       ModulatedEmitter e;
       e.symbolRate = 200.0e3;
       e.burstOn = 2000;
       e.burstPeriod = 5000;
       return modulated(r, n, e);
     }},
};

// What the channel and the receivers do besides delaying and offsetting the emission.
struct Channel {
  const char* name;
  std::vector<Interferer> interferers;  // carriers (bandwidth 0) or bands of noise
  double echoDelay = 0.0, echoDb = 0.0;
  double clockPpm = 0.0;     // the second receiver's time scale
  bool eightBit = false;     // both recordings cu8, each with its own DC offset
  bool iqImbalance = false;  // the second receiver's I and Q: 1 dB and 3 degrees apart
};

const Channel channels[] = {
    {"clean", {}},
    {"carrier +25 dB in the first", {{1, 123456.7, 25.0, 0.0}}},
    {"echo +12.4 us, -6 dB", {}, 12.4e-6, -6.0},
    {"echo +2.3 us, -6 dB", {}, 2.3e-6, -6.0},
    {"echo +0.6 us, -6 dB", {}, 0.6e-6, -6.0},
    {"clock 1 ppm", {}, 0.0, 0.0, 1.0},
    {"clock 5 ppm", {}, 0.0, 0.0, 5.0},
    {"clock 20 ppm", {}, 0.0, 0.0, 20.0},
    {"5 kHz of noise +10 dB in the second", {{2, 61234.5, 10.0, 5000.0}}},
    {"cu8 with DC offsets", {}, 0.0, 0.0, 0.0, true},
    {"IQ imbalance in the second", {}, 0.0, 0.0, 0.0, false, true},
    {"20 kHz of noise +30 dB in the first", {{1, -40321.5, 30.0, 20000.0}}},
};

// The cells run: every emission clean and with a resolved echo, and the channels that strain
// the model on the emissions they strain most.
struct Cell {
  int modulation, channel;
};
std::vector<Cell> corpusCells() {
  const int emissions = static_cast<int>(std::size(modulations));
  std::vector<Cell> cells;
  for (int m = 0; m < emissions; ++m) {
    cells.push_back({m, 0});
    cells.push_back({m, 2});
  }
  for (const int m : {0, 3, 5, 6, 7}) cells.push_back({m, 1});
  for (const int m : {0, 4, 7}) {
    for (const int c : {5, 6, 7}) cells.push_back({m, c});
  }
  for (const int m : {0, 5, 7}) {
    for (const int c : {3, 4}) cells.push_back({m, c});
  }
  for (const int m : {0, 5, 7, 8}) cells.push_back({m, 8});
  for (const int m : {0, 6, 7}) cells.push_back({m, 9});
  for (const int m : {0, 5, 7}) cells.push_back({m, 10});
  for (const int m : {0, 5, 7}) cells.push_back({m, 11});
  return cells;
}

struct Bound {
  double delay = 0.0, frequency = 0.0;
};

// The bound of the emission over the segment, from its periodogram smoothed over 64 bins; bands
// of noise that one receiver holds count as that receiver's noise (carriers, a bin each, are
// left out).
Bound boundOf(const std::vector<Complex>& emission, std::size_t from, std::size_t n,
              const std::vector<Interferer>& interferers) {
  std::vector<Complex> x(emission.begin() + static_cast<long>(from),
                         emission.begin() + static_cast<long>(from + n));
  transform(x, FFTW_FORWARD);
  const double noise = std::pow(10.0, -SnrDb / 10.0) * static_cast<double>(n);  // per bin
  std::vector<double> gamma(n);
  double total = 0.0, moment = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    double p = 0.0;
    for (std::size_t j = 0; j < 64; ++j) p += std::norm(x[(k + n - 32 + j) % n]);
    p /= 64.0;
    double n1 = noise, n2 = noise;
    for (const Interferer& band : interferers) {
      const double f = signedFrequency(k, n) * SampleRate;
      if (band.bandwidth > 0.0 && std::fabs(f - band.frequency) <= band.bandwidth / 2) {
        const double perBin = std::pow(10.0, band.powerDb / 10.0) * static_cast<double>(n) *
                              SampleRate / band.bandwidth;
        (band.recording == 1 ? n1 : n2) += perBin;
      }
    }
    gamma[k] = p * p / (n1 * n2 + p * (n1 + n2));
    total += gamma[k];
    moment += gamma[k] * signedFrequency(k, n);
  }
  const double centre = moment / total;
  double spread = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    const double f = signedFrequency(k, n) - centre;
    spread += gamma[k] * f * f;
  }
  Bound b;
  b.delay = 1.0 / std::sqrt(2.0 * 4 * Pi * Pi * spread) / SampleRate;
  b.frequency = 1.0 /
                std::sqrt(2.0 * 4 * Pi * Pi * static_cast<double>(n) * static_cast<double>(n) /
                          12.0 * total) *
                SampleRate;
  return b;
}

struct Trial {
  bool found = false, flagged = false;
  double gridDelay = 0, preciseDelay = 0, gridFrequency = 0, preciseFrequency = 0;
  double sigmaDelay = 0, sigmaFrequency = 0;
  Bound bound;
};

// The emission as a receiver whose clock runs `ppm` fast sees it: sample i holds the emission at
// i - delay - ppm 1e-6 (i - middle), read from a four-times oversampled copy through a windowed
// sinc (the emission is periodic over its length).
std::vector<Complex> timeScaled(const std::vector<Complex>& emission, double delaySamples,
                                double ppm) {
  constexpr int Over = 4, Half = 16;
  const std::size_t n = emission.size(), m = Over * n;
  std::vector<Complex> spectrum = emission, over(m);
  transform(spectrum, FFTW_FORWARD);
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t to = k <= n / 2 ? k : m - (n - k);
    over[to] = spectrum[k] / static_cast<double>(n);
  }
  transform(over, FFTW_BACKWARD);
  const double middle = 0.5 * (static_cast<double>(n) - 1.0);
  std::vector<Complex> out(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double at =
        static_cast<double>(i) - delaySamples - ppm * 1e-6 * (static_cast<double>(i) - middle);
    const double x = at * Over, base = std::floor(x);
    Complex sum;
    for (int t = -Half + 1; t <= Half; ++t) {
      const double u = x - (base + t);
      const double sinc = u == 0.0 ? 1.0 : std::sin(Pi * u) / (Pi * u);
      const double w = std::pow(std::cos(0.5 * Pi * u / (Half + 1)), 2.0);
      long long index = (static_cast<long long>(base) + t) % static_cast<long long>(m);
      if (index < 0) index += static_cast<long long>(m);
      sum += over[static_cast<std::size_t>(index)] * (sinc * w);
    }
    out[i] = sum;
  }
  return out;
}

// A band of Gaussian noise of power 10^(dB/10) and `width` hertz about `centre`.
std::vector<Complex> noiseBand(std::mt19937_64& random, std::size_t n, double centre, double width,
                               double powerDb) {
  std::normal_distribution<double> normal;
  std::vector<Complex> x(n);
  for (std::size_t k = 0; k < n; ++k) {
    if (std::fabs(signedFrequency(k, n) * SampleRate - centre) <= width / 2) {
      x[k] = Complex(normal(random), normal(random));
    }
  }
  transform(x, FFTW_BACKWARD);
  normalise(x);
  for (Complex& v : x) v *= std::pow(10.0, powerDb / 20.0);
  return x;
}

// Both recordings through an 8-bit converter: full scale 4.5 times the larger rms, each with its
// own DC offset of a few codes, read back as the loader reads cu8 (offset by 127.5), widened.
SamplePairInt16 eightBitPair(const ComplexPair& pair, std::mt19937_64& random) {
  double power = 0.0;
  for (const auto* r : {&pair.first, &pair.second}) {
    double p = 0.0;
    for (const Complex& v : *r) p += std::norm(v);
    power = std::max(power, p / static_cast<double>(r->size()));
  }
  const double scale = 127.0 / (4.5 * std::sqrt(power / 2.0));
  std::uniform_real_distribution<double> dc(-4.0, 4.0);
  SamplePairInt16 out;
  for (int which = 0; which < 2; ++which) {
    const auto& in = which == 0 ? pair.first : pair.second;
    auto& to = which == 0 ? out.first : out.second;
    const double dcI = dc(random), dcQ = dc(random);
    const auto code = [](double v) { return std::clamp(std::round(v + 127.5), 0.0, 255.0); };
    to.resize(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
      const double re = code(in[i].real() * scale + dcI) - 127.5;
      const double im = code(in[i].imag() * scale + dcQ) - 127.5;
      to[i] = short2{static_cast<short>(2.0 * re * 64.0), static_cast<short>(2.0 * im * 64.0)};
    }
  }
  return out;
}

Trial runTrial(const Modulation& m, const Channel& c, int samples, std::uint64_t seed,
               ComputeBackend& backend) {
  std::mt19937_64 random(seed);
  const std::size_t n = static_cast<std::size_t>(samples + 2 * Extra);
  const double offset = std::uniform_real_distribution<double>(-3000.0, 3000.0)(random);
  const double delay =
      Delay + std::uniform_real_distribution<double>(0.0, 1.0)(random) / SampleRate;
  std::vector<Complex> emission = m.make(random, n);
  normalise(emission);
  // The second receiver's copy: delayed (and echoed) in the frequency domain, or read on its own
  // clock, then offset.
  std::vector<Complex> second(n);
  if (c.clockPpm != 0.0) {
    second = timeScaled(emission, delay * SampleRate, c.clockPpm);
  } else {
    std::vector<Complex> spectrum = emission;
    transform(spectrum, FFTW_FORWARD);
    const double echo = c.echoDelay > 0.0 ? std::pow(10.0, c.echoDb / 20.0) : 0.0;
    for (std::size_t k = 0; k < n; ++k) {
      const double f = signedFrequency(k, n) * SampleRate;
      second[k] = spectrum[k] *
                  (std::polar(1.0, -2 * Pi * f * delay) +
                   echo * std::polar(1.0, -2 * Pi * f * (delay + c.echoDelay))) /
                  static_cast<double>(n);
    }
    transform(second, FFTW_BACKWARD);
  }
  ComplexPair pair{emission, second};
  std::normal_distribution<double> normal(0.0, std::sqrt(0.5) * std::pow(10.0, -SnrDb / 20.0));
  for (std::size_t i = 0; i < n; ++i) {
    pair.second[i] *= std::polar(1.0, 2 * Pi * offset * static_cast<double>(i) / SampleRate);
    pair.first[i] += Complex(normal(random), normal(random));
    pair.second[i] += Complex(normal(random), normal(random));
  }
  for (const Interferer& interferer : c.interferers) {
    auto& hit = interferer.recording == 1 ? pair.first : pair.second;
    if (interferer.bandwidth > 0.0) {
      const std::vector<Complex> band =
          noiseBand(random, n, interferer.frequency, interferer.bandwidth, interferer.powerDb);
      for (std::size_t i = 0; i < n; ++i) hit[i] += band[i];
      continue;
    }
    const double a = std::pow(10.0, interferer.powerDb / 20.0);
    for (std::size_t i = 0; i < n; ++i) {
      hit[i] += std::polar(a, 2 * Pi * interferer.frequency * static_cast<double>(i) / SampleRate);
    }
  }
  if (c.iqImbalance) {
    // y = mu x + nu conj(x): gain g and phase phi between the branches.
    const double g = std::pow(10.0, 1.0 / 20.0), phi = 3.0 * Pi / 180.0;
    const Complex mu = 0.5 * (1.0 + g * std::polar(1.0, -phi));
    const Complex nu = 0.5 * (1.0 - g * std::polar(1.0, phi));
    for (Complex& v : pair.second) v = mu * v + nu * std::conj(v);
  }
  const SamplePairInt16 recordings = c.eightBit ? eightBitPair(pair, random) : quantizePair(pair);

  const SearchRun run = preciseWindowSearch(recordings, samples, Extra, SampleRate, 0, backend);
  Trial trial;
  trial.bound = boundOf(emission, Extra, static_cast<std::size_t>(samples), c.interferers);
  if (run.candidates.empty() || !run.candidates.front().precise) return trial;
  const SearchCandidate& best = run.candidates.front();
  const PreciseEstimate& p = *best.precise;
  // On a drifting clock the delay that holds at the middle of the first recording's segment,
  // which is the middle of the generated record.
  trial.found = std::fabs(p.delay - delay) < 0.5e-6;
  trial.gridDelay = best.delay - delay;
  trial.gridFrequency = best.frequencyOffset - offset;
  trial.preciseDelay = p.delay - delay;
  trial.preciseFrequency = p.frequencyOffset - offset;
  trial.sigmaDelay = p.sigmaDelay;
  trial.sigmaFrequency = p.sigmaFrequency;
  trial.flagged = p.flags != 0;
  return trial;
}

}  // namespace
}  // namespace kestrav

int main(int argc, char** argv) {
  using namespace kestrav;
  int trials = 24, threads = 1, samples = 262144;
  std::uint64_t seed = 99;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--trials")
      trials = std::stoi(value);
    else if (key == "--threads")
      threads = std::stoi(value);
    else if (key == "--samples")
      samples = std::stoi(value);
    else if (key == "--seed")
      seed = std::stoull(value);
    else if (key == "--cases")
      only = value;
    else {
      std::fprintf(stderr,
                   "usage: realism_corpus [--trials N] [--threads N] [--samples N] [--seed S] "
                   "[--cases TEXT]\n  --cases runs the cells whose 'emission | channel' holds "
                   "TEXT\n");
      return 2;
    }
  }
  if (argc % 2 == 0 || trials < 1 || threads < 1) {
    std::fprintf(stderr, "realism_corpus: every option takes one value; trials and threads >= 1\n");
    return 2;
  }
  std::printf("%d trials a cell, N = %d at %.0f Hz, %+.0f dB per sample, seed %llu\n\n", trials,
              samples, SampleRate, SnrDb, static_cast<unsigned long long>(seed));
  std::printf(
      "| emission | channel | delay bound | grid / bound | precise / bound | bias / bound "
      "| sigma / RMSE | offset bound | grid / bound | precise / bound | sigma / RMSE "
      "| flagged (covered) | missed |\n");
  std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const Cell& cell : corpusCells()) {
    const Modulation& m = modulations[cell.modulation];
    const Channel& c = channels[cell.channel];
    const std::string label = std::string(m.name) + " | " + c.name;
    if (!only.empty() && label.find(only) == std::string::npos) continue;
    std::vector<Trial> results(static_cast<std::size_t>(trials));
    std::atomic<int> next{0};
    // Seeds by cell, so that a filtered run repeats the full run's trials.
    const std::uint64_t cellSeed = seed * 1000003u +
                                   static_cast<std::uint64_t>(cell.modulation) * 100003u +
                                   static_cast<std::uint64_t>(cell.channel) * 10007u;
    const auto work = [&] {
      const auto backend = makeHostBackend();
      for (int i = next++; i < trials; i = next++) {
        results[static_cast<std::size_t>(i)] =
            runTrial(m, c, samples, cellSeed + static_cast<std::uint64_t>(i), *backend);
      }
    };
    {
      std::vector<std::jthread> workers;
      for (int t = 1; t < threads; ++t) workers.emplace_back(work);
      work();
    }
    // The statistics of the unflagged results; flagged ones are counted, with how many of them
    // lie within three of their own delay deviations; "missed" are unflagged results more than
    // half a microsecond off, left out of the statistics.
    double gd = 0, pd = 0, bias = 0, gf = 0, pf = 0, sd = 0, sf = 0, bd = 0, bf = 0;
    int kept = 0, flagged = 0, covered = 0, missed = 0;
    for (const Trial& t : results) {
      if (t.flagged) {
        ++flagged;
        covered += std::fabs(t.preciseDelay) <= 3.0 * t.sigmaDelay ? 1 : 0;
        continue;
      }
      if (!t.found) {
        ++missed;
        continue;
      }
      ++kept;
      gd += t.gridDelay * t.gridDelay, pd += t.preciseDelay * t.preciseDelay;
      bias += t.preciseDelay;
      gf += t.gridFrequency * t.gridFrequency, pf += t.preciseFrequency * t.preciseFrequency;
      sd += t.sigmaDelay * t.sigmaDelay, sf += t.sigmaFrequency * t.sigmaFrequency;
      bd += t.bound.delay * t.bound.delay, bf += t.bound.frequency * t.bound.frequency;
    }
    if (kept == 0) {
      std::printf("| %s | %s | - | - | - | - | - | - | - | - | - | %d (%d) | %d |\n", m.name,
                  c.name, flagged, covered, missed);
      std::fflush(stdout);
      continue;
    }
    const auto r = [&](double sum) { return std::sqrt(sum / kept); };
    std::printf(
        "| %s | %s | %.3g ns | %.2f | %.2f | %+.2f | %.2f | %.3g mHz | %.2f | %.2f | %.2f "
        "| %d (%d) | %d |\n",
        m.name, c.name, r(bd) * 1e9, r(gd) / r(bd), r(pd) / r(bd), bias / kept / r(bd),
        r(sd) / r(pd), r(bf) * 1e3, r(gf) / r(bf), r(pf) / r(bf), r(sf) / r(pf), flagged, covered,
        missed);
    std::fflush(stdout);
  }
  return 0;
}
