#pragma once

namespace kestrav {

// The strongest coarse bin of one lag of the delay window.
struct LagCell {
  int lagIndex = 0;              // k: the lag stands for a delay of firstLag + k samples
  double frequencyOffset = 0.0;  // hertz, in (-fs_dec/2, +fs_dec/2]
  double level = 0.0;            // decibels: peak power over mean power of the lag's spectrum
};

}  // namespace kestrav
