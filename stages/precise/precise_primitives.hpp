#pragma once
// The heavy numerical steps of the precise estimate, behind a small interface so that a device
// can supply them: the block-summed cross-spectrum of the two segments at a frequency offset, and
// the run sums of their band-weighted product at a fractional delay. The estimation logic that
// calls them (fits, band weights, iteration, uncertainty) is written once.
//
// A device version fills the frames with the element maps of tdc/precise_maps.hpp (compiled for
// host and device), transforms them with double-precision transforms of frameLength points,
// batched over blocks, and reduces across blocks on the device: the spectrum bin by bin, the
// runs by run index (neighbouring frames overlap by 2 margin / runLength runs). Per call it
// returns frameLength or runCount values, and may keep the segments on the device while they are
// held (SegmentHold). Its results match the host's to rounding (tests/cuda_precise_test.cpp).
#include <memory>
#include <span>

#include "platform/host/vector_types.hpp"
#include "stages/precise/precise_layout.hpp"
#include "stages/precise/precise_segments.hpp"

namespace kestrav {

// The frames a cross-spectrum is formed from.
enum class FrameShape {
  // The first segment's block between zeros, the second segment's whole frame: at small delays
  // the correlation sees real neighbouring samples only.
  Margined,
  // Both segments' blocks alone, under one Hann window (blockWindow): no leakage from the
  // frames' edges, so that the spectrum shows where the signal's band is.
  Windowed,
};

class PrecisePrimitives {
 public:
  virtual ~PrecisePrimitives() = default;

  // spectrum[k] = sum over blocks b of conj(X1_b[k]) X2_b[k], k = 0 .. frameLength - 1, where
  // X1_b is the transform of block b's first-segment frame (firstFrameValue) and X2_b that of its
  // second-segment frame shifted down by `cycles` per sample (secondFrameValue); with
  // FrameShape::Windowed both frames are multiplied by blockWindow first.
  virtual void crossSpectrum(const PreciseSegments& segments, const PreciseLayout& layout,
                             double cycles, FrameShape shape, std::span<double2> spectrum) = 0;

  // runs[j] = sum of the product over the frame positions that runIndex maps to j, all blocks
  // together, where the product at position p of block b is
  //   conj(y1[p]) y2[p] / frameLength^2,
  //   y1 = inverse transform of rootWeight[k] X1_b[k],
  //   y2 = inverse transform of rootWeight[k] X2_b[k] advancePhasor(k, delaySamples),
  // transforms unnormalised: the first segment against the second, both weighted to the signal's
  // band, the second moved `delaySamples` earlier and shifted down by `cycles` per sample.
  virtual void delayedProductRuns(const PreciseSegments& segments, const PreciseLayout& layout,
                                  double cycles, double delaySamples,
                                  std::span<const double> rootWeight, std::span<double2> runs) = 0;

  // Between holdSegments and releaseSegments the segments that the calls name do not change, so
  // an implementation may keep its own copy of them from one call to the next; releaseSegments
  // frees it. Outside a hold every call reads the segments afresh: a caller may refill a buffer
  // in place, or free one and get its address back for another recording.
  virtual void holdSegments() {}
  virtual void releaseSegments() {}
};

// Holds the segments for one scope, one estimate, and releases them on every way out.
class SegmentHold {
 public:
  explicit SegmentHold(PrecisePrimitives& primitives) : primitives_(primitives) {
    primitives_.holdSegments();
  }
  ~SegmentHold() { primitives_.releaseSegments(); }
  SegmentHold(const SegmentHold&) = delete;
  SegmentHold& operator=(const SegmentHold&) = delete;

 private:
  PrecisePrimitives& primitives_;
};

}  // namespace kestrav
