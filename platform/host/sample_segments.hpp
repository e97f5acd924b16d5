#pragma once
// The requests carry their segments as int16 pairs (first, second) or, from float recordings, as
// float pairs (firstFloat, secondFloat). Every loop over samples is written once, as a template
// over the sample type, and reached through withSegments.
#include <utility>

namespace kestrav {

// Calls read(first, second) with the segments the request holds, in their own sample type.
template <class Request, class Read>
decltype(auto) withSegments(const Request& request, Read&& read) {
  if (request.holdsFloats()) {
    return std::forward<Read>(read)(request.firstFloat, request.secondFloat);
  }
  return std::forward<Read>(read)(request.first, request.second);
}

}  // namespace kestrav
