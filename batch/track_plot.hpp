#pragma once
// The tracks as one SVG picture: a row per pair, its delay and its frequency offset against
// campaign time, each ok point with its error bar of one deviation.
#include <string>
#include <vector>

#include "batch/tracks.hpp"

namespace kestrav::batch::merge {

std::string renderTrackPlot(const std::vector<Track>& tracks, const std::string& title);

}  // namespace kestrav::batch::merge
