// The coarse search's host path on two recording sizes: checked against the reference on a
// sample of lags first, then timed (median of several runs) and compared with the reference's
// time per lag.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tdc/coarse_search.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

constexpr double Span = 16384.0;
constexpr int CheckedLags = 16;
constexpr double GeneratedOffsetHz = -1234.5;

struct Workload {
  const char* name;
  int sampleCount;
  double sampleRate;
  int lagCount;
};

struct Recordings {
  std::vector<short2> first;
  std::vector<short2> second;
};

// The generated emitter sits a third into the lag window.
int trueLag(const Workload& workload) { return workload.lagCount / 3; }

Recordings generate(const Workload& workload) {
  PairConfig config;
  config.sampleCount = workload.sampleCount + workload.lagCount;
  config.sampleRate = workload.sampleRate;
  config.emitters = {Emitter{trueLag(workload) / workload.sampleRate, GeneratedOffsetHz, 0.0}};
  config.snrDb = 10.0;
  config.seed = 2024;
  SamplePairInt16 pair = quantizePair(generatePair(config));
  pair.first.resize(static_cast<std::size_t>(workload.sampleCount));
  return Recordings{std::move(pair.first), std::move(pair.second)};
}

CoarseRequest requestFor(const Workload& workload, const Recordings& recordings) {
  CoarseRequest request;
  request.first = recordings.first;
  request.second = recordings.second;
  request.sampleCount = workload.sampleCount;
  request.lagCount = workload.lagCount;
  request.sampleRate = workload.sampleRate;
  request.frequencySpan = Span;
  return request;
}

template <class Work>
double secondsOf(Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs the reference on a block of lags around the true delay in one call, and compares them
// with the host cells. Returns the reference's seconds per lag, or a negative value on a
// mismatch.
double checkAgainstReference(const Workload& workload, const Recordings& recordings,
                             const std::vector<LagCell>& hostCells) {
  const int checked = std::min(CheckedLags, workload.lagCount);
  const int firstChecked =
      std::clamp(trueLag(workload) - checked / 2, 0, workload.lagCount - checked);
  CoarseRequest request = requestFor(workload, recordings);
  request.second = request.second.subspan(static_cast<std::size_t>(firstChecked));
  request.lagCount = checked;
  std::vector<LagCell> reference(static_cast<std::size_t>(checked));
  const double seconds = secondsOf([&] { coarseSearchReference(request, reference); });
  for (int i = 0; i < checked; ++i) {
    const LagCell& host = hostCells[static_cast<std::size_t>(firstChecked + i)];
    const LagCell& cell = reference[static_cast<std::size_t>(i)];
    if (host.frequencyOffset != cell.frequencyOffset ||
        !(std::fabs(host.level - cell.level) <= 1e-5)) {
      std::printf("  MISMATCH at lag %d: host %.6f Hz %.8f dB, reference %.6f Hz %.8f dB\n",
                  firstChecked + i, host.frequencyOffset, host.level, cell.frequencyOffset,
                  cell.level);
      return -1.0;
    }
  }
  return seconds / checked;
}

bool runWorkload(const Workload& workload, int runs) {
  const Recordings recordings = generate(workload);
  const CoarseRequest request = requestFor(workload, recordings);
  const CoarseSizes sizes = deriveCoarseSizes(workload.sampleCount, workload.sampleRate,
                                              workload.lagCount, Span);
  std::printf("%s: N = %d, fs = %.0f Hz, %d lags, D = %d, M = %d, L = %llu\n", workload.name,
              workload.sampleCount, workload.sampleRate, workload.lagCount, sizes.decimation,
              sizes.decimatedLength, static_cast<unsigned long long>(sizes.fftLength));

  std::vector<LagCell> cells(static_cast<std::size_t>(workload.lagCount));
  coarseSearchHost(request, cells);
  const double referencePerLag = checkAgainstReference(workload, recordings, cells);
  if (referencePerLag < 0.0) return false;
  std::printf("  %d lags around the true one checked against the reference: identical bins, "
              "levels within 1e-5 dB\n",
              std::min(CheckedLags, workload.lagCount));

  const LagCell strongest =
      *std::max_element(cells.begin(), cells.end(),
                        [](const LagCell& a, const LagCell& b) { return a.level < b.level; });
  std::printf("  strongest cell: lag %d (generated %d), %.1f Hz (generated %.1f), %.2f dB\n",
              strongest.lagIndex, trueLag(workload), strongest.frequencyOffset, GeneratedOffsetHz,
              strongest.level);

  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    times.push_back(secondsOf([&] { coarseSearchHost(request, cells); }));
  }
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  const double lagSamples = static_cast<double>(workload.lagCount) * workload.sampleCount;
  const double referenceSeconds = referencePerLag * workload.lagCount;
  std::printf("  host:      %.3f s (median of %d, range %.3f .. %.3f), %.3g lag x samples/s\n",
              median, runs, times.front(), times.back(), lagSamples / median);
  std::printf("  reference: %.3f ms per lag on %d lags, %.3f s scaled to all lags, %.3g lag x "
              "samples/s\n",
              1e3 * referencePerLag, std::min(CheckedLags, workload.lagCount), referenceSeconds,
              lagSamples / referenceSeconds);
  std::printf("  host speed-up over the reference: %.2fx\n", referenceSeconds / median);
  return true;
}

}  // namespace
}  // namespace kestrav

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const kestrav::Workload workloads[] = {
      {"1M samples at 2.048 MHz", 1048576, 2048000.0, 2048},
      {"256k samples at 1 MHz", 262144, 1000000.0, 4000},
  };
  bool allChecked = true;
  for (const auto& workload : workloads) {
    allChecked = kestrav::runWorkload(workload, runs) && allChecked;
  }
  return allChecked ? 0 : 1;
}
