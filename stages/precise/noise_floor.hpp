#pragma once
// The first recording's noise floor where its signal fills the whole spectrum, so that no bin
// shows the floor alone.
#include <span>

#include "platform/host/vector_types.hpp"

namespace kestrav {

// `cross` is the block-summed cross-spectrum of windowed frames (conj(X1) X2, the second shifted
// onto the first's bins), firstPower and secondPower the recordings' own (real parts; the
// second's bin k + shiftBins is the cross-spectrum's bin k), over `blocks` frames; the second
// segment's signal lags by delaySamples. Returns the first's floor per bin, in the power
// spectrum's units.
double fillingBandFloor(std::span<const double2> cross, std::span<const double2> firstPower,
                        std::span<const double2> secondPower, int shiftBins, double delaySamples,
                        int blocks);

}  // namespace kestrav
