#pragma once
// The commands of kestrav-batch, each a function of its arguments (after the command's name)
// returning the exit status: 0 done, 1 the machine could not do the work (or, for status, jobs
// are unfinished), 2 the arguments or inputs cannot be used.
#include <ostream>
#include <string>
#include <vector>

namespace kestrav::batch {

// plan CAMPAIGN.json: the jobs, one JSON line each, on `out`.
int runPlanCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// run JOBS.jsonl --shard I/N --out DIR [--attempt ID] [--threads T]
int runRunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// status JOBS.jsonl DIR [--shards N]
int runStatusCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kestrav::batch
