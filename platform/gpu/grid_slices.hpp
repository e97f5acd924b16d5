#pragma once
// How the batched kernels, whose grids are not ChunkedLaunch ranges, keep every launch within
// 65535 blocks along a grid dimension: a count of items, some per block, in slices of launches.
#include <cstdint>
#include <vector>

namespace kestrav {

struct GridSlice {
  std::int64_t first = 0;  // the first item the launch covers
  int blocks = 0;          // blocks along the sliced dimension
  bool operator==(const GridSlice& other) const {
    return first == other.first && blocks == other.blocks;
  }
};

// The launches, in order, that cover items 0 .. count-1 with itemsPerBlock items a block and at
// most 65535 blocks each; the last block of the last slice may reach past count. None for
// count <= 0.
std::vector<GridSlice> gridSlices(std::int64_t count, int itemsPerBlock);

}  // namespace kestrav
