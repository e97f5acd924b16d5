#include "app/progress_line.hpp"

namespace kestrav {
namespace {

// Nothing is shown for a search that ends within this, so short runs stay silent.
constexpr double QuietSeconds = 0.7;
constexpr double RedrawSeconds = 0.25;

}  // namespace

ProgressLine::ProgressLine(std::FILE* terminal, int totalLags)
    : terminal_(terminal), totalLags_(totalLags) {}

ProgressLine::~ProgressLine() { clear(); }

void ProgressLine::update(int lagsDone) {
  std::lock_guard guard(lock_);
  const Clock::time_point now = Clock::now();
  const double elapsed = std::chrono::duration<double>(now - started_).count();
  if (elapsed < QuietSeconds || lagsDone <= 0 ||
      std::chrono::duration<double>(now - lastDrawn_).count() < RedrawSeconds) {
    return;
  }
  lastDrawn_ = now;
  const double rate = lagsDone / elapsed;
  const double left = (totalLags_ - lagsDone) / rate;
  std::fprintf(terminal_, "\r\033[Kcoarse search: %d of %d lags, %.0f lags/s, %.1f s left",
               lagsDone, totalLags_, rate, left);
  std::fflush(terminal_);
  shown_ = true;
}

void ProgressLine::clear() {
  std::lock_guard guard(lock_);
  if (!shown_) return;
  std::fputs("\r\033[K", terminal_);
  std::fflush(terminal_);
  shown_ = false;
}

}  // namespace kestrav
