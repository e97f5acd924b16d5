#pragma once
// The element maps of the precise estimate, written once for the host loops and for device
// kernels: what each frame position holds, the phase of a frequency shift and of a fractional
// delay, and where a product lands among the runs.
#include <cmath>
#include <cstdint>

#include "platform/host/host_device.hpp"
#include "platform/host/vector_types.hpp"
#include "stages/precise/precise_layout.hpp"

namespace kestrav {

// e^{j 2 pi cycles}, reduced to the nearest whole turn first so that long records keep the
// phase's precision.
KESTRAV_HD double2 unitPhasor(double cycles) {
  const double turn = 6.283185307179586 * (cycles - ::rint(cycles));
  return double2{::cos(turn), ::sin(turn)};
}

KESTRAV_HD double2 complexProduct(double2 a, double2 b) {
  return double2{a.x * b.x - a.y * b.y, a.x * b.y + a.y * b.x};
}
KESTRAV_HD double2 scaled(double2 a, double s) { return double2{a.x * s, a.y * s}; }

// Bin k of an L-point transform as a signed frequency in cycles per sample, in [-1/2, 1/2).
KESTRAV_HD double signedBinFrequency(int k, int frameLength) {
  const int signedBin = 2 * k < frameLength ? k : k - frameLength;
  return static_cast<double>(signedBin) / frameLength;
}

// Raised-cosine weight of first-segment sample i: 1 inside, easing to 0 over the taper at both
// ends, so that the window's edges add no spread of their own to either estimate.
KESTRAV_HD double firstTaper(std::int64_t i, const PreciseLayout& layout) {
  const std::int64_t fromEdge = i < layout.sampleCount - 1 - i ? i : layout.sampleCount - 1 - i;
  if (fromEdge >= layout.taperLength) return 1.0;
  const double s =
      ::sin(1.5707963267948966 * (static_cast<double>(fromEdge) + 0.5) / layout.taperLength);
  return s * s;
}

// Frame position p of block b of the first segment (short2 or float2 samples): the block's
// samples, tapered, between zeros.
template <class Sample>
KESTRAV_HD double2 firstFrameValue(const Sample* first, const PreciseLayout& layout, int block,
                                   int position) {
  const int inBlock = position - layout.margin;
  const std::int64_t i = frameSampleIndex(layout, block, position);
  if (inBlock < 0 || inBlock >= layout.blockLength || i >= layout.sampleCount) {
    return double2{0.0, 0.0};
  }
  const double w = firstTaper(i, layout);
  return double2{w * first[i].x, w * first[i].y};
}

// Frame position p of block b of the second segment, shifted down by `cycles` per sample about
// the centre; zero where the segment cannot be read (readable: -before .. n - 1 + after).
template <class Sample>
KESTRAV_HD double2 secondFrameValue(const Sample* second, int before, int after,
                                    const PreciseLayout& layout, int block, int position,
                                    double cycles) {
  const std::int64_t i = frameSampleIndex(layout, block, position);
  if (i < -static_cast<std::int64_t>(before) ||
      i >= static_cast<std::int64_t>(layout.sampleCount) + after) {
    return double2{0.0, 0.0};
  }
  const double2 sample{static_cast<double>(second[i].x), static_cast<double>(second[i].y)};
  return complexProduct(sample, unitPhasor(-cycles * (static_cast<double>(i) - layout.centre)));
}

// Hann window over the block's positions of a frame, 0 elsewhere.
KESTRAV_HD double blockWindow(const PreciseLayout& layout, int position) {
  const int inBlock = position - layout.margin;
  if (inBlock < 0 || inBlock >= layout.blockLength) return 0.0;
  const double s = ::sin(3.141592653589793 * (inBlock + 0.5) / layout.blockLength);
  return s * s;
}

// e^{j 2 pi f_k d}: moves a spectrum's signal d samples earlier, bin k at frequency f_k.
KESTRAV_HD double2 advancePhasor(int k, int frameLength, double delaySamples) {
  return unitPhasor(signedBinFrequency(k, frameLength) * delaySamples);
}

// The run that frame position p of block b adds into.
KESTRAV_HD int runIndex(const PreciseLayout& layout, int block, int position) {
  return static_cast<int>((std::int64_t{block} * layout.blockLength + position) / layout.runLength);
}

// Time of run j's centre in samples from the layout's centre.
KESTRAV_HD double runTime(const PreciseLayout& layout, int run) {
  return -layout.margin + static_cast<double>(run) * layout.runLength +
         0.5 * (layout.runLength - 1) - layout.centre;
}

}  // namespace kestrav
