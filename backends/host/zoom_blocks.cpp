// The zoom's strongest point found block by block on every core.
#include <atomic>
#include <limits>
#include <vector>

#include "backends/host/czt_blocks.hpp"
#include "backends/host/host_paths.hpp"
#include "platform/host/worker_threads.hpp"
#include "stages/fine/signal_maps_double.hpp"

namespace kestrav {

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
    for (int block = first / zoom.blockLength(); block <= (end - 1) / zoom.blockLength(); ++block) {
      zoom.evaluate(block, worker.workspace, worker.outputs.data());
      const int offset = block * zoom.blockLength();
      const int from = std::max(first, offset);
      const int to = std::min(end, offset + zoom.outputsOf(block));
      for (int k = from; k < to; ++k) trace.push_back(power(worker.outputs[k - offset]).x);
    }
  });
  return peak;
}

}  // namespace kestrav
