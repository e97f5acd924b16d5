#pragma once
// Work spread over the machine's cores. Every worker runs the same function with its own index
// and takes its tasks from a shared counter, so the results never depend on which worker ran a
// task.
#include <functional>

namespace kestrav {

// Workers for `tasks` independent tasks: one per hardware thread, never more than the tasks,
// at least one.
int workerCountFor(long long tasks);

// Runs work(w) for w = 0 .. workers - 1, worker 0 on the calling thread, and returns when all
// have finished. The first exception a worker throws is rethrown here. When no further thread can
// be started, the calling thread runs the remaining workers itself, one after another.
void runOnWorkers(int workers, const std::function<void(int)>& work);

}  // namespace kestrav
