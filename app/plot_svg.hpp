#pragma once
// A picture of the search: the coarse level across the delay window with the threshold and the
// reported peaks and, where the best result was refined, the fine delay and frequency zooms
// around it. Plain SVG 1.1, readable by any browser or renderer.
#include <string>

#include "engine/search.hpp"

namespace kestrav {

// Zoom points kept on each side of a refined maximum for the plot's second panel.
inline constexpr int PlotTraceHalfWidth = 20000;
// The coarse surface drawn round the best result: lags and bins on each side.
inline constexpr int PlotPatchHalfLags = 16;
inline constexpr int PlotPatchHalfBins = 48;

std::string renderPlotSvg(const SearchOutcome& outcome, const SearchParameters& parameters,
                          const std::string& title);

}  // namespace kestrav
