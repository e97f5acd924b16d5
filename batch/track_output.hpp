#pragma once
// Tracks and closures as text: one compact JSON line each, and each pair's points as CSV.
#include <string>

#include "batch/tracks.hpp"

namespace kestrav::batch::merge {

// {"pair":["A","B"],"points":[{"t_mid_s",...},...]}; values a result does not give are null.
std::string trackLine(const Track& track);
// {"closure":["A","B","C"],"window",...}; residuals and their deviations null where unknown.
std::string closureLine(const Closure& closure);
// A header and one row per point; fields a result does not give are empty.
std::string trackCsv(const Track& track);
// The CSV file's name, "A-B.csv", with any character of a name other than letters, digits, '.',
// '_' and '-' written as '_' so that it stays inside the folder.
std::string trackCsvName(const Track& track);

}  // namespace kestrav::batch::merge
