#include "support/test_files.hpp"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace kestrav::testing {

ScratchDirectory::ScratchDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrav-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(root_, ignored);
}

void writeSamples(const std::filesystem::path& path, const std::vector<short2>& samples) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(samples.data()),
             static_cast<std::streamsize>(samples.size() * sizeof(short2)));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::vector<short2> indexedSamples(int count, int firstIndex) {
  std::vector<short2> samples;
  samples.reserve(static_cast<std::size_t>(count));
  for (int i = firstIndex; i < firstIndex + count; ++i) {
    const auto value = static_cast<short>(i % 32768);
    samples.push_back(short2{value, static_cast<short>(-value)});
  }
  return samples;
}

// Output goes to unnamed temporary files, so neither stream can fill up and stall the program.
ProcessResult runProgram(const std::string& program, const std::vector<std::string>& arguments) {
  std::FILE* sinks[] = {std::tmpfile(), std::tmpfile()};
  if (sinks[0] == nullptr || sinks[1] == nullptr) throw std::runtime_error("tmpfile failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ::fileno(sinks[0]), 1);
  posix_spawn_file_actions_adddup2(&actions, ::fileno(sinks[1]), 2);
  std::vector<std::string> argvStrings{program};
  argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argvStrings) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned == 0) ::waitpid(pid, &status, 0);
  ProcessResult result;
  std::string* texts[] = {&result.out, &result.err};
  for (int s = 0; s < 2; ++s) {
    std::rewind(sinks[s]);
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, sinks[s])) > 0;) {
      texts[s]->append(buffer, got);
    }
    std::fclose(sinks[s]);
  }
  if (spawned != 0) throw std::runtime_error("cannot start " + program);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace kestrav::testing
