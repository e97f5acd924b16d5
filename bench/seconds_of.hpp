#pragma once
// Wall-clock seconds of one run of `work`.
#include <chrono>

namespace kestrav {

template <class Work>
double secondsOf(Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace kestrav
