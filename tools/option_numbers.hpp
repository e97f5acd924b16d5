#pragma once
// Numbers from the generators' command lines: a whole finite number or a one-line refusal.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "app/option_parser.hpp"

namespace kestrav::tools {

inline double number(const std::string& text, const char* option) {
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(value)) {
    throw std::runtime_error(std::string("--") + option + " '" + text + "' is not a number");
  }
  return value;
}

inline double optionalNumber(const OptionParser& parser, const char* option, double fallback) {
  return parser.exists(option) ? number(parser.get(option), option) : fallback;
}

}  // namespace kestrav::tools
