#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "backends/host/host_paths.hpp"
#include "platform/host/inplace_transform.hpp"
#include "platform/host/worker_threads.hpp"
#include "stages/fine/fine_zoom.hpp"
#include "stages/fine/signal_maps_double.hpp"

namespace kestrav {
namespace {

constexpr int BlocksPerTask = 8;

struct FrameBuffers {
  FftwArray<double2> first;  // one frame of each recording
  FftwArray<double2> second;
  FftwArray<double2> cross;  // the cross-spectra of one task's blocks
};

}  // namespace

// Frame by frame instead of all frames at once: each worker forms, transforms and multiplies
// the frames of a few blocks, then adds their cross-spectra to the sum in block order, so that
// every bin sees the same additions in the same order as one sum over all frames.
FineEstimate estimateFineDelayStreamed(const FineRequest& request) {
  const std::optional<DelayZoom> zoom = delayZoomOf(request);
  if (!zoom) return {};
  const int K = zoom->blocks;
  const double w = frequencyShiftStep(request);
  const int taskCount = (K + BlocksPerTask - 1) / BlocksPerTask;
  const int workers = workerCountFor(taskCount);

  constexpr auto FrameLength = static_cast<std::size_t>(DelayFrameLength);
  std::vector<FrameBuffers> pool(static_cast<std::size_t>(workers));
  for (FrameBuffers& buffers : pool) {
    buffers.first = makeFftwArray<double2>(FrameLength, "a frame of the first recording");
    buffers.second = makeFftwArray<double2>(FrameLength, "a frame of the second recording");
    buffers.cross = makeFftwArray<double2>(BlocksPerTask * FrameLength, "the cross-spectra");
  }
  const FftwPlan framePlan =
      planInPlaceTransforms(pool.front().first.get(), DelayFrameLength, 1, FFTW_FORWARD);

  std::vector<double2> summed(FrameLength, double2{0.0, 0.0});
  std::mutex sumLock;
  std::condition_variable sumAdvanced;
  int tasksSummed = 0;
  std::atomic<int> nextTask{0};
  runOnWorkers(workers, [&](int worker) {
    FrameBuffers& buffers = pool[worker];
    double2* first = buffers.first.get();
    double2* second = buffers.second.get();
    for (int task = nextTask++; task < taskCount; task = nextTask++) {
      const int firstBlock = task * BlocksPerTask;
      const int endBlock = std::min(K, firstBlock + BlocksPerTask);
      for (int block = firstBlock; block < endBlock; ++block) {
        // Frame layout: the block's samples, then zeros.
        const int base = block * DelayBlockLength;
        withSegments(request.segments, [&](const auto* firstSamples, const auto* secondSamples) {
          for (int i = 0; i < DelayBlockLength; ++i) {
            first[i] = toDouble2(firstSamples[base + i]);
            second[i] = shiftFrequency(secondSamples[base + i], base + i, w);
          }
        });
        std::fill(first + DelayBlockLength, first + FrameLength, double2{0.0, 0.0});
        std::fill(second + DelayBlockLength, second + FrameLength, double2{0.0, 0.0});
        transformInPlace(framePlan, first);
        transformInPlace(framePlan, second);
        double2* cross = buffers.cross.get() + (block - firstBlock) * FrameLength;
        for (std::size_t q = 0; q < FrameLength; ++q) {
          cross[q] = conjugateProduct(first[q], second[q]);
        }
      }
      // Tasks are taken in rising order and none waits for a later one, so this wait ends.
      std::unique_lock lock(sumLock);
      sumAdvanced.wait(lock, [&] { return tasksSummed == task; });
      for (int block = firstBlock; block < endBlock; ++block) {
        const double2* cross = buffers.cross.get() + (block - firstBlock) * FrameLength;
        for (std::size_t q = 0; q < FrameLength; ++q) {
          summed[q].x = summed[q].x + cross[q].x;
          summed[q].y = summed[q].y + cross[q].y;
        }
      }
      ++tasksSummed;
      sumAdvanced.notify_all();
    }
  });

  const std::vector<double2> shifted = centredReversedSpectrum(summed);
  const ZoomGrid& grid = zoom->grid;
  return estimateAtPeak(
      grid, strongestZoomPointInBlocks(shifted.data(), DelayFrameLength, grid.points, grid.step,
                                       grid.start, request.traceHalfWidth));
}

}  // namespace kestrav
