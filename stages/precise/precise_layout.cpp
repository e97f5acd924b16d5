#include "stages/precise/precise_layout.hpp"

#include <algorithm>
#include <bit>

namespace kestrav {

PreciseLayout planPreciseLayout(int sampleCount, int longestFrame) {
  constexpr int Margin = 64;
  constexpr int RunLength = 16;
  constexpr int LongestTaper = 256;
  PreciseLayout layout;
  layout.sampleCount = std::max(1, sampleCount);
  layout.margin = Margin;
  layout.runLength = RunLength;
  const int n = layout.sampleCount;
  const auto wanted = static_cast<unsigned>(std::min<long long>(longestFrame, 2LL * Margin + n));
  layout.frameLength = static_cast<int>(std::max(256u, std::bit_ceil(wanted)));
  const int longestBlock = layout.frameLength - 2 * Margin;
  layout.blockCount = (n + longestBlock - 1) / longestBlock;
  // Blocks of equal length, rounded up to whole runs, so that every frame starts on a run.
  const int even = (n + layout.blockCount - 1) / layout.blockCount;
  layout.blockLength = std::min(longestBlock, (even + RunLength - 1) / RunLength * RunLength);
  const long long covered =
      static_cast<long long>(layout.blockCount - 1) * layout.blockLength + layout.frameLength;
  layout.runCount = static_cast<int>(covered / RunLength);
  // Short ends keep the taper's loss of signal negligible.
  layout.taperLength = std::min(LongestTaper, n / 16);
  layout.centre = 0.5 * (n - 1);
  return layout;
}

}  // namespace kestrav
