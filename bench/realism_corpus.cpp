// The precise estimate on emissions of several modulations through several channels, against
// the bound of each emission's own spectrum: seeded waveforms synthesised here (QPSK with
// root-raised-cosine pulses, BPSK with rectangular pulses, wideband FM, AM with its carrier, a
// multicarrier signal), delayed by a fraction of a sample and offset in frequency, with noise on
// both receivers at +10 dB per sample, int16, searched, refined and estimated as the program
// does. The bound follows from the emission's periodogram: per bin the Eckart weight
// gamma = P^2 / (N^2 + 2 P N), delay information 2 sum (2 pi (f - fbar))^2 gamma, frequency
// information 2 (2 pi)^2 (N^2 / 12) sum gamma. Markdown on standard output.
//
//   realism_corpus [--trials N] [--threads N] [--samples N] [--seed S]
#include <fftw3.h>

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

const Modulation modulations[] = {
    {"QPSK 200 kBd, RRC 0.35",
     [](std::mt19937_64& r, std::size_t n) {
       const double s = std::sqrt(0.5);
       return shaped(r, n, 5,
                     [](double f) {  // root raised cosine, f in cycles per symbol
                       const double a = 0.35, x = std::fabs(f);
                       if (x <= 0.5 * (1 - a)) return 1.0;
                       if (x >= 0.5 * (1 + a)) return 0.0;
                       return std::sqrt(0.5 * (1 + std::cos(Pi / a * (x - 0.5 * (1 - a)))));
                     },
                     {{s, s}, {-s, s}, {-s, -s}, {s, -s}});
     }},
    {"BPSK 100 kBd, rectangular",
     [](std::mt19937_64& r, std::size_t n) {
       return shaped(r, n, 10,
                     [](double f) {  // a 10-sample rectangle: its transform, Dirichlet
                       const double x = Pi * f / 10.0;
                       return std::fabs(x) < 1e-12 ? 10.0 : std::sin(10.0 * x) / std::sin(x);
                     },
                     {{1, 0}, {-1, 0}});
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
};

struct Channel {
  const char* name;
  std::vector<Interferer> interferers;
  double echoDelay = 0.0, echoDb = 0.0;
};

const Channel channels[] = {
    {"clean", {}},
    {"carrier +25 dB in the first", {{1, 123456.7, 25.0, 0.0}}},
    {"echo +12.4 us, -6 dB", {}, 12.4e-6, -6.0},
};

struct Bound {
  double delay = 0.0, frequency = 0.0;
};

// The bound of the emission over the segment, from its periodogram smoothed over 64 bins.
Bound boundOf(const std::vector<Complex>& emission, std::size_t from, std::size_t n) {
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
    gamma[k] = p * p / (noise * noise + 2.0 * p * noise);
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

Trial runTrial(const Modulation& m, const Channel& c, int samples, std::uint64_t seed,
               ComputeBackend& backend) {
  std::mt19937_64 random(seed);
  const std::size_t n = static_cast<std::size_t>(samples + 2 * Extra);
  const double offset = std::uniform_real_distribution<double>(-3000.0, 3000.0)(random);
  const double delay =
      Delay + std::uniform_real_distribution<double>(0.0, 1.0)(random) / SampleRate;
  std::vector<Complex> emission = m.make(random, n);
  normalise(emission);
  // The second receiver's copy: delayed (and echoed) in the frequency domain, then offset.
  std::vector<Complex> spectrum = emission, second(n);
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
  ComplexPair pair{emission, second};
  std::normal_distribution<double> normal(0.0, std::sqrt(0.5) * std::pow(10.0, -SnrDb / 20.0));
  for (std::size_t i = 0; i < n; ++i) {
    pair.second[i] *= std::polar(1.0, 2 * Pi * offset * static_cast<double>(i) / SampleRate);
    pair.first[i] += Complex(normal(random), normal(random));
    pair.second[i] += Complex(normal(random), normal(random));
  }
  for (const Interferer& interferer : c.interferers) {
    auto& hit = interferer.recording == 1 ? pair.first : pair.second;
    const double a = std::pow(10.0, interferer.powerDb / 20.0);
    for (std::size_t i = 0; i < n; ++i) {
      hit[i] += std::polar(a, 2 * Pi * interferer.frequency * static_cast<double>(i) / SampleRate);
    }
  }
  const SamplePairInt16 recordings = quantizePair(pair);

  const SearchRun run = preciseWindowSearch(recordings, samples, Extra, SampleRate, 0, backend);
  Trial trial;
  trial.bound = boundOf(emission, Extra, static_cast<std::size_t>(samples));
  if (run.candidates.empty() || !run.candidates.front().precise) return trial;
  const SearchCandidate& best = run.candidates.front();
  const PreciseEstimate& p = *best.precise;
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
  int trials = 16, threads = 2, samples = 262144;
  std::uint64_t seed = 99;
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
    else {
      std::fprintf(stderr,
                   "usage: realism_corpus [--trials N] [--threads N] [--samples N] [--seed S]\n");
      return 2;
    }
  }
  std::printf("%d trials a cell, N = %d at %.0f Hz, %+.0f dB per sample, seed %llu\n\n", trials,
              samples, SampleRate, SnrDb, static_cast<unsigned long long>(seed));
  std::printf(
      "| emission | channel | delay bound | grid / bound | precise / bound | sigma / RMSE "
      "| offset bound | grid / bound | precise / bound | sigma / RMSE | flagged | missed |\n");
  std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  std::size_t cell = 0;
  for (const Modulation& m : modulations) {
    for (const Channel& c : channels) {
      std::vector<Trial> results(static_cast<std::size_t>(trials));
      std::atomic<int> next{0};
      const auto work = [&] {
        const auto backend = makeHostBackend();
        for (int i = next++; i < trials; i = next++) {
          results[static_cast<std::size_t>(i)] =
              runTrial(m, c, samples, seed * 1000003u + cell * 10007u + i, *backend);
        }
      };
      {
        std::vector<std::jthread> workers;
        for (int t = 1; t < threads; ++t) workers.emplace_back(work);
        work();
      }
      ++cell;
      double gd = 0, pd = 0, gf = 0, pf = 0, sd = 0, sf = 0, bd = 0, bf = 0;
      int kept = 0, flagged = 0, missed = 0;
      for (const Trial& t : results) {
        if (!t.found) {
          ++missed;
          continue;
        }
        ++kept;
        flagged += t.flagged ? 1 : 0;
        gd += t.gridDelay * t.gridDelay, pd += t.preciseDelay * t.preciseDelay;
        gf += t.gridFrequency * t.gridFrequency, pf += t.preciseFrequency * t.preciseFrequency;
        sd += t.sigmaDelay * t.sigmaDelay, sf += t.sigmaFrequency * t.sigmaFrequency;
        bd += t.bound.delay * t.bound.delay, bf += t.bound.frequency * t.bound.frequency;
      }
      const auto r = [&](double sum) { return kept > 0 ? std::sqrt(sum / kept) : 0.0; };
      std::printf(
          "| %s | %s | %.3g ns | %.2f | %.2f | %.2f | %.3g mHz | %.2f | %.2f | %.2f | %d | %d |\n",
          m.name, c.name, r(bd) * 1e9, r(gd) / r(bd), r(pd) / r(bd), r(sd) / r(pd), r(bf) * 1e3,
          r(gf) / r(bf), r(pf) / r(bf), r(sf) / r(pf), flagged, missed);
      std::fflush(stdout);
    }
  }
  return 0;
}
