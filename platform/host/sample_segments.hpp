#pragma once
// The requests carry their two segments in the sample type of their recordings: int16 pairs, or
// float pairs from float recordings. Every loop over samples is written once, as a template over
// the sample type, and reached through withSegments. The kernels' translation units are C++17,
// so the span form is left out there.
#include <cstddef>
#include <type_traits>
#include <utility>
#include <variant>
#if __cplusplus >= 202002L
#include <span>
#endif

#include "platform/host/vector_types.hpp"

namespace kestrav {

// The two segments in one sample type, each carried as View: a span where the holder checks
// their lengths, a pointer where it knows their extents.
template <class View>
struct SegmentPair {
  View first{};
  View second{};

  // Pointer pairs only: equal when they point at the same samples.
  friend bool operator==(const SegmentPair& a, const SegmentPair& b) {
    return a.first == b.first && a.second == b.second;
  }
};

template <class Sample>
using PointerPair = SegmentPair<const Sample*>;
// Pointers at the segments; by default int16 pairs pointing nowhere.
using SegmentPointers = std::variant<PointerPair<short2>, PointerPair<float2>>;

#if __cplusplus >= 202002L
template <class Sample>
using SpanPair = SegmentPair<std::span<const Sample>>;
// The segments with their lengths; by default empty int16 pairs.
using SegmentSpans = std::variant<SpanPair<short2>, SpanPair<float2>>;
#endif

// Calls read(first, second) with the segments held, in their own sample type.
template <class... Pairs, class Read>
decltype(auto) withSegments(const std::variant<Pairs...>& segments, Read&& read) {
  return std::visit(
      [&](const auto& pair) -> decltype(auto) {
        return std::forward<Read>(read)(pair.first, pair.second);
      },
      segments);
}

#if __cplusplus >= 202002L
// Pointers at the segments' first samples, the second's `secondOffset` samples on.
inline SegmentPointers pointersAt(const SegmentSpans& segments, std::ptrdiff_t secondOffset) {
  return withSegments(segments, [&](auto first, auto second) {
    // Spelled out: clang before 17 deduces no aggregate's template arguments.
    using Sample = std::remove_const_t<typename decltype(first)::element_type>;
    return SegmentPointers(PointerPair<Sample>{first.data(), second.data() + secondOffset});
  });
}
#endif

}  // namespace kestrav
