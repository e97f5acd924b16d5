#pragma once
// The one rule by which every kernel launcher covers n elements: blocks of 1024 threads, at most
// 65535 blocks a launch, longer ranges in further passes, and a range that is not a whole number
// of blocks gets its tail launched alone as one block before the last pass's full blocks.
#include <vector>

namespace kestrav {

inline constexpr int LaunchBlockThreads = 1024;
inline constexpr int LaunchMaxBlocks = 65535;

struct Launch {
  int base = 0;     // the first element the launch covers
  int blocks = 0;   // grid size (x)
  int threads = 0;  // block size (x)
  // Written out: the kernels' translation units are C++17.
  bool operator==(const Launch& other) const {
    return base == other.base && blocks == other.blocks && threads == other.threads;
  }
};

// The launches, in issue order, that cover elements 0 .. n-1 exactly once; none for n <= 0.
std::vector<Launch> chunkedLaunches(int n);

}  // namespace kestrav
