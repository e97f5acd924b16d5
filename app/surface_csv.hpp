#pragma once
// The coarse lag surface as CSV: one row per lag of the window.
#include <string>

#include "engine/search.hpp"

namespace kestrav {

std::string formatSurfaceCsv(const SearchOutcome& outcome, double sampleRate);

}  // namespace kestrav
