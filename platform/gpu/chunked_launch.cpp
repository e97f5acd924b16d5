#include "platform/gpu/chunked_launch.hpp"

#include <cmath>
#include <cstdint>

namespace kestrav {

std::vector<Launch> chunkedLaunches(int n) {
  std::vector<Launch> launches;
  if (n <= 0) return launches;
  const auto blockCount = static_cast<std::uint64_t>(std::ceil(n * 0.0009765625));
  const auto passes =
      static_cast<int>(std::ceil(static_cast<double>(blockCount) / LaunchMaxBlocks));
  int base = 0;
  for (int pass = 1; pass < passes; ++pass) {
    launches.push_back({base, LaunchMaxBlocks, LaunchBlockThreads});
    base += LaunchMaxBlocks * LaunchBlockThreads;
  }
  auto lastBlocks = static_cast<int>(blockCount - std::uint64_t{LaunchMaxBlocks} * (passes - 1));
  const auto tailStart = static_cast<int>((blockCount - 1) * LaunchBlockThreads);
  if (static_cast<std::int64_t>(blockCount) * LaunchBlockThreads > n) {
    launches.push_back({tailStart, 1, n - tailStart});
    --lastBlocks;
  }
  if (lastBlocks > 0) launches.push_back({base, lastBlocks, LaunchBlockThreads});
  return launches;
}

}  // namespace kestrav
