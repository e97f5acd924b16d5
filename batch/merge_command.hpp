#pragma once
// merge JOBS.jsonl DIR --out tracks.jsonl [--csv-dir DIR2] [--plot FILE.svg]
#include <ostream>
#include <string>
#include <vector>

namespace kestrav::batch {

int runMergeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kestrav::batch
