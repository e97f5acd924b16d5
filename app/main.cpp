// kestrav: the command line over the search.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "app/program_options.hpp"
#include "app/report.hpp"
#include "engine/errors.hpp"
#include "engine/search.hpp"

namespace {

int fail(const char* reason, int status) {
  std::fprintf(stderr, "kestrav: %s\n", reason);
  return status;
}

int run(int argc, char** argv) {
  const kestrav::ProgramOptions options = kestrav::readOptions(argc, argv);
  const kestrav::SearchOutcome outcome =
      kestrav::searchRecordings(options.firstPath.c_str(), options.secondPath.c_str(),
                                kestrav::searchParametersOf(options), {options.backend});
  if (outcome.results.empty()) return 0;  // the search ran and found nothing
  const std::string text = kestrav::formatResults(outcome.results);
  std::printf("%s", text.c_str());
  if (std::fflush(stdout) != 0) {
    return fail((std::string("cannot write the results: ") + std::strerror(errno)).c_str(), 1);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const kestrav::SearchError& error) {
    return fail(error.what(), error.exitStatus());
  } catch (const std::bad_alloc&) {
    return fail("out of memory", 1);
  } catch (const std::exception& error) {
    return fail(error.what(), 1);
  }
}
