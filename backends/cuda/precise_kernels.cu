// The precise estimate's kernels: one thread per frame point, per bin or per run, with no bounds
// test (the launch rule starts exactly one thread for each), and the element maps the host loops
// use. The sums run in the host's order, so that only the transforms and the sines and cosines
// round differently. Compiled for blocks of 1024 threads.
#include <cuda_runtime.h>

#include <cstdint>

#include "backends/cuda/precise_kernels.hpp"
#include "platform/gpu/chunked_launch.hpp"
#include "platform/gpu/thread_index.cuh"
#include "platform/host/sample_segments.hpp"
#include "stages/fine/signal_maps_double.hpp"
#include "stages/precise/precise_maps.hpp"

namespace kestrav {
template <class Sample>
__global__ void __launch_bounds__(LaunchBlockThreads)
    fillPreciseFrames_dev(const Sample* firstSamples, const Sample* secondSamples, int secondBefore,
                          int secondAfter, PreciseLayout layout, int firstBlock, int offset,
                          double cycles, bool windowed, double2* firstFrames,
                          double2* secondFrames) {
  const int point = threadIndex() + offset;
  const int frame = point / layout.frameLength;
  const int position = point - frame * layout.frameLength;
  const int block = firstBlock + frame;
  double2 first = firstFrameValue(firstSamples, layout, block, position);
  double2 second =
      secondFrameValue(secondSamples, secondBefore, secondAfter, layout, block, position, cycles);
  if (windowed) {
    const double w = blockWindow(layout, position);
    first = scaled(first, w);
    second = scaled(second, w);
  }
  firstFrames[point] = first;
  secondFrames[point] = second;
}

__global__ void __launch_bounds__(LaunchBlockThreads)
    addCrossSpectra_dev(const double2* firstFrames, const double2* secondFrames, int offset,
                        int frameLength, int blocks, double2* spectrum) {
  const int k = threadIndex() + offset;
  double2 sum = spectrum[k];
  // Four frames' loads in flight stay within the 64 registers of a 1024-thread block.
#pragma unroll 4
  for (int frame = 0; frame < blocks; ++frame) {
    const std::int64_t point = std::int64_t{frame} * frameLength + k;
    const double2 term = conjugateProduct(firstFrames[point], secondFrames[point]);
    sum = double2{sum.x + term.x, sum.y + term.y};
  }
  spectrum[k] = sum;
}

__global__ void __launch_bounds__(LaunchBlockThreads)
    weightAndAdvance_dev(double2* firstFrames, double2* secondFrames, const double* rootWeight,
                         int offset, int frameLength, double delaySamples) {
  const int point = threadIndex() + offset;
  const int k = point % frameLength;
  firstFrames[point] = scaled(firstFrames[point], rootWeight[k]);
  secondFrames[point] = complexProduct(scaled(secondFrames[point], rootWeight[k]),
                                       advancePhasor(k, frameLength, delaySamples));
}

// Run j covers positions [j runLength, (j + 1) runLength) of the grid on which frame b starts at
// b blockLength; it adds the products of every frame of the batch that overlaps it.
__global__ void __launch_bounds__(LaunchBlockThreads)
    addProductRuns_dev(const double2* firstFrames, const double2* secondFrames,
                       PreciseLayout layout, int firstBlock, int blocks, int firstRun, int offset,
                       double scale, double2* runs) {
  const int run = firstRun + threadIndex() + offset;
  const std::int64_t start = std::int64_t{run} * layout.runLength;
  const std::int64_t end = start + layout.runLength;
  const std::int64_t blockLength = layout.blockLength;
  const std::int64_t frameLength = layout.frameLength;
  // Frames b with b blockLength < end and b blockLength + frameLength > start.
  const std::int64_t lowest = start < frameLength ? 0 : (start - frameLength) / blockLength + 1;
  const std::int64_t highest = (end - 1) / blockLength;
  const std::int64_t batchEnd = std::int64_t{firstBlock} + blocks;
  double2 sum = runs[run];
  for (std::int64_t b = lowest > firstBlock ? lowest : firstBlock; b <= highest && b < batchEnd;
       ++b) {
    const std::int64_t frameStart = b * blockLength;
    const std::int64_t from = start > frameStart ? start : frameStart;
    const std::int64_t to = end < frameStart + frameLength ? end : frameStart + frameLength;
    const std::int64_t base = (b - firstBlock) * frameLength - frameStart;
    for (std::int64_t g = from; g < to; ++g) {
      const double2 product =
          scaled(conjugateProduct(firstFrames[base + g], secondFrames[base + g]), scale);
      sum = double2{sum.x + product.x, sum.y + product.y};
    }
  }
  runs[run] = sum;
}

namespace {

template <class Sample>
void launchFillFrames(const Sample* first, const Sample* second, const PreciseSegments& segments,
                      const PreciseLayout& layout, int firstBlock, int blocks, double cycles,
                      bool windowed, double2* firstFrames, double2* secondFrames) {
  for (const Launch& launch : chunkedLaunches(blocks * layout.frameLength)) {
    fillPreciseFrames_dev<<<launch.blocks, launch.threads>>>(
        first, second, segments.secondBefore, segments.secondAfter, layout, firstBlock, launch.base,
        cycles, windowed, firstFrames, secondFrames);
  }
}

}  // namespace

void fillPreciseFrames(const PreciseSegments& segments, const PreciseLayout& layout, int firstBlock,
                       int blocks, double cycles, bool windowed, double2* firstFrames,
                       double2* secondFrames) {
  withSegments(segments.samples, [&](const auto* first, const auto* second) {
    launchFillFrames(first, second, segments, layout, firstBlock, blocks, cycles, windowed,
                     firstFrames, secondFrames);
  });
}

void addCrossSpectra(const double2* firstFrames, const double2* secondFrames, int frameLength,
                     int blocks, double2* spectrum) {
  for (const Launch& launch : chunkedLaunches(frameLength)) {
    addCrossSpectra_dev<<<launch.blocks, launch.threads>>>(firstFrames, secondFrames, launch.base,
                                                           frameLength, blocks, spectrum);
  }
}

void weightAndAdvance(double2* firstFrames, double2* secondFrames, const double* rootWeight,
                      int frameLength, int blocks, double delaySamples) {
  for (const Launch& launch : chunkedLaunches(blocks * frameLength)) {
    weightAndAdvance_dev<<<launch.blocks, launch.threads>>>(firstFrames, secondFrames, rootWeight,
                                                            launch.base, frameLength, delaySamples);
  }
}

void addProductRuns(const double2* firstFrames, const double2* secondFrames,
                    const PreciseLayout& layout, int firstBlock, int blocks, double scale,
                    double2* runs) {
  const std::int64_t batchStart = std::int64_t{firstBlock} * layout.blockLength;
  const std::int64_t batchEnd =
      std::int64_t{firstBlock + blocks - 1} * layout.blockLength + layout.frameLength;
  const auto firstRun = static_cast<int>(batchStart / layout.runLength);
  const auto lastRun = static_cast<int>((batchEnd - 1) / layout.runLength);
  for (const Launch& launch : chunkedLaunches(lastRun - firstRun + 1)) {
    addProductRuns_dev<<<launch.blocks, launch.threads>>>(
        firstFrames, secondFrames, layout, firstBlock, blocks, firstRun, launch.base, scale, runs);
  }
}

}  // namespace kestrav
