#pragma once
// Diagnostics stay one line whatever they quote.
#include <string>

namespace kestrav {

// The text with control characters (a newline in a path, say) shown as \xNN escapes.
std::string oneLine(const std::string& text);

}  // namespace kestrav
