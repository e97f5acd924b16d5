#include "app/surface_csv.hpp"

#include <charconv>

namespace kestrav {
namespace {

// to_chars keeps the export a small fraction of the search whose surface it writes.
void appendFixed(std::string& csv, double value, char separator) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
  csv.append(text, end.ptr);
  csv += separator;
}

}  // namespace

std::string formatSurfaceCsv(const SearchOutcome& outcome, double sampleRate) {
  std::string csv = "lag_index,delay_us,frequency_offset_hz,level_db\n";
  csv.reserve(csv.size() + outcome.surface.size() * 48);
  for (const LagCell& cell : outcome.surface) {
    char index[16];
    const auto end = std::to_chars(index, index + sizeof index, cell.lagIndex);
    csv.append(index, end.ptr);
    csv += ',';
    const double delayUs =
        (static_cast<double>(outcome.window.firstLag) + cell.lagIndex) / sampleRate * 1e6;
    appendFixed(csv, delayUs, ',');
    appendFixed(csv, cell.frequencyOffset, ',');
    appendFixed(csv, cell.level, '\n');
  }
  return csv;
}

}  // namespace kestrav
