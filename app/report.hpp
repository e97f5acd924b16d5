#pragma once
// The result text: the count, ":", then per result the delay in microseconds, "*", the frequency
// offset in hertz, "*", the level in decibels, "+", each number fixed with three decimals.
#include <span>
#include <string>

#include "engine/kestrav.h"

namespace kestrav {

std::string formatResults(std::span<const SearchResult> results);

}  // namespace kestrav
