#pragma once
// The results as one JSON document, for programs that read them.
#include <string>

#include "engine/search.hpp"

namespace kestrav {

std::string formatJson(const SearchOutcome& outcome, const SearchParameters& parameters);

}  // namespace kestrav
