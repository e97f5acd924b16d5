#include "app/cli.hpp"

#include <cerrno>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "app/program_options.hpp"
#include "app/report.hpp"
#include "engine/errors.hpp"
#include "engine/search.hpp"

namespace kestrav {
namespace {

// One line whatever the reason quotes: control characters (a newline in a path, say) are shown
// as \xNN escapes.
std::string oneLine(const std::string& text) {
  std::string line;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      line += escape;
    } else {
      line += c;
    }
  }
  return line;
}

int fail(std::FILE* err, const std::string& reason, int status) {
  std::fprintf(err, "kestrav: %s\n", oneLine(reason).c_str());
  return status;
}

int search(int argc, const char* const* argv, std::FILE* out, std::FILE* err,
           ComputeBackend* backendOverride) {
  const ProgramOptions options = readOptions(argc, argv);
  for (const std::string& warning : options.warnings) {
    std::fprintf(err, "kestrav: warning: %s\n", oneLine(warning).c_str());
  }
  const SearchOutcome outcome =
      searchRecordings(options.firstPath.c_str(), options.secondPath.c_str(),
                       searchParametersOf(options), {options.backend, backendOverride});
  if (outcome.results.empty()) return 0;  // the search ran and found nothing
  const std::string text = formatResults(outcome.results);
  std::fprintf(out, "%s", text.c_str());
  if (std::fflush(out) != 0) {
    throw ResourceError(std::string("cannot write the results: ") + std::strerror(errno));
  }
  return 0;
}

}  // namespace

int runCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err,
                   ComputeBackend* backendOverride) {
  try {
    return search(argc, argv, out, err, backendOverride);
  } catch (const SearchError& error) {
    return fail(err, error.what(), error.exitStatus());
  } catch (const std::bad_alloc&) {
    return fail(err, "out of memory", 1);
  } catch (const std::exception& error) {
    return fail(err, error.what(), 1);
  }
}

}  // namespace kestrav
