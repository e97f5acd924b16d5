#include "platform/host/worker_threads.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace kestrav {

namespace {

thread_local int threadLimit = 0;  // 0: none set on this thread

int environmentOrHardwareThreads() {
  static const int threads = [] {
    if (const char* text = std::getenv("KESTRAV_THREADS"); text != nullptr && *text != '\0') {
      char* end = nullptr;
      errno = 0;
      const long value = std::strtol(text, &end, 10);
      if (errno == 0 && *end == '\0' && value >= 1 && value <= 65536) {
        return static_cast<int>(value);
      }
    }
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  }();
  return threads;
}

}  // namespace

int workerThreadLimit() { return threadLimit > 0 ? threadLimit : environmentOrHardwareThreads(); }

WorkerThreadLimit::WorkerThreadLimit(int threads) : previous_(threadLimit) {
  if (threads > 0) threadLimit = threads;
}

WorkerThreadLimit::~WorkerThreadLimit() { threadLimit = previous_; }

int workerCountFor(long long tasks) {
  return static_cast<int>(std::clamp<long long>(tasks, 1LL, workerThreadLimit()));
}

void runOnWorkers(int workers, const std::function<void(int)>& work) {
  std::mutex failureLock;
  std::exception_ptr failure;
  const int callerLimit = threadLimit;
  const auto guarded = [&](int w) {
    threadLimit = callerLimit;  // a worker's own searches keep the caller's limit
    try {
      work(w);
    } catch (...) {
      const std::lock_guard lock(failureLock);
      if (!failure) failure = std::current_exception();
    }
  };
  {
    std::vector<std::jthread> helpers;
    int started = 1;
    try {
      for (; started < workers; ++started) helpers.emplace_back(guarded, started);
    } catch (const std::system_error&) {
      // Out of threads: the remaining workers run here.
    }
    guarded(0);
    for (int w = started; w < workers; ++w) guarded(w);
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace kestrav
