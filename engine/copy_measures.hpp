#pragma once
// Two resolved copies of one emission measured against each other: each copy's cells hold the
// other's delay sidelobes, which bias its power and pull its peak; both are taken out through the
// emission's own autocorrelation, read from the recording that holds no copy.
#include <optional>

#include "engine/full_rate_cells.hpp"

namespace kestrav {

struct CopyMeasures {
  double strongStrength = 0.0;  // |A| at each copy's peak, the other's part taken out
  double copyStrength = 0.0;
  double delay = 0.0;  // seconds: the copy's peak less the stronger's
};

// The copies at lags `strongLag` and `copyLag`, both at `frequency` (hertz); `copyInFirst` says
// which recording holds the copy (the other gives the autocorrelation), `share` the emission's
// share of that recording's energy. Empty where a neighbouring lag lies outside the window or the
// two lie so close that their parts cannot be told apart.
std::optional<CopyMeasures> measureCopies(const ProbeContext& context, int strongLag, int copyLag,
                                          double frequency, bool copyInFirst, double share);

}  // namespace kestrav
