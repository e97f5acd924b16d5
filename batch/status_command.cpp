#include <map>
#include <set>

#include "batch/arguments.hpp"
#include "batch/commands.hpp"
#include "batch/job.hpp"
#include "batch/result_files.hpp"

namespace kestrav::batch {
namespace {

const char* const StatusUsage =
    "usage: kestrav-batch status JOBS.jsonl DIR [--shards N]\n"
    "  Counts the jobs of JOBS.jsonl by status from the results in DIR, and names the shards of\n"
    "  N (default: the N of DIR's shard files) with jobs unfinished. Exit status 0 when every\n"
    "  job has a result, 1 when some have none.\n";

int reportStatus(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Arguments arguments = parseArguments(args, {"--shards"});
  if (arguments.help) {
    out << StatusUsage;
    return 0;
  }
  if (arguments.positional.size() != 2) {
    throw UsageError("status takes a jobs file and a results folder (kestrav-batch status --help)");
  }
  const std::vector<Job> jobs = readJobsFile(arguments.positional[0]);
  const ResultScan scan = scanResults(arguments.positional[1]);

  long long shards = 0;
  if (const auto text = arguments.option("--shards")) {
    shards = wholeNumber(*text, 1, 1000000000LL, "--shards");
  } else {
    std::set<long long> found;
    for (const ShardName& name : scan.files) found.insert(name.count);
    if (found.size() > 1) {
      throw UsageError(
          "the results folder holds shard files of several shard counts; give --shards N");
    }
    shards = found.empty() ? 1 : *found.begin();
  }

  // One status per job: ok wins over any other attempt's, then the latest line.
  std::map<std::string, std::string> ended;
  for (const ResultLine& line : scan.lines) {
    std::string& status = ended[line.id + '\n' + line.digest];
    if (status != "ok") status = line.status;
  }
  std::map<std::string, long long> counts{
      {"ok", 0}, {"below_threshold", 0}, {"input_error", 0}, {"failed", 0}};
  std::set<long long> unfinished;
  long long pending = 0;
  const auto total = static_cast<long long>(jobs.size());
  for (long long j = 0; j < total; ++j) {
    const Job& job = jobs[static_cast<std::size_t>(j)];
    const auto found = ended.find(job.id + '\n' + job.digest);
    if (found != ended.end()) {
      ++counts[found->second];
      continue;
    }
    ++pending;
    // Job j belongs to the shard I with I*J/N <= j < (I+1)*J/N.
    long long shard = (j * shards) / total;
    while (shard + 1 < shards && (shard + 1) * total / shards <= j) ++shard;
    while (shard > 0 && shard * total / shards > j) --shard;
    unfinished.insert(shard);
  }
  out << "jobs: " << total << "\n";
  for (const char* name : {"ok", "below_threshold", "input_error", "failed"}) {
    out << name << ": " << counts[name] << "\n";
  }
  out << "not run: " << pending << "\n";
  out << "shards: " << shards << "\n";
  out << "unfinished shards: ";
  if (unfinished.empty()) out << "none";
  const char* separator = "";
  for (const long long shard : unfinished) {
    out << separator << shard;
    separator = ",";
  }
  out << "\n";
  if (scan.unreadable > 0) {
    err << "kestrav-batch status: " << scan.unreadable
        << " result lines are not whole (a run killed while writing) and are not counted\n";
  }
  return pending == 0 ? 0 : 1;
}

}  // namespace

int runStatusCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return runReportingFailures("status", err, [&] { return reportStatus(args, out, err); });
}

}  // namespace kestrav::batch
