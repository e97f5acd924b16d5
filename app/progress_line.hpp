#pragma once
// A progress line on a terminal: lags done of the total, the rate and the time left, redrawn in
// place at most a few times a second, shown only once the search has run long enough to need it,
// and cleared when it ends.
#include <chrono>
#include <cstdio>
#include <mutex>

namespace kestrav {

class ProgressLine {
 public:
  ProgressLine(std::FILE* terminal, int totalLags);
  ~ProgressLine();  // clears the line if it was shown
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // From any thread.
  void update(int lagsDone);
  void clear();

 private:
  using Clock = std::chrono::steady_clock;
  std::FILE* terminal_;
  int totalLags_;
  Clock::time_point started_ = Clock::now();
  Clock::time_point lastDrawn_{};
  bool shown_ = false;
  std::mutex lock_;
};

}  // namespace kestrav
