// Monte Carlo of the refined and the precise estimates against Stein's bound: generated pairs
// (a periodic band-limited white signal over 0.6 fs, an exact fractional delay and frequency
// offset, independent noise at a per-sample SNR, int16), searched and refined as the program
// does, then estimated precisely. Prints bias, RMSE and RMSE over the bound of both estimates,
// the reported deviation against the measured RMSE, and the count of wrong peaks, as Markdown.
//
//   precision_bench [--trials N] [--cells SNR/FRACTION,...] [--threads N] [--samples N] [--seed S]
//                   [--each]   (--each lists every trial's errors on standard error)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "engine/search_driver.hpp"
#include "engine/search_parameters.hpp"
#include "stages/precise/precise_estimate.hpp"
#include "stages/precise/stein.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

constexpr double SampleRate = 1.0e6;
constexpr double BandShare = 0.6;  // of the sample rate
constexpr int IntegerDelay = 3;    // samples; the fraction is added to it
constexpr int Extra = 256;         // samples generated beyond the segments on each side
constexpr double MostOffsetHz = 4000.0;

struct Cell {
  double snrDb;
  double fraction;
};

struct Options {
  int trials = 20;
  int threads = 2;
  int samples = 262144;
  std::uint64_t seed = 2024;
  bool each = false;
  std::vector<Cell> cells;
};

struct Trial {
  bool found = false;
  double refinedDelay = 0.0, refinedFrequency = 0.0;  // errors: seconds, hertz
  double preciseDelay = 0.0, preciseFrequency = 0.0;
  double sigmaDelay = 0.0, sigmaFrequency = 0.0;
  bool converged = false;
};

Trial runTrial(const Options& options, const Cell& cell, std::uint64_t seed,
               ComputeBackend& backend, PrecisePrimitives& primitives) {
  const int n = options.samples;
  std::mt19937_64 random(seed);
  const double offsetHz =
      std::uniform_real_distribution<double>(-MostOffsetHz, MostOffsetHz)(random);
  const double delay = (IntegerDelay + cell.fraction) / SampleRate;
  PairConfig config;
  config.sampleCount = n + 2 * Extra;
  config.sampleRate = SampleRate;
  config.emitters = {Emitter{delay, offsetHz, 0.0}};
  config.snrDb = cell.snrDb;
  config.seed = random();
  const SamplePairInt16 recordings = quantizePair(generatePair(config));

  // The segments as the loader cuts them: the first from its start, the second from the
  // window's first lag on, lagCount samples longer.
  SearchParameters parameters;
  parameters.sampleCount = n;
  parameters.sampleRate = SampleRate;
  parameters.centreDelay = (IntegerDelay + 0.5) / SampleRate;
  parameters.delayWindow = 16.0 / SampleRate;
  parameters.frequencySpan = 16384.0;
  parameters.peakThreshold = 12.0;
  const LagWindow window = validateSearch(parameters);
  const auto firstStart = recordings.first.begin() + Extra;
  const auto secondStart = recordings.second.begin() + Extra + window.firstLag;
  SamplePair pair;
  pair.first.assign(firstStart, firstStart + n);
  pair.second.assign(secondStart, secondStart + n + window.lagCount);

  Trial trial;
  const std::vector<SearchCandidate> candidates =
      runSearch(pair, parameters, window, backend).candidates;
  if (candidates.empty()) return trial;
  const SearchCandidate& best = candidates.front();
  FineRequest fine{PointerPair<short2>{pair.first.data(), pair.second.data() + best.lagIndex}, n,
                   SampleRate, best.frequencyOffset};
  fine.traceHalfWidth = 3;
  const Refinement refinement = backend.refine(fine);

  PreciseRequest request;
  request.sampleCount = n;
  // The recording itself offers the margin beyond the loaded segment.
  const int secondAt = Extra + window.firstLag + best.lagIndex;
  request.segments = PointerPair<short2>{pair.first.data(), recordings.second.data() + secondAt};
  request.secondBefore = secondAt;
  request.secondAfter = static_cast<int>(recordings.second.size()) - secondAt - n;
  request.sampleRate = SampleRate;
  request.lagDelay = best.delay;
  request.delay = best.delay + refinement.delay.correction;
  request.frequencyOffset = best.frequencyOffset + refinement.frequency.correction;
  request.refinement = refinement;
  const PreciseEstimate precise = estimatePrecisely(request, primitives);

  trial.found = true;
  trial.refinedDelay = request.delay - delay;
  trial.refinedFrequency = request.frequencyOffset - offsetHz;
  trial.preciseDelay = precise.delay - delay;
  trial.preciseFrequency = precise.frequencyOffset - offsetHz;
  trial.sigmaDelay = precise.sigmaDelay;
  trial.sigmaFrequency = precise.sigmaFrequency;
  trial.converged = precise.converged;
  return trial;
}

struct Moments {
  double bias = 0.0;
  double rmse = 0.0;
};
template <class Pick>
Moments moments(const std::vector<const Trial*>& trials, Pick pick) {
  Moments m;
  if (trials.empty()) return m;
  for (const Trial* t : trials) {
    m.bias += pick(*t);
    m.rmse += pick(*t) * pick(*t);
  }
  const auto count = static_cast<double>(trials.size());
  m.bias /= count;
  m.rmse = std::sqrt(m.rmse / count);
  return m;
}

struct CellSummary {
  Cell cell;
  int outliers = 0;
  int unconverged = 0;
  SteinBound bound{};
  Moments refinedDelay, preciseDelay, refinedFrequency, preciseFrequency;
  double sigmaDelay = 0.0, sigmaFrequency = 0.0;  // rms of the reported deviations
};

CellSummary summarise(const Options& options, const Cell& cell, const std::vector<Trial>& trials) {
  CellSummary s;
  s.cell = cell;
  const double snr = std::pow(10.0, cell.snrDb / 10.0) / BandShare;  // within the band
  s.bound = steinBound(BandShare * SampleRate, options.samples / SampleRate, snr, snr);
  // A wrong peak is off by a sample period or a bin of the record; it is counted, not averaged.
  const double binHz = SampleRate / options.samples;
  std::vector<const Trial*> kept;
  for (const Trial& t : trials) {
    const bool wrong = !t.found || std::fabs(t.preciseDelay) > 0.5 / SampleRate ||
                       std::fabs(t.preciseFrequency) > 0.5 * binHz;
    if (wrong) {
      ++s.outliers;
      continue;
    }
    kept.push_back(&t);
    s.unconverged += t.converged ? 0 : 1;
  }
  s.refinedDelay = moments(kept, [](const Trial& t) { return t.refinedDelay; });
  s.preciseDelay = moments(kept, [](const Trial& t) { return t.preciseDelay; });
  s.refinedFrequency = moments(kept, [](const Trial& t) { return t.refinedFrequency; });
  s.preciseFrequency = moments(kept, [](const Trial& t) { return t.preciseFrequency; });
  s.sigmaDelay = moments(kept, [](const Trial& t) { return t.sigmaDelay; }).rmse;
  s.sigmaFrequency = moments(kept, [](const Trial& t) { return t.sigmaFrequency; }).rmse;
  return s;
}

std::vector<Trial> runCell(const Options& options, std::size_t cellIndex) {
  const Cell& cell = options.cells[cellIndex];
  std::vector<Trial> trials(static_cast<std::size_t>(options.trials));
  std::atomic<int> next{0};
  const auto work = [&] {
    const auto backend = makeHostBackend();
    const auto primitives = makeHostPrecisePrimitives();
    for (int i = next++; i < options.trials; i = next++) {
      // One seed per cell and trial, whatever the thread count.
      const std::uint64_t seed = options.seed * 1000003u + cellIndex * 10007u + i;
      trials[static_cast<std::size_t>(i)] = runTrial(options, cell, seed, *backend, *primitives);
    }
  };
  {
    std::vector<std::jthread> workers;
    for (int t = 1; t < options.threads; ++t) workers.emplace_back(work);
    work();
  }  // every worker joined: the trials are complete
  for (std::size_t i = 0; options.each && i < trials.size(); ++i) {
    const Trial& t = trials[i];
    std::fprintf(stderr,
                 "  trial %3zu: delay %+.4g ns (sigma %.4g), frequency %+.4g mHz (sigma %.4g)%s\n",
                 i, t.preciseDelay * 1e9, t.sigmaDelay * 1e9, t.preciseFrequency * 1e3,
                 t.sigmaFrequency * 1e3, t.found ? "" : " no candidate");
  }
  return trials;
}

// One quantity's columns of a cell: its bound, both estimates' moments and the reported sigma.
struct Quantity {
  double bound, sigma;
  const Moments& refined;
  const Moments& precise;
};

template <class Columns>
void printTable(const char* title, double unit, const std::vector<CellSummary>& cells,
                const Columns& columnsOf) {
  const auto ratio = [](double a, double b) { return b > 0.0 ? a / b : 0.0; };
  std::printf("\n### %s\n\n", title);
  std::printf(
      "| SNR (dB) | fraction | bound | refined bias | refined RMSE | refined / bound "
      "| precise bias | precise RMSE | precise / bound | reported sigma | sigma / RMSE "
      "| outliers |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const CellSummary& s : cells) {
    const Quantity q = columnsOf(s);
    std::printf(
        "| %+.0f | %.2f | %.4g | %+.4g | %.4g | %.2f | %+.4g | %.4g | %.2f | %.4g | %.2f "
        "| %d |\n",
        s.cell.snrDb, s.cell.fraction, q.bound * unit, q.refined.bias * unit, q.refined.rmse * unit,
        ratio(q.refined.rmse, q.bound), q.precise.bias * unit, q.precise.rmse * unit,
        ratio(q.precise.rmse, q.bound), q.sigma * unit, ratio(q.sigma, q.precise.rmse), s.outliers);
  }
}

void printTables(const std::vector<CellSummary>& cells) {
  const auto ratio = [](double a, double b) { return b > 0.0 ? a / b : 0.0; };
  printTable("Delay (ns)", 1e9, cells, [](const CellSummary& s) {
    return Quantity{s.bound.delay, s.sigmaDelay, s.refinedDelay, s.preciseDelay};
  });
  printTable("Frequency offset (mHz)", 1e3, cells, [](const CellSummary& s) {
    return Quantity{s.bound.frequency, s.sigmaFrequency, s.refinedFrequency, s.preciseFrequency};
  });
  int delayMet = 0, frequencyMet = 0, sigmaMet = 0, unconverged = 0;
  for (const CellSummary& s : cells) {
    delayMet += ratio(s.preciseDelay.rmse, s.bound.delay) <= 1.2 ? 1 : 0;
    frequencyMet += ratio(s.preciseFrequency.rmse, s.bound.frequency) <= 1.2 ? 1 : 0;
    sigmaMet += std::fabs(ratio(s.sigmaDelay, s.preciseDelay.rmse) - 1.0) <= 0.25 &&
                        std::fabs(ratio(s.sigmaFrequency, s.preciseFrequency.rmse) - 1.0) <= 0.25
                    ? 1
                    : 0;
    unconverged += s.unconverged;
  }
  const int total = static_cast<int>(cells.size());
  std::printf(
      "\nPrecise RMSE within 1.2x of the bound: delay %d of %d cells, frequency %d of %d. "
      "Reported sigma within 25 %% of the RMSE (both): %d of %d. Unconverged trials: %d.\n",
      delayMet, total, frequencyMet, total, sigmaMet, total, unconverged);
}

std::vector<Cell> allCells() {
  std::vector<Cell> cells;
  for (const double snr : {50.0, 30.0, 10.0, 0.0, -10.0, -15.0}) {
    for (const double fraction : {0.0, 0.1, 0.25, 0.5}) cells.push_back({snr, fraction});
  }
  return cells;
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: precision_bench [--trials N] [--cells SNR/FRACTION,...] "
               "[--threads N] [--samples N] [--seed S]\n");
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const auto value = [&] {
      if (i + 1 >= argc) usage();
      return std::string(argv[++i]);
    };
    if (!std::strcmp(argv[i], "--trials")) {
      options.trials = std::stoi(value());
    } else if (!std::strcmp(argv[i], "--threads")) {
      options.threads = std::stoi(value());
    } else if (!std::strcmp(argv[i], "--samples")) {
      options.samples = std::stoi(value());
    } else if (!std::strcmp(argv[i], "--seed")) {
      options.seed = std::stoull(value());
    } else if (!std::strcmp(argv[i], "--each")) {
      options.each = true;
    } else if (!std::strcmp(argv[i], "--cells")) {
      const std::string list = value();
      for (std::size_t at = 0; at < list.size();) {
        const std::size_t end = std::min(list.find(',', at), list.size());
        const std::string item = list.substr(at, end - at);
        const std::size_t slash = item.find('/');
        if (slash == std::string::npos) usage();
        options.cells.push_back(
            {std::stod(item.substr(0, slash)), std::stod(item.substr(slash + 1))});
        at = end + 1;
      }
    } else {
      usage();
    }
  }
  if (options.trials < 1 || options.threads < 1 || options.samples < 4096) usage();
  if (options.cells.empty()) options.cells = allCells();
  return options;
}

}  // namespace
}  // namespace kestrav

int main(int argc, char** argv) {
  using namespace kestrav;
  const Options options = parse(argc, argv);
  std::printf("%zu cells x %d trials, N = %d at %.0f Hz, band %.1f fs, %d threads, seed %llu\n",
              options.cells.size(), options.trials, options.samples, SampleRate, BandShare,
              options.threads, static_cast<unsigned long long>(options.seed));
  const auto start = std::chrono::steady_clock::now();
  std::vector<CellSummary> summaries;
  for (std::size_t c = 0; c < options.cells.size(); ++c) {
    const std::vector<Trial> trials = runCell(options, c);
    summaries.push_back(summarise(options, options.cells[c], trials));
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "cell %zu of %zu (SNR %+.0f dB, fraction %.2f) done, %.0f s elapsed\n",
                 c + 1, options.cells.size(), options.cells[c].snrDb, options.cells[c].fraction,
                 elapsed);
  }
  printTables(summaries);
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("\nRun time: %.0f s\n", elapsed);
  return 0;
}
