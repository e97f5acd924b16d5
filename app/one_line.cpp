#include "app/one_line.hpp"

#include <cstdio>

namespace kestrav {

std::string oneLine(const std::string& text) {
  std::string line;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      line += escape;
    } else {
      line += c;
    }
  }
  return line;
}

}  // namespace kestrav
