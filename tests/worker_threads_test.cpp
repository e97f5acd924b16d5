// The thread limit that lets searches run side by side without each taking the whole machine.
#include "platform/host/worker_threads.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kestrav {
namespace {

TEST(WorkerThreads, TheCallingThreadsLimitBoundsEveryWorkerCount) {
  const int unlimited = workerThreadLimit();
  ASSERT_GE(unlimited, 1);
  struct Case {
    int limit;
    long long tasks;
    int workers;
  };
  for (const Case c : {Case{1, 100, 1}, Case{3, 100, 3}, Case{3, 2, 2}, Case{3, 0, 1}}) {
    const WorkerThreadLimit limit(c.limit);
    EXPECT_EQ(workerCountFor(c.tasks), c.workers) << c.limit << " threads, " << c.tasks << " tasks";
  }
  EXPECT_EQ(workerThreadLimit(), unlimited);  // restored when the limit ends
  {
    const WorkerThreadLimit none(0);  // 0 changes nothing
    EXPECT_EQ(workerThreadLimit(), unlimited);
  }
}

TEST(WorkerThreads, WorkersKeepTheCallersLimitAndOtherThreadsDoNotSeeIt) {
  const WorkerThreadLimit limit(2);
  std::atomic<int> wrong{0};
  runOnWorkers(2, [&](int) {
    if (workerThreadLimit() != 2) ++wrong;
  });
  EXPECT_EQ(wrong.load(), 0);
  int elsewhere = 0;
  std::thread([&] { elsewhere = workerThreadLimit(); }).join();
  EXPECT_NE(elsewhere, 0);
  const WorkerThreadLimit inner(1);
  EXPECT_EQ(workerThreadLimit(), 1);
}

}  // namespace
}  // namespace kestrav
