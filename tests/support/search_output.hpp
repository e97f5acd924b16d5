#pragma once
// Reading the program's result text back: "count:delay*offset*level+..." into records.
#include <string>
#include <vector>

#include "engine/kestrav.h"

namespace kestrav::testing {

// Delays come back in seconds; the text's microseconds are converted. Throws on malformed text.
std::vector<SearchResult> parseResults(const std::string& text);

}  // namespace kestrav::testing
