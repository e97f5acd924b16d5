#pragma once
// The commands' arguments: positionals, and long options with a value ("--out DIR" or
// "--out=DIR") or without one.
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrav::batch {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // "--out" -> "DIR"; flags map to ""
  bool help = false;                           // -h or --help
  std::optional<std::string> option(const std::string& name) const;
};

// Throws UsageError on an option not listed, a missing value, a value on a flag, or an option
// given twice.
Arguments parseArguments(const std::vector<std::string>& args,
                         const std::vector<std::string>& withValue,
                         const std::vector<std::string>& flags = {});

// Letters, digits, '_', '.' and '-': what names that go into job ids and file names may hold.
bool isPlainNameCharacter(char c);

// A whole number from `text` within [low, high]; throws UsageError naming `what`.
long long wholeNumber(const std::string& text, long long low, long long high,
                      const std::string& what);

// Runs a command's body and turns what it throws into one line on `err` and a status: 2 for
// UsageError and FieldError (the arguments or inputs), 1 for anything else.
int runReportingFailures(const char* command, std::ostream& err, const std::function<int()>& body);

}  // namespace kestrav::batch
