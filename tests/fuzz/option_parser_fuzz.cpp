// The option parser on arbitrary argument vectors: it either parses or raises one of its four
// messages, and both names of an option always agree.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "app/option_parser.hpp"
#include "fuzz_input.hpp"

namespace {

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}
bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool isParserMessage(const std::string& message) {
  return (startsWith(message, "invalid option: `-") && endsWith(message, "'")) ||
         (startsWith(message, "`-") && endsWith(message, ":' option cannot be repeated")) ||
         (startsWith(message, "`") && endsWith(message, "': option does not take an argument")) ||
         (startsWith(message, "`-") && endsWith(message, "' option requires an argument"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto arguments = kestrav::fuzzing::splitArguments(data, size);
  const auto argv = kestrav::fuzzing::argumentPointers(arguments);
  kestrav::OptionParser parser;
  const char* names[][2] = {{"m", "mm"}, {"a", "aa"}, {"s", "ss"}, {"f", "ff"}, {"c", "cc"},
                            {"r", "rr"}, {"j", "jj"}, {"t", "tt"}, {"p", "pp"}};
  for (const auto& name : names) parser.addOption(name[0], name[1], 0, "", 1);
  parser.addOption("x", "", 1, "", 1);
  parser.addOption("e", "emitter", 0, "default", 0);
  parser.addOption("", "backend", 0, "", 1);
  try {
    const auto positional = parser.parse(static_cast<int>(argv.size()), argv.data());
    if (positional.size() >= arguments.size()) std::abort();
  } catch (const std::runtime_error& error) {
    if (!isParserMessage(error.what())) std::abort();
    return 0;
  }
  for (const auto& name : names) {
    if (parser.exists(name[0]) != parser.exists(name[1])) std::abort();
    if (parser.get(name[0]) != parser.get(name[1])) std::abort();
  }
  if (parser.getList("e") != parser.getList("emitter")) std::abort();
  return 0;
}
