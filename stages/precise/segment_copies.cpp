#include "stages/precise/segment_copies.hpp"

#include <algorithm>
#include <cstdint>

namespace kestrav {

PreciseSegments SegmentCopies::segments() const {
  return PreciseSegments{PointerPair<float2>{first.data(), second.data() + before}, before, after};
}

SegmentCopies copySegments(const PreciseSegments& segments, const PreciseLayout& layout) {
  const int n = layout.sampleCount;
  const auto framesEnd =
      frameSampleIndex(layout, layout.blockCount - 1, layout.frameLength - 1) + 1;
  SegmentCopies copies;
  copies.before = std::min(segments.secondBefore, layout.margin);
  copies.after = static_cast<int>(
      std::min<std::int64_t>(segments.secondAfter, std::max<std::int64_t>(0, framesEnd - n)));
  withSegments(segments.samples, [&](const auto* first, const auto* second) {
    copies.first.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      copies.first.push_back(
          float2{static_cast<float>(first[i].x), static_cast<float>(first[i].y)});
    }
    copies.second.reserve(static_cast<std::size_t>(copies.before + n + copies.after));
    for (int i = -copies.before; i < n + copies.after; ++i) {
      copies.second.push_back(
          float2{static_cast<float>(second[i].x), static_cast<float>(second[i].y)});
    }
  });
  return copies;
}

}  // namespace kestrav
