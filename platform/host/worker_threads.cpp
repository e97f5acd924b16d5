#include "platform/host/worker_threads.hpp"

#include <algorithm>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace kestrav {

int workerCountFor(long long tasks) {
  const long long threads = std::max(1u, std::thread::hardware_concurrency());
  return static_cast<int>(std::clamp(tasks, 1LL, threads));
}

void runOnWorkers(int workers, const std::function<void(int)>& work) {
  std::mutex failureLock;
  std::exception_ptr failure;
  const auto guarded = [&](int w) {
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
