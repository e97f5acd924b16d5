#pragma once
// What a merge reads: the plan's jobs and every result line of a run folder's shard files, with
// lines that are not whole (a run killed mid-write, a hand-edited file) counted and left out.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "batch/arguments.hpp"

namespace kestrav::batch::merge {

// An input that cannot be read: the caller's to fix, as a bad argument is.
class InputProblem : public UsageError {
 public:
  using UsageError::UsageError;
};

struct PlannedJob {
  std::string id;
  std::string digest;
  std::string first;  // the pair's receivers, as planned
  std::string second;
  long long window = 0;
  double tMid = 0.0;  // seconds of campaign time
};

struct PlannedJobs {
  std::vector<PlannedJob> jobs;  // in the plan's order
  long long unreadable = 0;      // lines that are not a job
  long long repeated = 0;        // lines of an id met before, left out
};

// Throws InputProblem when the file cannot be read.
PlannedJobs readPlannedJobs(const std::filesystem::path& path);

struct ResultEntry {
  std::string id;
  std::string digest;
  std::string status;
  nlohmann::json line;  // the whole result
};

struct ResultEntries {
  std::vector<ResultEntry> entries;  // oldest attempt first, each file's lines in order
  long long unreadable = 0;          // lines that are not a whole result
  std::size_t files = 0;
};

// The results of `folder`'s shard files (shard-I-of-N.ATTEMPT.jsonl) in attempt order: the unix
// time that ends a default attempt name ("host-pid-time"), then the file name, so that of two
// attempts the later one's lines come later. A line whose status is not a job's is unreadable.
// Throws InputProblem when the folder or a file cannot be read.
ResultEntries readResultEntries(const std::filesystem::path& folder);

// Whether shard file `name` sorts before `other` in attempt order.
bool attemptBefore(const std::string& name, const std::string& other);

}  // namespace kestrav::batch::merge
