#include "batch/arguments.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/one_line.hpp"
#include "batch/json_fields.hpp"

namespace kestrav::batch {

std::optional<std::string> Arguments::option(const std::string& name) const {
  const auto found = options.find(name);
  if (found == options.end()) return std::nullopt;
  return found->second;
}

Arguments parseArguments(const std::vector<std::string>& args,
                         const std::vector<std::string>& withValue,
                         const std::vector<std::string>& flags) {
  const auto listed = [](const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  Arguments parsed;
  bool optionsEnded = false;
  for (std::size_t a = 0; a < args.size(); ++a) {
    const std::string& arg = args[a];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      parsed.help = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    std::string value;
    if (listed(withValue, name)) {
      if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
      } else if (a + 1 < args.size()) {
        value = args[++a];
      } else {
        throw UsageError("option " + name + " needs a value");
      }
    } else if (listed(flags, name)) {
      if (equals != std::string::npos) throw UsageError("option " + name + " takes no value");
    } else {
      throw UsageError("unknown option " + name);
    }
    if (!parsed.options.emplace(name, value).second) {
      throw UsageError("option " + name + " is given twice");
    }
  }
  return parsed;
}

bool isPlainNameCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '-';
}

long long wholeNumber(const std::string& text, long long low, long long high,
                      const std::string& what) {
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || value < low || value > high) {
    throw UsageError(what + " '" + text + "' must be a whole number from " + std::to_string(low) +
                     " to " + std::to_string(high));
  }
  return value;
}

int runReportingFailures(const char* command, std::ostream& err, const std::function<int()>& body) {
  try {
    return body();
  } catch (const UsageError& error) {
    err << "kestrav-batch " << command << ": " << oneLine(error.what()) << "\n";
    return 2;
  } catch (const FieldError& error) {
    err << "kestrav-batch " << command << ": " << oneLine(error.what()) << "\n";
    return 2;
  } catch (const std::bad_alloc&) {
    err << "kestrav-batch " << command << ": out of memory\n";
    return 1;
  } catch (const std::exception& error) {
    err << "kestrav-batch " << command << ": " << oneLine(error.what()) << "\n";
    return 1;
  }
}

}  // namespace kestrav::batch
