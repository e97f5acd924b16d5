// The precise estimate's primitives on FFTW: one frame of each segment in memory at a time, so
// the working set stays at a few frames and the runs, whatever the sample count.
#include <algorithm>

#include "backends/host/host_paths.hpp"
#include "platform/host/inplace_transform.hpp"
#include "platform/host/sample_segments.hpp"
#include "stages/fine/signal_maps_double.hpp"
#include "stages/precise/precise_maps.hpp"
#include "stages/precise/precise_primitives.hpp"

namespace kestrav {
namespace {

class HostPrecisePrimitives final : public PrecisePrimitives {
 public:
  void crossSpectrum(const PreciseSegments& segments, const PreciseLayout& layout, double cycles,
                     FrameShape shape, std::span<double2> spectrum) override {
    prepare(layout.frameLength);
    std::fill(spectrum.begin(), spectrum.end(), double2{0.0, 0.0});
    for (int block = 0; block < layout.blockCount; ++block) {
      transformFrames(segments, layout, block, cycles, shape);
      for (int k = 0; k < frameLength_; ++k) {
        const double2 term = conjugateProduct(first_[k], second_[k]);
        spectrum[k] = double2{spectrum[k].x + term.x, spectrum[k].y + term.y};
      }
    }
  }

  void delayedProductRuns(const PreciseSegments& segments, const PreciseLayout& layout,
                          double cycles, double delaySamples, std::span<const double> rootWeight,
                          std::span<double2> runs) override {
    prepare(layout.frameLength);
    std::fill(runs.begin(), runs.end(), double2{0.0, 0.0});
    const double scale = 1.0 / (static_cast<double>(frameLength_) * frameLength_);
    for (int block = 0; block < layout.blockCount; ++block) {
      transformFrames(segments, layout, block, cycles, FrameShape::Margined);
      for (int k = 0; k < frameLength_; ++k) {
        first_[k] = scaled(first_[k], rootWeight[k]);
        second_[k] = complexProduct(scaled(second_[k], rootWeight[k]),
                                    advancePhasor(k, frameLength_, delaySamples));
      }
      transformInPlace(inverse_, first_.get());
      transformInPlace(inverse_, second_.get());
      for (int p = 0; p < frameLength_; ++p) {
        const double2 product = scaled(conjugateProduct(first_[p], second_[p]), scale);
        double2& run = runs[runIndex(layout, block, p)];
        run = double2{run.x + product.x, run.y + product.y};
      }
    }
  }

 private:
  void prepare(int frameLength) {
    if (frameLength == frameLength_) return;
    const auto count = static_cast<std::size_t>(frameLength);
    first_ = makeFftwArray<double2>(count, "the first segment's frame");
    second_ = makeFftwArray<double2>(count, "the second segment's frame");
    forward_ = planInPlaceTransforms(first_.get(), frameLength, 1, FFTW_FORWARD);
    inverse_ = planInPlaceTransforms(first_.get(), frameLength, 1, FFTW_BACKWARD);
    frameLength_ = frameLength;
  }

  // Both frames of one block, transformed.
  void transformFrames(const PreciseSegments& segments, const PreciseLayout& layout, int block,
                       double cycles, FrameShape shape) {
    withSegments(segments.samples, [&](const auto* first, const auto* second) {
      for (int p = 0; p < frameLength_; ++p) {
        first_[p] = firstFrameValue(first, layout, block, p);
        second_[p] = secondFrameValue(second, segments.secondBefore, segments.secondAfter, layout,
                                      block, p, cycles);
        if (shape == FrameShape::Windowed) {
          const double w = blockWindow(layout, p);
          first_[p] = scaled(first_[p], w);
          second_[p] = scaled(second_[p], w);
        }
      }
    });
    transformInPlace(forward_, first_.get());
    transformInPlace(forward_, second_.get());
  }

  int frameLength_ = 0;
  FftwArray<double2> first_;
  FftwArray<double2> second_;
  FftwPlan forward_;
  FftwPlan inverse_;
};

}  // namespace

std::unique_ptr<PrecisePrimitives> makeHostPrecisePrimitives() {
  return std::make_unique<HostPrecisePrimitives>();
}

}  // namespace kestrav
