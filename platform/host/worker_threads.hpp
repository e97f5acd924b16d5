#pragma once
// Work spread over the machine's cores. Every worker runs the same function with its own index
// and takes its tasks from a shared counter, so the results never depend on which worker ran a
// task.
#include <functional>

namespace kestrav {

// The most workers one search may use: the limit set on the calling thread (WorkerThreadLimit),
// else KESTRAV_THREADS from the environment when it is a whole number of at least 1, else the
// hardware threads.
int workerThreadLimit();

// Sets the calling thread's limit for the life of the object; 0 leaves it as it was. Searches run
// side by side on different threads may so each take their own share of the machine.
class WorkerThreadLimit {
 public:
  explicit WorkerThreadLimit(int threads);
  ~WorkerThreadLimit();
  WorkerThreadLimit(const WorkerThreadLimit&) = delete;
  WorkerThreadLimit& operator=(const WorkerThreadLimit&) = delete;

 private:
  int previous_;
};

// Workers for `tasks` independent tasks: one per thread of the limit, never more than the tasks,
// at least one.
int workerCountFor(long long tasks);

// Runs work(w) for w = 0 .. workers - 1, worker 0 on the calling thread, and returns when all
// have finished. The first exception a worker throws is rethrown here. When no further thread can
// be started, the calling thread runs the remaining workers itself, one after another.
void runOnWorkers(int workers, const std::function<void(int)>& work);

}  // namespace kestrav
