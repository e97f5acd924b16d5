// The precise estimate where its model is strained: seeded generated pairs with a carrier in one
// recording, a clock offset at the second receiver, echoes at the second receiver and a narrow
// signal, searched, refined and estimated as the program does. Per case: RMSE over the clean
// signal's bound (the direct path's, for echoes) of the grid refinement and the precise
// estimate, the reported deviation over the RMSE, the drift estimates and how many results were
// flagged. Markdown on standard output.
//
//   precise_scenarios [--trials N] [--threads N] [--samples N] [--seed S] [--case NAME,...]
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "backends/host/host_paths.hpp"
#include "bench/precise_window_search.hpp"
#include "engine/search_driver.hpp"
#include "engine/search_parameters.hpp"
#include "stages/precise/stein.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

constexpr double SampleRate = 1.0e6;
constexpr int Extra = 512;
constexpr double Delay = 20.37e-6;

struct Case {
  const char* name;
  double snrDb;
  double bandShare;  // of the sample rate
  double delayRate = 0.0;
  std::vector<Echo> echoes = {};
  std::vector<Interferer> interferers = {};
};

std::vector<Case> allCases() {
  return {
      {"clean", 10.0, 0.6},
      {"carrier +25 dB, first only", 10.0, 0.6, 0.0, {}, {{1, 123456.7, 25.0, 0.0}}},
      {"carrier +25 dB, second only", 10.0, 0.6, 0.0, {}, {{2, -87654.3, 25.0, 0.0}}},
      {"narrowband 2 kHz +20 dB, first only", 10.0, 0.6, 0.0, {}, {{1, 50000.0, 20.0, 2000.0}}},
      {"clock 5 ppm", 10.0, 0.6, 5e-6},
      {"clock 20 ppm", 10.0, 0.6, 20e-6},
      {"echo +12.4 us, -3 dB", 10.0, 0.6, 0.0, {{12.4e-6, -3.0}}},
      {"echo +40 us, -3 dB, 40 dB SNR", 40.0, 0.6, 0.0, {{40e-6, -3.0}}},
      {"echo +40 us, -3 dB", 10.0, 0.6, 0.0, {{40e-6, -3.0}}},
      {"echo +12.4 us, -20 dB", 10.0, 0.6, 0.0, {{12.4e-6, -20.0}}},
      {"echo +2.3 us, -3 dB", 10.0, 0.6, 0.0, {{2.3e-6, -3.0}}},
      {"echo +0.6 us, -3 dB", 10.0, 0.6, 0.0, {{0.6e-6, -3.0}}},
      {"narrow signal 2 %, -10 dB", -10.0, 0.02},
  };
}

struct Options {
  int trials = 40;
  int threads = 2;
  int samples = 262144;
  std::uint64_t seed = 77;
  std::vector<std::string> only;
};

struct Trial {
  bool found = false;
  double refinedDelay = 0, refinedFrequency = 0, preciseDelay = 0, preciseFrequency = 0;
  double sigmaDelay = 0, sigmaFrequency = 0;
  double delayRate = 0, sigmaDelayRate = 0;
  bool flagged = false;
};

Trial runTrial(const Options& options, const Case& c, std::uint64_t seed, ComputeBackend& backend) {
  const int n = options.samples;
  std::mt19937_64 random(seed);
  const double offsetHz = std::uniform_real_distribution<double>(-3000.0, 3000.0)(random);
  const double fraction = std::uniform_real_distribution<double>(0.0, 1.0)(random);
  const double delay = Delay + fraction / SampleRate;
  PairConfig config;
  config.sampleCount = n + 2 * Extra;
  config.sampleRate = SampleRate;
  config.bandwidth = c.bandShare * SampleRate;
  config.emitters = {Emitter{delay, offsetHz, 0.0}};
  config.channel.delayRate = c.delayRate;
  config.channel.echoes = c.echoes;
  config.snrDb = c.snrDb;
  config.interferers = c.interferers;
  config.seed = random();
  const SamplePairInt16 recordings = quantizePair(generatePair(config));

  const SearchRun run = preciseWindowSearch(recordings, n, Extra, SampleRate, 3, backend);
  Trial trial;
  // The candidate nearest the direct path.
  const SearchCandidate* best = nullptr;
  for (const SearchCandidate& candidate : run.candidates) {
    if (!candidate.precise) continue;
    if (best == nullptr || std::fabs(candidate.delay - delay) < std::fabs(best->delay - delay)) {
      best = &candidate;
    }
  }
  if (best == nullptr) return trial;
  const PreciseEstimate& p = *best->precise;
  trial.found = true;
  trial.refinedDelay = best->delay - delay;
  trial.refinedFrequency = best->frequencyOffset - offsetHz;
  trial.preciseDelay = p.delay - delay;
  trial.preciseFrequency = p.frequencyOffset - offsetHz;
  trial.sigmaDelay = p.sigmaDelay;
  trial.sigmaFrequency = p.sigmaFrequency;
  trial.delayRate = p.delayRate - c.delayRate;
  trial.sigmaDelayRate = p.sigmaDelayRate;
  trial.flagged = p.flags != 0;
  return trial;
}

double rms(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x * x;
  return v.empty() ? 0.0 : std::sqrt(s / static_cast<double>(v.size()));
}
double mean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return v.empty() ? 0.0 : s / static_cast<double>(v.size());
}

}  // namespace
}  // namespace kestrav

int main(int argc, char** argv) {
  using namespace kestrav;
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--trials")
      options.trials = std::stoi(value);
    else if (key == "--threads")
      options.threads = std::stoi(value);
    else if (key == "--samples")
      options.samples = std::stoi(value);
    else if (key == "--seed")
      options.seed = std::stoull(value);
    else if (key == "--case") {
      for (std::size_t at = 0; at <= value.size();) {
        const std::size_t end = std::min(value.find(',', at), value.size());
        options.only.push_back(value.substr(at, end - at));
        at = end + 1;
      }
    } else {
      std::fprintf(stderr,
                   "usage: precise_scenarios [--trials N] [--threads N] [--samples N] "
                   "[--seed S] [--case SUBSTRING,...]\n");
      return 2;
    }
  }
  std::printf("%d trials a case, N = %d at %.0f Hz, seed %llu\n\n", options.trials, options.samples,
              SampleRate, static_cast<unsigned long long>(options.seed));
  std::printf(
      "| case | delay bound | grid / bound | precise / bound | bias / bound | sigma / RMSE "
      "| offset bound | grid / bound | precise / bound | sigma / RMSE | rate error "
      "(ppm) | rate sigma / error | flagged | missed |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  const std::vector<Case> cases = allCases();
  for (std::size_t ci = 0; ci < cases.size(); ++ci) {
    const Case& c = cases[ci];
    bool wanted = options.only.empty();
    for (const std::string& s : options.only)
      wanted |= std::string(c.name).find(s) != std::string::npos;
    if (!wanted) continue;
    std::vector<Trial> trials(static_cast<std::size_t>(options.trials));
    std::atomic<int> next{0};
    const auto work = [&] {
      const auto backend = makeHostBackend();
      for (int i = next++; i < options.trials; i = next++) {
        trials[static_cast<std::size_t>(i)] =
            runTrial(options, c, options.seed * 1000003u + ci * 10007u + i, *backend);
      }
    };
    {
      std::vector<std::jthread> workers;
      for (int t = 1; t < options.threads; ++t) workers.emplace_back(work);
      work();
    }
    std::vector<double> rd, rf, pd, pf, sd, sf, er, sr;
    int flagged = 0, missed = 0;
    for (const Trial& t : trials) {
      if (!t.found) {
        ++missed;
        continue;
      }
      flagged += t.flagged ? 1 : 0;
      rd.push_back(t.refinedDelay), rf.push_back(t.refinedFrequency);
      pd.push_back(t.preciseDelay), pf.push_back(t.preciseFrequency);
      sd.push_back(t.sigmaDelay), sf.push_back(t.sigmaFrequency);
      er.push_back(t.delayRate), sr.push_back(t.sigmaDelayRate);
    }
    const double snr = std::pow(10.0, c.snrDb / 10.0) / c.bandShare;
    const SteinBound bound =
        steinBound(c.bandShare * SampleRate, options.samples / SampleRate, snr, snr);
    const double erms = rms(er);
    std::printf(
        "| %s | %.3g ns | %.2f | %.2f | %+.2f | %.2f | %.3g mHz | %.2f | %.2f | %.2f | "
        "%.3g | %.2f | %d | %d |\n",
        c.name, bound.delay * 1e9, rms(rd) / bound.delay, rms(pd) / bound.delay,
        mean(pd) / bound.delay, rms(sd) / rms(pd), bound.frequency * 1e3, rms(rf) / bound.frequency,
        rms(pf) / bound.frequency, rms(sf) / rms(pf), erms * 1e6, erms > 0 ? rms(sr) / erms : 0.0,
        flagged, missed);
    std::fflush(stdout);
  }
  return 0;
}
