#include "backends/cuda/precise_cuda.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <type_traits>

#include "backends/cuda/gpu_sites.hpp"
#include "backends/cuda/precise_kernels.hpp"
#include "platform/gpu/device_buffer.hpp"
#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

cufftDoubleComplex* fftData(double2* data) { return reinterpret_cast<cufftDoubleComplex*>(data); }

void requirePlannedLayout(const PreciseLayout& layout) {
  if (layout.sampleCount < 1 || layout.frameLength < 1 || layout.blockLength < 1 ||
      layout.blockCount < 1 || layout.runLength < 1 || layout.runCount < 1) {
    throw InputError("the precise estimate's primitives need a planned layout");
  }
}

void requireRoom(std::size_t size, int needed, const char* what) {
  if (size < static_cast<std::size_t>(needed)) {
    throw InputError(std::string("the precise estimate's ") + what + " hold " +
                     std::to_string(size) + " values, fewer than the layout's " +
                     std::to_string(needed));
  }
}

// Blocks in one batch of frames: at most batchPoints points but at least one frame, in batches of
// one size but the last, which is no larger.
int blocksPerBatch(const PreciseLayout& layout, std::int64_t batchPoints) {
  const std::int64_t most = std::max<std::int64_t>(1, batchPoints / layout.frameLength);
  const std::int64_t batches = (layout.blockCount + most - 1) / most;
  return static_cast<int>((layout.blockCount + batches - 1) / batches);
}

// What a device copy of the segments was made from.
struct SegmentKey {
  SegmentPointers samples;
  int sampleCount = 0;
  int before = 0;
  int after = 0;
  bool operator==(const SegmentKey&) const = default;
};

// What the frames, the plan and the results were sized for.
struct WorkspaceShape {
  int frameLength = 0;
  int blocksPerBatch = 0;
  int results = 0;
  bool operator==(const WorkspaceShape&) const = default;
};

template <class T>
void releaseBuffer(DeviceBuffer<T>& buffer, GpuSite site) {
  if (buffer.get() != nullptr) buffer.release(site);
}

// The segments on the device in their recordings' sample type.
template <class Sample>
struct SegmentCopy {
  DeviceBuffer<Sample> first;
  DeviceBuffer<Sample> second;

  // Copies n samples from `first` and secondCount from `second`, reusing buffers of those sizes.
  void load(const Sample* firstSamples, const Sample* secondSamples, std::size_t n,
            std::size_t secondCount) {
    if (first.size() != n) {
      releaseBuffer(first, TdcSite::PreciseResizeFirstSegment);
      first = DeviceBuffer<Sample>(n, TdcSite::PreciseAllocateFirstSegment);
    }
    if (second.size() != secondCount) {
      releaseBuffer(second, TdcSite::PreciseResizeSecondSegment);
      second = DeviceBuffer<Sample>(secondCount, TdcSite::PreciseAllocateSecondSegment);
    }
    GpuCheck(cudaMemcpy(first.get(), firstSamples, first.bytes(), cudaMemcpyHostToDevice),
             TdcSite::PreciseUploadFirstSegment);
    GpuCheck(cudaMemcpy(second.get(), secondSamples, second.bytes(), cudaMemcpyHostToDevice),
             TdcSite::PreciseUploadSecondSegment);
  }
  void release() {
    releaseBuffer(first, TdcSite::PreciseFreeFirstSegment);
    releaseBuffer(second, TdcSite::PreciseFreeSecondSegment);
  }
};

class CudaPrecisePrimitives final : public PrecisePrimitives {
 public:
  // Batches stay within 2^30 points, so that every frame index fits the launches' 32 bits.
  explicit CudaPrecisePrimitives(std::int64_t batchPoints)
      : batchPoints_(std::clamp<std::int64_t>(batchPoints, 1, std::int64_t{1} << 30)) {}

  void crossSpectrum(const PreciseSegments& segments, const PreciseLayout& layout, double cycles,
                     FrameShape shape, std::span<double2> spectrum) override {
    requirePlannedLayout(layout);
    requireRoom(spectrum.size(), layout.frameLength, "spectrum's bins");
    guarded([&] {
      const PreciseSegments device = prepare(segments, layout);
      const std::size_t bytes = sizeof(double2) * static_cast<std::size_t>(layout.frameLength);
      GpuCheck(cudaMemset(results_.get(), 0, bytes), TdcSite::PreciseClearSpectrum);
      forEachBatch(layout, [&](int firstBlock, int blocks) {
        fillPreciseFrames(device, layout, firstBlock, blocks, cycles, shape == FrameShape::Windowed,
                          firstFrames_.get(), secondFrames_.get());
        transformFrames(CUFFT_FORWARD);
        addCrossSpectra(firstFrames_.get(), secondFrames_.get(), layout.frameLength, blocks,
                        results_.get());
      });
      checkLaunches(TdcSite::PreciseCheckSpectrumLaunches);
      GpuCheck(cudaMemcpy(spectrum.data(), results_.get(), bytes, cudaMemcpyDeviceToHost),
               TdcSite::PreciseDownloadSpectrum);
    });
  }

  void delayedProductRuns(const PreciseSegments& segments, const PreciseLayout& layout,
                          double cycles, double delaySamples, std::span<const double> rootWeight,
                          std::span<double2> runs) override {
    requirePlannedLayout(layout);
    requireRoom(rootWeight.size(), layout.frameLength, "root weights");
    requireRoom(runs.size(), layout.runCount, "runs");
    guarded([&] {
      const PreciseSegments device = prepare(segments, layout);
      GpuCheck(cudaMemcpy(rootWeight_.get(), rootWeight.data(), rootWeight_.bytes(),
                          cudaMemcpyHostToDevice),
               TdcSite::PreciseUploadRootWeight);
      const std::size_t bytes = sizeof(double2) * static_cast<std::size_t>(layout.runCount);
      GpuCheck(cudaMemset(results_.get(), 0, bytes), TdcSite::PreciseClearRuns);
      const double scale = 1.0 / (static_cast<double>(layout.frameLength) * layout.frameLength);
      forEachBatch(layout, [&](int firstBlock, int blocks) {
        fillPreciseFrames(device, layout, firstBlock, blocks, cycles, false, firstFrames_.get(),
                          secondFrames_.get());
        transformFrames(CUFFT_FORWARD);
        weightAndAdvance(firstFrames_.get(), secondFrames_.get(), rootWeight_.get(),
                         layout.frameLength, blocks, delaySamples);
        transformFrames(CUFFT_INVERSE);
        addProductRuns(firstFrames_.get(), secondFrames_.get(), layout, firstBlock, blocks, scale,
                       results_.get());
      });
      checkLaunches(TdcSite::PreciseCheckRunLaunches);
      GpuCheck(cudaMemcpy(runs.data(), results_.get(), bytes, cudaMemcpyDeviceToHost),
               TdcSite::PreciseDownloadRuns);
    });
  }

  void holdSegments() override { ++holds_; }

  void releaseSegments() override {
    if (holds_ > 0) --holds_;
    if (holds_ == 0) releaseAll();
  }

 private:
  // Outside a hold a call leaves nothing on the device; a call that throws frees what it held.
  template <class Work>
  void guarded(const Work& work) {
    try {
      work();
    } catch (...) {
      dropAll();
      throw;
    }
    if (holds_ == 0) releaseAll();
  }

  PreciseSegments prepare(const PreciseSegments& segments, const PreciseLayout& layout) {
    const WorkspaceShape shape{layout.frameLength, blocksPerBatch(layout, batchPoints_),
                               std::max(layout.frameLength, layout.runCount)};
    if (!(shape == shape_)) {
      releaseWorkspace();
      allocateWorkspace(shape);
    }
    return loadSegments(segments, layout);
  }

  void allocateWorkspace(const WorkspaceShape& shape) {
    const auto points = static_cast<std::size_t>(shape.blocksPerBatch) * shape.frameLength;
    firstFrames_ = DeviceBuffer<double2>(points, TdcSite::PreciseAllocateFirstFrames);
    secondFrames_ = DeviceBuffer<double2>(points, TdcSite::PreciseAllocateSecondFrames);
    results_ = DeviceBuffer<double2>(static_cast<std::size_t>(shape.results),
                                     TdcSite::PreciseAllocateResults);
    rootWeight_ = DeviceBuffer<double>(static_cast<std::size_t>(shape.frameLength),
                                       TdcSite::PreciseAllocateRootWeight);
    plan_.emplace();
    throwOnFftFailure(plan_->create(shape.frameLength, CUFFT_Z2Z, shape.blocksPerBatch),
                      "plan " + std::to_string(shape.blocksPerBatch) + " transforms of " +
                          std::to_string(shape.frameLength) + " points");
    shape_ = shape;
  }

  // Only the samples the frames read: up to a margin before the first, and after the last up to
  // the last frame's end.
  PreciseSegments loadSegments(const PreciseSegments& segments, const PreciseLayout& layout) {
    const int n = layout.sampleCount;
    const std::int64_t framesEnd =
        frameSampleIndex(layout, layout.blockCount - 1, layout.frameLength - 1) + 1;
    const int before = std::min(segments.secondBefore, layout.margin);
    const auto after =
        static_cast<int>(std::min<std::int64_t>(segments.secondAfter, framesEnd - n));
    const auto lead = static_cast<std::size_t>(std::max(0, before));
    const std::size_t secondCount =
        lead + static_cast<std::size_t>(n) + static_cast<std::size_t>(std::max(0, after));
    const SegmentKey key{segments.samples, n, before, after};
    const bool reload = holds_ == 0 || !(key == key_);
    if (reload) key_ = {};
    PreciseSegments device{{}, before, after};
    device.samples = withSegments(segments.samples, [&](const auto* first, const auto* second) {
      using Sample = std::remove_cvref_t<decltype(*first)>;
      SegmentCopy<Sample>& copy = copyOf<Sample>();
      if (reload) {
        // Only one sample type's copy is held at a time.
        if constexpr (std::is_same_v<Sample, short2>) {
          floats_.release();
        } else {
          ints_.release();
        }
        copy.load(first, second - lead, static_cast<std::size_t>(n), secondCount);
      }
      return SegmentPointers(PointerPair<Sample>{copy.first.get(), copy.second.get() + lead});
    });
    if (reload) key_ = key;
    return device;
  }

  template <class Sample>
  SegmentCopy<Sample>& copyOf() {
    if constexpr (std::is_same_v<Sample, short2>) {
      return ints_;
    } else {
      return floats_;
    }
  }

  template <class Step>
  void forEachBatch(const PreciseLayout& layout, const Step& step) {
    for (int firstBlock = 0; firstBlock < layout.blockCount; firstBlock += shape_.blocksPerBatch) {
      step(firstBlock, std::min(shape_.blocksPerBatch, layout.blockCount - firstBlock));
    }
  }

  // All frames of the batch buffers: a short last batch transforms frames of the batch before,
  // which is full, so that no transform reads memory never written.
  void transformFrames(int direction) {
    for (double2* frames : {firstFrames_.get(), secondFrames_.get()}) {
      throwOnFftFailure(cufftExecZ2Z(plan_->get(), fftData(frames), fftData(frames), direction),
                        "transform the precise estimate's frames");
    }
  }

  void releaseWorkspace() {
    if (plan_) {
      plan_->destroy(TdcSite::PreciseDestroyPlan);
      plan_.reset();
    }
    releaseBuffer(firstFrames_, TdcSite::PreciseFreeFirstFrames);
    releaseBuffer(secondFrames_, TdcSite::PreciseFreeSecondFrames);
    releaseBuffer(results_, TdcSite::PreciseFreeResults);
    releaseBuffer(rootWeight_, TdcSite::PreciseFreeRootWeight);
    shape_ = {};
  }

  void releaseAll() {
    releaseWorkspace();
    ints_.release();
    floats_.release();
    key_ = {};
  }

  // On the way out of an exception: the destructors free without a check.
  void dropAll() {
    plan_.reset();
    firstFrames_ = {};
    secondFrames_ = {};
    results_ = {};
    rootWeight_ = {};
    ints_ = {};
    floats_ = {};
    shape_ = {};
    key_ = {};
  }

  std::int64_t batchPoints_;
  int holds_ = 0;
  SegmentKey key_;
  WorkspaceShape shape_;
  SegmentCopy<short2> ints_;
  SegmentCopy<float2> floats_;
  DeviceBuffer<double2> firstFrames_;
  DeviceBuffer<double2> secondFrames_;
  DeviceBuffer<double2> results_;
  DeviceBuffer<double> rootWeight_;
  std::optional<FftPlan> plan_;
};

}  // namespace

std::unique_ptr<PrecisePrimitives> makeCudaPrecisePrimitives(std::int64_t batchPoints) {
  return std::make_unique<CudaPrecisePrimitives>(batchPoints);
}

}  // namespace kestrav
