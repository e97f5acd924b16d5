// The GPU backend against the host path: the coarse search on 1048576 samples at 2.048 MHz with
// 2048 and 20000 lags, the refinement at n = 1048576 and n = 4096. Each case first checks the
// GPU's results against the host's on a subset, then times the GPU (median of several runs after
// a warm-up) and the host on a subset in the same run, and reports the ratio. One summary table
// at the end; without a usable device its rows say so.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "backends/compute_backend.hpp"
#include "backends/cuda/cuda_backend.hpp"
#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "bench/seconds_of.hpp"
#include "stages/coarse/coarse_search.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

constexpr double Span = 16384.0;

template <class Work>
double medianSeconds(int runs, Work&& work) {
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) times.push_back(secondsOf(work));
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

struct Row {
  std::string name;
  std::string check;  // what the verification found
  double gpuSeconds = 0.0;
  double work = 0.0;  // lags x samples, or samples, of one run
  const char* unit = "";
  double hostSeconds = 0.0;  // the host path on the whole case, scaled from its subset
};

SamplePairInt16 generate(int samples, double rate, double delay, double offsetHz) {
  PairConfig config;
  config.sampleCount = samples;
  config.sampleRate = rate;
  config.emitters = {Emitter{delay, offsetHz, 0.0}};
  config.snrDb = 10.0;
  config.seed = 2024;
  return quantizePair(generatePair(config));
}

// The coarse search of `lags` lags; the host runs on `hostLags` of them around the emitter.
Row coarseCase(ComputeBackend& gpu, int lags, int runs) {
  const int N = 1048576;
  const double rate = 2.048e6;
  const int trueLag = lags / 3;
  SamplePairInt16 pair = generate(N + lags, rate, trueLag / rate, -1234.5);
  pair.first.resize(static_cast<std::size_t>(N));
  const std::span<const short2> first(pair.first), second(pair.second);
  CoarseRequest request{SpanPair<short2>{first, second}, N, lags, rate, Span, {}};
  std::vector<LagCell> cells(static_cast<std::size_t>(lags));
  gpu.coarseSearch(request, cells);  // warm-up, and the cells to check

  const int hostLags = std::min(lags, 512);
  const int firstHostLag = std::clamp(trueLag - hostLags / 2, 0, lags - hostLags);
  CoarseRequest subset = request;
  subset.segments = SpanPair<short2>{first, second.subspan(static_cast<std::size_t>(firstHostLag))};
  subset.lagCount = hostLags;
  std::vector<LagCell> host(static_cast<std::size_t>(hostLags));
  const double hostSeconds = medianSeconds(3, [&] { coarseSearchHost(subset, host); });
  int differingBins = 0;
  double levelDifference = 0.0;
  for (int k = 0; k < hostLags; ++k) {
    const LagCell& a = cells[static_cast<std::size_t>(firstHostLag + k)];
    const LagCell& b = host[static_cast<std::size_t>(k)];
    differingBins += a.frequencyOffset != b.frequencyOffset;
    levelDifference = std::max(levelDifference, std::fabs(a.level - b.level));
  }
  const auto strongest =
      std::max_element(cells.begin(), cells.end(),
                       [](const LagCell& a, const LagCell& b) { return a.level < b.level; });
  char check[160];
  std::snprintf(
      check, sizeof check, "%s: %d lags, %d bins differ, levels within %.1e dB, peak lag %d",
      differingBins <= 1 && levelDifference <= 1e-4 && strongest->lagIndex == trueLag ? "ok"
                                                                                      : "MISMATCH",
      hostLags, differingBins, levelDifference, strongest->lagIndex);

  Row row;
  row.name = "coarse, N = 1048576 at 2.048 MHz, " + std::to_string(lags) + " lags";
  row.check = check;
  row.gpuSeconds = medianSeconds(runs, [&] { gpu.coarseSearch(request, cells); });
  row.work = static_cast<double>(lags) * N;
  row.unit = "lag x samples/s";
  row.hostSeconds = hostSeconds * lags / hostLags;
  return row;
}

// One refinement: the frequency estimate, then the delay estimate at the corrected offset.
Row refineCase(ComputeBackend& gpu, int n, int runs) {
  const double rate = 1e6;
  const double delay = 0.37 / rate;
  const double offsetHz = 1234.5;
  const double candidateHz = offsetHz + (n >= 65536 ? 0.8 : 60.0);
  const SamplePairInt16 pair = generate(n, rate, delay, offsetHz);
  const FineRequest request{PointerPair<short2>{pair.first.data(), pair.second.data()}, n, rate,
                            candidateHz};
  const Refinement refinement = gpu.refine(request);  // warm-up, and the estimates to check

  Refinement host;
  const double hostSeconds = secondsOf([&] {
    host.frequency = estimateFineFrequency(request, cztHost);
    FineRequest corrected = request;
    corrected.frequencyOffset += host.frequency.correction;
    host.delay = estimateFineDelay(corrected, cztHost);
  });
  const double frequencyGap =
      std::fabs(refinement.frequency.correction - host.frequency.correction);
  const double delayGap = std::fabs(refinement.delay.correction - host.delay.correction);
  char check[160];
  std::snprintf(check, sizeof check, "%s: %d and %d zoom points, gaps %.1e Hz and %.1e ns",
                frequencyGap <= 1.0001e-4 && delayGap <= 1.0001e-9 ? "ok" : "MISMATCH",
                refinement.frequency.zoomPoints, refinement.delay.zoomPoints, frequencyGap,
                delayGap * 1e9);

  Row row;
  row.name = "refinement, n = " + std::to_string(n) + " at 1 MHz";
  row.check = check;
  row.gpuSeconds = medianSeconds(runs, [&] { gpu.refine(request); });
  row.work = n;
  row.unit = "samples/s";
  row.hostSeconds = hostSeconds;
  return row;
}

}  // namespace
}  // namespace kestrav

int main(int argc, char** argv) {
  using namespace kestrav;
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const char* names[] = {"coarse, N = 1048576 at 2.048 MHz, 2048 lags",
                         "coarse, N = 1048576 at 2.048 MHz, 20000 lags",
                         "refinement, n = 1048576 at 1 MHz", "refinement, n = 4096 at 1 MHz"};
  std::string whyNot;
  std::unique_ptr<ComputeBackend> gpu = makeCudaBackend(&whyNot);
  std::printf("%-46s | %10s | %-22s | %10s | %8s | %s\n", "case", "GPU s", "throughput", "host s",
              "host/GPU", "check against the host");
  if (!gpu) {
    for (const char* name : names) {
      std::printf("%-46s | %10s | %-22s | %10s | %8s | no device: %s\n", name, "-", "-", "-", "-",
                  whyNot.c_str());
    }
    return 0;
  }
  std::vector<Row> rows;
  rows.push_back(coarseCase(*gpu, 2048, runs));
  rows.push_back(coarseCase(*gpu, 20000, runs));
  rows.push_back(refineCase(*gpu, 1048576, runs));
  rows.push_back(refineCase(*gpu, 4096, runs));
  bool allChecked = true;
  for (const Row& row : rows) {
    char throughput[40];
    std::snprintf(throughput, sizeof throughput, "%.3g %s", row.work / row.gpuSeconds, row.unit);
    std::printf("%-46s | %10.4f | %-22s | %10.4f | %8.1f | %s\n", row.name.c_str(), row.gpuSeconds,
                throughput, row.hostSeconds, row.hostSeconds / row.gpuSeconds, row.check.c_str());
    allChecked = allChecked && row.check.rfind("ok", 0) == 0;
  }
  std::printf(
      "(median of %d GPU runs after a warm-up; the host coarse search timed on 512 lags "
      "around the emitter and scaled to all lags, the host refinement timed once)\n",
      runs);
  return allChecked ? 0 : 1;
}
