#include "support/search_output.hpp"

#include <cstdio>
#include <stdexcept>

namespace kestrav::testing {

std::vector<SearchResult> parseResults(const std::string& text) {
  std::vector<SearchResult> results;
  if (text.empty()) return results;
  int count = 0;
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%d:%n", &count, &consumed) != 1) {
    throw std::runtime_error("no count in '" + text + "'");
  }
  const char* cursor = text.c_str() + consumed;
  for (int i = 0; i < count; ++i) {
    double delayUs = 0.0, offset = 0.0, level = 0.0;
    int used = 0;
    if (std::sscanf(cursor, "%lf*%lf*%lf+%n", &delayUs, &offset, &level, &used) != 3 || used == 0) {
      throw std::runtime_error("malformed result text '" + text + "'");
    }
    results.push_back({delayUs * 1e-6, offset, level});
    cursor += used;
  }
  if (*cursor != '\0') throw std::runtime_error("trailing text in '" + text + "'");
  return results;
}

}  // namespace kestrav::testing
