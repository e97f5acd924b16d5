#pragma once
// Runs jobs one after another on one backend per kind, made once, and makes each job's result
// line.
#include <map>
#include <memory>
#include <string>

#include "backends/compute_backend.hpp"
#include "batch/job.hpp"
#include "batch/job_windows.hpp"

namespace kestrav::batch {

struct RunIdentity {
  std::string attempt;
  std::string shard;  // "I/N"
};

class JobRunner {
 public:
  explicit JobRunner(RunIdentity identity) : identity_(std::move(identity)) {}
  struct Result {
    std::string status;
    std::string line;  // without its newline
  };
  // The job's result line. Never throws: whatever goes wrong becomes the line's status.
  // `waitedSeconds` (reading its windows) counts into its elapsed time.
  Result run(const Job& job, const JobWindows& windows, double waitedSeconds);

 private:
  ComputeBackend& backendFor(const std::string& name);
  RunIdentity identity_;
  std::map<std::string, std::unique_ptr<ComputeBackend>> backends_;
};

// Adds the alignment residual to every delay of a result object as `kestrav --json` prints it:
// the delay, the precise delay, a runner-up's and resolved echo paths'.
void addResidual(nlohmann::ordered_json& result, double residual);

}  // namespace kestrav::batch
