#pragma once
#include <vector>

namespace kestrav {

// A window of the coarse surface around one cell, for pictures.
struct SurfacePatch {
  int firstLagIndex = 0;
  int lags = 0;
  int bins = 0;
  double firstFrequency = 0.0;  // hertz, of column 0, with the cell's alias move applied
  double binSpacing = 0.0;      // hertz
  std::vector<float> levels;    // lags rows of bins, decibels as the lag cells
};

}  // namespace kestrav
