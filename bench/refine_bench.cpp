// Times the refinement of one candidate on the host: the fine frequency estimate, then the fine
// delay estimate at the corrected offset, both zooming with Bluestein's chirp-z transform. Each
// case first checks that the corrections recover the generated pair's delay and offset.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "tdc/fine_estimates.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

struct BenchCase {
  const char* name;
  int sampleCount;
  double sampleRate;     // hertz
  double delay;          // seconds, of the second recording
  double offsetHz;       // of the second recording
  double coarseErrorHz;  // how far the candidate's offset is off
  int repeats;
};

double peakResidentMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

template <class Work>
double seconds(Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool run(const BenchCase& c) {
  PairConfig config;
  config.sampleCount = c.sampleCount;
  config.sampleRate = c.sampleRate;
  config.emitters = {Emitter{c.delay, c.offsetHz, 0.0}};
  config.seed = 17;
  const SamplePairInt16 pair = quantizePair(generatePair(config));
  const double candidateHz = c.offsetHz + c.coarseErrorHz;
  FineRequest request{pair.first.data(), pair.second.data(), c.sampleCount, c.sampleRate,
                      candidateHz};

  std::vector<double> frequencyTimes, delayTimes;
  FineEstimate frequency, delay;
  for (int r = 0; r < c.repeats; ++r) {
    request.frequencyOffset = candidateHz;
    frequencyTimes.push_back(seconds([&] { frequency = estimateFineFrequency(request, cztHost); }));
    request.frequencyOffset = candidateHz + frequency.correction;
    delayTimes.push_back(seconds([&] { delay = estimateFineDelay(request, cztHost); }));
  }
  const double frequencyError = candidateHz + frequency.correction - c.offsetHz;
  const double delayError = delay.correction - c.delay;
  // Within 2 % of a bin of the run sums' spectrum and 2 % of a sample period: a wrong peak is
  // far off, while noise moves the right one by less.
  const int runLength = std::max(1, c.sampleCount / 2048);
  const double binHz = c.sampleRate / (2048.0 * runLength);
  const bool verified =
      std::fabs(frequencyError) < 0.02 * binHz && std::fabs(delayError) < 0.02 / c.sampleRate;
  std::printf("%s\n", c.name);
  std::printf(
      "  frequency: %d zoom points, error %+.6f Hz; delay: %d zoom points, "
      "error %+.3f ns%s\n",
      frequency.zoomPoints, frequencyError, delay.zoomPoints, delayError * 1e9,
      verified ? "" : "  <- WRONG");
  std::printf("  seconds per estimate (median of %d): frequency %.4f, delay %.4f\n", c.repeats,
              median(frequencyTimes), median(delayTimes));
  std::printf("  peak resident memory so far: %.1f MiB\n", peakResidentMiB());
  return verified;
}

}  // namespace
}  // namespace kestrav

int main() {
  using kestrav::BenchCase;
  const BenchCase cases[] = {
      {"n = 1048576 at 2.048 MHz", 1048576, 2.048e6, 0.37 / 2.048e6, 1234.5, 0.8, 5},
      {"n = 4096 at 1 MHz (long zoom)", 4096, 1e6, 0.37 / 1e6, 1234.5, 60.0, 3},
  };
  bool verified = true;
  for (const BenchCase& c : cases) verified = kestrav::run(c) && verified;
  return verified ? 0 : 1;
}
