// The whole front end on arbitrary argument vectors, with the search on a painted lag surface:
// argv in; the result text, the diagnostics and the status out. "@1" and "@2" stand for two
// small recordings. Whatever the input: status 0, 1 or 2; on standard error only whole lines that
// begin "kestrav: ", of which only the last, on failure, is not a warning; on failure nothing on
// standard output; on success either no output or a well-formed result text of at most ten
// results.
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli.hpp"
#include "app/help_text.hpp"
#include "fuzz_input.hpp"
#include "support/surface_backend.hpp"

namespace {

std::string scratchDirectory;
std::string startDirectory;
std::string firstPath;
std::string secondPath;

void writeRecording(const std::string& path, int samples, int seed) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  for (int i = 0; i < samples; ++i) {
    const short sample[2] = {static_cast<short>((i * 7919 + seed) % 65536 - 32768),
                             static_cast<short>((i * 104729 + seed) % 65536 - 32768)};
    std::fwrite(sample, sizeof sample, 1, file);
  }
  std::fclose(file);
}

std::string captured(char* buffer, std::size_t size) { return std::string(buffer, size); }

// Lines "kestrav: warning: ..." and, when `failed`, a last line "kestrav: <reason>".
bool wellFormedDiagnostics(const std::string& text, bool failed) {
  std::size_t start = 0;
  int reasons = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) return false;
    const std::string line = text.substr(start, end - start);
    if (line.compare(0, 9, "kestrav: ") != 0) return false;
    if (line.compare(0, 18, "kestrav: warning: ") != 0) ++reasons;
    if (reasons > 0 && end + 1 != text.size()) return false;  // the reason comes last
    start = end + 1;
  }
  return reasons == (failed ? 1 : 0);
}

bool wellFormedResults(const std::string& text) {
  int count = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%d:%n", &count, &used) != 1 || count < 1 || count > 10) {
    return false;
  }
  const char* cursor = text.c_str() + used;
  for (int i = 0; i < count; ++i) {
    double delay = 0, offset = 0, level = 0;
    int step = 0;
    if (std::sscanf(cursor, "%lf*%lf*%lf+%n", &delay, &offset, &level, &step) != 3 || step == 0) {
      return false;
    }
    cursor += step;
  }
  return *cursor == '\0';
}

bool wellFormedOutput(const std::string& text) {
  if (text.empty() || text == kestrav::usageText() || text == kestrav::versionText()) return true;
  if (text.front() == '{') return nlohmann::json::accept(text);
  return wellFormedResults(text);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char directory[] = "/tmp/kestrav-fuzz-XXXXXX";
  if (::mkdtemp(directory) == nullptr) std::abort();
  scratchDirectory = directory;
  char* current = ::getcwd(nullptr, 0);
  if (current == nullptr) std::abort();
  startDirectory = current;
  std::free(current);
  firstPath = std::string(directory) + "/first.iq";
  secondPath = std::string(directory) + "/second.iq";
  writeRecording(firstPath, 5000, 1);
  writeRecording(secondPath, 5000, 2);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto arguments = kestrav::fuzzing::splitArguments(data, size);
  for (std::string& argument : arguments) {
    if (argument == "@1") argument = firstPath;
    if (argument == "@2") argument = secondPath;
  }
  const auto argv = kestrav::fuzzing::argumentPointers(arguments);
  char* outBuffer = nullptr;
  char* errBuffer = nullptr;
  std::size_t outSize = 0;
  std::size_t errSize = 0;
  std::FILE* out = ::open_memstream(&outBuffer, &outSize);
  std::FILE* err = ::open_memstream(&errBuffer, &errSize);
  kestrav::testing::SurfaceBackend surface;
  // Output files the fuzzer names (--surface, --plot) land in the scratch directory; the
  // fuzzer's own relative paths still need the directory it started in.
  if (::chdir(scratchDirectory.c_str()) != 0) std::abort();
  const int status =
      kestrav::runCommandLine(static_cast<int>(argv.size()), argv.data(), out, err, &surface);
  if (::chdir(startDirectory.c_str()) != 0) std::abort();
  std::fclose(out);
  std::fclose(err);
  const std::string outText = captured(outBuffer, outSize);
  const std::string errText = captured(errBuffer, errSize);
  std::free(outBuffer);
  std::free(errBuffer);

  if (status != 0 && status != 1 && status != 2) std::abort();
  if (!wellFormedDiagnostics(errText, status != 0)) std::abort();
  if (status == 0) {
    if (!wellFormedOutput(outText)) std::abort();
  } else if (!outText.empty()) {
    std::abort();
  }
  return 0;
}
