#include "platform/gpu/grid_slices.hpp"

#include <algorithm>

#include "platform/gpu/chunked_launch.hpp"

namespace kestrav {

std::vector<GridSlice> gridSlices(std::int64_t count, int itemsPerBlock) {
  std::vector<GridSlice> slices;
  const std::int64_t perBlock = std::max(1, itemsPerBlock);
  const std::int64_t blocks = count > 0 ? (count + perBlock - 1) / perBlock : 0;
  for (std::int64_t block = 0; block < blocks; block += LaunchMaxBlocks) {
    const auto sliceBlocks =
        static_cast<int>(std::min<std::int64_t>(LaunchMaxBlocks, blocks - block));
    slices.push_back({block * perBlock, sliceBlocks});
  }
  return slices;
}

}  // namespace kestrav
