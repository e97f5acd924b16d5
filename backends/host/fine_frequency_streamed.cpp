#include <algorithm>
#include <atomic>
#include <vector>

#include "backends/host/host_paths.hpp"
#include "platform/host/worker_threads.hpp"
#include "stages/fine/fine_zoom.hpp"
#include "stages/fine/signal_maps_double.hpp"

namespace kestrav {

// The run sums straight from the samples, runs shared out among the cores (each run is its own
// sum, in its own order), then the zoom in blocks.
FineEstimate estimateFineFrequencyStreamed(const FineRequest& request) {
  const std::optional<FrequencyZoom> zoom = frequencyZoomOf(request);
  if (!zoom) return {};
  const int K = zoom->runLength;
  const double w = frequencyShiftStep(request);

  constexpr int RunsPerTask = 64;
  constexpr int TaskCount = FrequencyRuns / RunsPerTask;
  std::vector<double2> runSums(FrequencyRuns);
  std::atomic<int> nextTask{0};
  withSegments(request.segments, [&](const auto* first, const auto* second) {
    runOnWorkers(workerCountFor(std::min<long long>(TaskCount, K)), [&](int) {
      for (int task = nextTask++; task < TaskCount; task = nextTask++) {
        for (int j = task * RunsPerTask; j < (task + 1) * RunsPerTask; ++j) {
          // Onto zero, term by term, as the run sum of the whole product array adds them.
          double2 sum{0.0, 0.0};
          for (int i = j * K; i < (j + 1) * K; ++i) {
            const double2 term = conjugateProduct(first[i], shiftFrequency(second[i], i, w));
            sum.x = sum.x + term.x;
            sum.y = sum.y + term.y;
          }
          runSums[j] = sum;
        }
      }
    });
  });

  const ZoomGrid& grid = zoom->grid;
  return estimateAtPeak(
      grid, strongestZoomPointInBlocks(runSums.data(), FrequencyRuns, grid.points, grid.step,
                                       grid.start, request.traceHalfWidth));
}

}  // namespace kestrav
