#pragma once
// Helpers shared by the tests: scratch files, recordings, and the programs run as subprocesses.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/host/vector_types.hpp"

namespace kestrav::testing {

// A fresh directory under the system's temporary directory, removed with the object.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  std::filesystem::path path(const std::string& name) const { return root_ / name; }

 private:
  std::filesystem::path root_;
};

void writeSamples(const std::filesystem::path& path, const std::vector<short2>& samples);
void writeBytes(const std::filesystem::path& path, const std::string& bytes);
// Samples whose I value is the sample's index (mod 32768) and Q its negation: positions show.
std::vector<short2> indexedSamples(int count, int firstIndex = 0);

struct ProcessResult {
  int status = -1;  // exit status; -1 when the process did not exit normally
  std::string out;
  std::string err;
};
// Runs a program with the arguments (no shell) and collects its output and exit status.
ProcessResult runProgram(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace kestrav::testing
