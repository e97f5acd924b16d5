#include <iostream>
#include <string>
#include <vector>

#include "batch/commands.hpp"
#include "batch/merge_command.hpp"

namespace {

const char* const Usage =
    "usage: kestrav-batch COMMAND [ARGUMENTS]\n"
    "Delay and frequency offset over a campaign: every pair of its receivers' recordings, window\n"
    "by window, as jobs run in shards (Slurm job arrays, Dask) and merged into tracks.\n"
    "\n"
    "  plan CAMPAIGN.json > jobs.jsonl\n"
    "        one JSON line per (pair, window) job\n"
    "  run jobs.jsonl --shard I/N --out DIR [--attempt ID] [--threads T]\n"
    "        runs shard I of N, skipping jobs any earlier attempt finished\n"
    "  status jobs.jsonl DIR [--shards N]\n"
    "        counts by status; exit 0 when every job has a result, 1 otherwise\n"
    "  merge jobs.jsonl DIR --out tracks.jsonl [--csv-dir DIR2] [--plot FILE.svg]\n"
    "        one track per pair, and the closures of every triple\n"
    "\n"
    "kestrav-batch COMMAND --help says more of each.\n";

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 1 ? 2 : argc), argv + argc);
  const std::string command = argc > 1 ? argv[1] : "";
  using namespace kestrav::batch;
  if (command == "-h" || command == "--help" || command == "help") {
    std::cout << Usage;
    return 0;
  }
  if (command == "plan") return runPlanCommand(args, std::cout, std::cerr);
  if (command == "run") return runRunCommand(args, std::cout, std::cerr);
  if (command == "status") return runStatusCommand(args, std::cout, std::cerr);
  if (command == "merge") return runMergeCommand(args, std::cout, std::cerr);
  std::cerr << "kestrav-batch: "
            << (command.empty() ? "no command" : "unknown command '" + command + "'")
            << "; kestrav-batch --help lists them\n";
  return 2;
}
