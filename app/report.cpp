#include "app/report.hpp"

#include <locale>
#include <sstream>

namespace kestrav {

std::string formatResults(std::span<const SearchResult> results) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << results.size() << ":";
  text.setf(std::ios::fixed, std::ios::floatfield);
  text.precision(3);
  for (const SearchResult& result : results) {
    text << result.delay * 1000000.0 << "*" << result.frequencyOffset << "*" << result.level << "+";
  }
  return text.str();
}

}  // namespace kestrav
