#pragma once
// Reduces the lag surface to separated maxima: every lag at or above the threshold, with
// neighbours at most `gap` lags apart merged into the stronger, until nothing changes.
#include <span>
#include <vector>

#include "stages/coarse/lag_cell.hpp"

namespace kestrav {

inline constexpr int PeakGap = 5;

// Fills `peaks` with the surviving lag indices in ascending order and returns their number.
int pickPeaks(std::span<const LagCell> cells, std::vector<int>& peaks, double threshold, int gap);

}  // namespace kestrav
