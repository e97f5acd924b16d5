#include "batch/merge_command.hpp"

namespace kestrav::batch {

int runMergeCommand(const std::vector<std::string>&, std::ostream&, std::ostream& err) {
  err << "merge: not built\n";
  return 2;
}

}  // namespace kestrav::batch
