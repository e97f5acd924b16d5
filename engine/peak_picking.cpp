#include "engine/peak_picking.hpp"

namespace kestrav {

int pickPeaks(std::span<const LagCell> cells, std::vector<int>& peaks, double threshold, int gap) {
  peaks.assign(cells.size(), 0);
  int count = 0;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    // A level that is not a number is not below the threshold: it passes.
    if (!(threshold > cells[i].level)) peaks[count++] = static_cast<int>(i);
  }
  const auto level = [&](int lag) { return cells[static_cast<std::size_t>(lag)].level; };
  while (count >= 2) {
    int written = 0;
    bool changed = false;
    bool suppress = false;  // the left of the next pair lost to its stronger left neighbour
    for (int l = 0; l + 1 < count; ++l) {
      const int left = peaks[l];
      const int right = peaks[l + 1];
      const bool lastPair = l == count - 2;
      if (right - left > gap) {
        if (!suppress) peaks[written++] = left;
        if (lastPair) peaks[written++] = right;
        suppress = false;
      } else if (level(left) > level(right)) {
        // A falling run writes only its head.
        if (!suppress) {
          peaks[written++] = left;
          changed = true;
        }
        suppress = true;
      } else {
        // The right is at least as strong: the later lag wins ties.
        suppress = false;
        if (lastPair) {
          peaks[written++] = right;
          changed = true;
        }
      }
    }
    count = written;
    if (count == 1 || !changed) break;
  }
  peaks.resize(static_cast<std::size_t>(count));
  return count;
}

}  // namespace kestrav
