#include "stages/fine/czt.hpp"

namespace kestrav {

std::int64_t cztFftLength(int N, int M) {
  // In 64 bits: N + M - 1 reaches 2^32 - 3 and its power of two 2^32.
  const std::int64_t len = std::int64_t{N} + M - 1;
  std::int64_t length = 1;
  while (length < len) length *= 2;
  return length;
}

}  // namespace kestrav
