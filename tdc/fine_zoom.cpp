#include "tdc/fine_zoom.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "czt/czt_blocks.hpp"
#include "engine/errors.hpp"
#include "engine/fftw_plans.hpp"
#include "engine/worker_threads.hpp"
#include "tdc/signal_maps_double.hpp"

namespace kestrav {

int zoomLength(double span, double gridStep, const char* zoom) {
  const double points = std::floor(span / gridStep);
  if (!(points >= 1.0)) return 0;
  if (points > 2147483647.0) {
    char count[64];
    std::snprintf(count, sizeof count, "%.0f", points);
    throw InputError(std::string(zoom) + " would need " + count +
                     " points at this sample rate and sample count, more than 2147483647");
  }
  return static_cast<int>(points);
}

namespace {

// floor(span / fixedStep) points over [low, low + span) of a zoom input sampled at `rate`: the
// angular step and start in radians per sample of that input.
std::optional<ZoomGrid> gridOver(double low, double span, double rate, double fixedStep,
                                 const char* zoom) {
  ZoomGrid grid;
  grid.low = low;
  grid.span = span;
  grid.points = zoomLength(span, fixedStep, zoom);
  if (grid.points < 1) return std::nullopt;
  grid.step = (span * -TwoPi) / (static_cast<double>(grid.points) * rate);
  grid.start = (low * TwoPi) / rate;
  grid.fixedStep = fixedStep;
  return grid;
}

}  // namespace

std::optional<FrequencyZoom> frequencyZoomOf(const FineRequest& request) {
  const int n = request.sampleCount;
  // Fewer samples than runs: the run sums would reach past the recordings.
  if (n < FrequencyRuns) return std::nullopt;
  const int K = std::max(1, static_cast<int>(std::floor(n * 0.00048828125)));
  const double T = static_cast<double>(FrequencyRuns * K) / request.sampleRate;
  const double low = -2.0 / T;
  const std::optional<ZoomGrid> grid =
      gridOver(low, 2.0 / T - low, 2048.0 / T, 0.0001, "the fine frequency zoom");
  if (!grid) return std::nullopt;
  return FrequencyZoom{K, *grid};
}

std::optional<DelayZoom> delayZoomOf(const FineRequest& request) {
  const int K = static_cast<int>(std::floor(request.sampleCount * 0.00048828125));
  if (K < 1) return std::nullopt;
  const double fs = request.sampleRate;
  const double low = -2.0 / fs;
  const std::optional<ZoomGrid> grid =
      gridOver(low, 2.0 / fs - low, 4096.0 / fs, 1e-9, "the fine delay zoom");
  if (!grid) return std::nullopt;
  return DelayZoom{K, *grid};
}

double frequencyShiftStep(const FineRequest& request) {
  return request.frequencyOffset * -TwoPi / request.sampleRate;
}

namespace {

// The trace of the peak: the powers at index - halfWidth .. index + halfWidth within the zoom,
// each taken from `powerAt`.
template <class PowerAt>
void fillTrace(ZoomPeak& peak, int M, int traceHalfWidth, PowerAt&& powerAt) {
  const int halfWidth = std::max(0, traceHalfWidth);
  if (halfWidth == 0) return;
  peak.traceFirst = std::max(0, peak.index - halfWidth);
  const int traceEnd = static_cast<int>(std::min<long long>(M, 1LL + peak.index + halfWidth));
  powerAt(peak.traceFirst, traceEnd, peak.trace);
}

}  // namespace

ZoomPeak strongestZoomPoint(CztFunction czt, const double2* x, int N, int M, double step,
                            double start, int traceHalfWidth) {
  auto zoom = makeFftwArray<double2>(static_cast<std::size_t>(M), "the zoom");
  czt(x, N, zoom.get(), M, step, start);
  ZoomPeak peak;
  for (int k = 0; k < M; ++k) {
    zoom[k] = power(zoom[k]);
    if (zoom[k].x > zoom[peak.index].x) peak.index = k;
  }
  fillTrace(peak, M, traceHalfWidth, [&](int first, int end, std::vector<double>& trace) {
    for (int k = first; k < end; ++k) trace.push_back(zoom[k].x);
  });
  return peak;
}

ZoomPeak strongestZoomPointInBlocks(const double2* x, int N, int M, double step, double start,
                                    int traceHalfWidth) {
  const CztBlocks zoom(x, N, M, step, start);
  const int runCount = (zoom.blockCount() + zoom.blocksPerRun() - 1) / zoom.blocksPerRun();
  const int workers = workerCountFor(runCount);
  struct Worker {
    CztBlocks::Workspace workspace;
    std::vector<double2> outputs;
    double peakPower = -std::numeric_limits<double>::infinity();
    int peakIndex = -1;
  };
  std::vector<Worker> pool(static_cast<std::size_t>(workers));
  for (Worker& worker : pool) {
    worker.workspace = zoom.makeWorkspace();
    worker.outputs.resize(static_cast<std::size_t>(zoom.blockLength()));
  }

  // Every worker sees its points in rising order, so strictly greater keeps the first of equal
  // powers within a worker; across workers the lower index wins a tie.
  std::atomic<int> nextRun{0};
  runOnWorkers(workers, [&](int w) {
    Worker& worker = pool[w];
    for (int run = nextRun++; run < runCount; run = nextRun++) {
      const int firstBlock = run * zoom.blocksPerRun();
      const int endBlock = std::min(zoom.blockCount(), firstBlock + zoom.blocksPerRun());
      for (int block = firstBlock; block < endBlock; ++block) {
        zoom.evaluate(block, worker.workspace, worker.outputs.data());
        const int count = zoom.outputsOf(block);
        const int offset = block * zoom.blockLength();
        for (int k = 0; k < count; ++k) {
          const double value = power(worker.outputs[k]).x;
          if (value > worker.peakPower || worker.peakIndex < 0) {
            worker.peakPower = value;
            worker.peakIndex = offset + k;
          }
        }
      }
    }
  });
  ZoomPeak peak;
  double peakPower = -std::numeric_limits<double>::infinity();
  peak.index = -1;
  for (const Worker& worker : pool) {
    if (worker.peakIndex < 0) continue;
    if (peak.index < 0 || worker.peakPower > peakPower ||
        (worker.peakPower == peakPower && worker.peakIndex < peak.index)) {
      peakPower = worker.peakPower;
      peak.index = worker.peakIndex;
    }
  }
  fillTrace(peak, M, traceHalfWidth, [&](int first, int end, std::vector<double>& trace) {
    Worker& worker = pool.front();
    for (int block = first / zoom.blockLength(); block <= (end - 1) / zoom.blockLength();
         ++block) {
      zoom.evaluate(block, worker.workspace, worker.outputs.data());
      const int offset = block * zoom.blockLength();
      const int from = std::max(first, offset);
      const int to = std::min(end, offset + zoom.outputsOf(block));
      for (int k = from; k < to; ++k) trace.push_back(power(worker.outputs[k - offset]).x);
    }
  });
  return peak;
}

FineEstimate estimateAtPeak(const ZoomGrid& grid, ZoomPeak peak) {
  FineEstimate estimate;
  estimate.correction = static_cast<double>(peak.index) * grid.fixedStep + grid.low;
  estimate.zoomIndex = peak.index;
  estimate.zoomPoints = grid.points;
  estimate.gridStart = grid.low;
  estimate.gridStep = grid.span / grid.points;
  estimate.traceFirst = peak.traceFirst;
  estimate.trace = std::move(peak.trace);
  return estimate;
}

}  // namespace kestrav
