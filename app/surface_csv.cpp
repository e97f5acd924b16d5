#include "app/surface_csv.hpp"

#include <cstdio>

namespace kestrav {

std::string formatSurfaceCsv(const SearchOutcome& outcome, double sampleRate) {
  std::string csv = "lag_index,delay_us,frequency_offset_hz,level_db\n";
  csv.reserve(csv.size() + outcome.surface.size() * 48);
  char row[128];
  for (const LagCell& cell : outcome.surface) {
    const double delayUs =
        (static_cast<double>(outcome.window.firstLag) + cell.lagIndex) / sampleRate * 1e6;
    std::snprintf(row, sizeof row, "%d,%.6f,%.6f,%.6f\n", cell.lagIndex, delayUs,
                  cell.frequencyOffset, cell.level);
    csv += row;
  }
  return csv;
}

}  // namespace kestrav
