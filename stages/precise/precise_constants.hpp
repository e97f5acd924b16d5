#pragma once
// What the precise estimate's steps share: a whole turn, and the rule that ends an alternating
// delay-then-frequency search.
#include <numbers>

namespace kestrav {

inline constexpr double FullTurn = 2.0 * std::numbers::pi;
// At most this many rounds; a round that moves both estimates by less than SettledShare of their
// deviations ends the search.
inline constexpr int MostRounds = 8;
inline constexpr double SettledShare = 0.01;

}  // namespace kestrav
