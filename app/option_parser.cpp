#include "app/option_parser.hpp"

#include <stdexcept>

namespace kestrav {
namespace {

// The opening quote of every message is a grave accent, the closing one an apostrophe.
std::runtime_error undeclared(const std::string& name, bool longForm) {
  return std::runtime_error("invalid option: `-" + std::string(longForm ? "-" : "") + name + "'");
}
std::runtime_error repeated(const std::string& name, bool longForm) {
  return std::runtime_error("`-" + std::string(longForm ? "-" : "") + name +
                            ":' option cannot be repeated");
}
std::runtime_error flagWithValue(const std::string& argument) {
  return std::runtime_error("`" + argument + "': option does not take an argument");
}
// The dashes follow the name's length, not the form typed.
std::runtime_error missingArgument(const std::string& name) {
  return std::runtime_error("`-" + std::string(name.size() == 1 ? "" : "-") + name +
                            "' option requires an argument");
}

}  // namespace

void OptionParser::addOption(const std::string& shortName, const std::string& longName,
                             int noArgument, const std::string& defaultValue, int singleValued) {
  if ((!shortName.empty() && options_.count(shortName)) ||
      (!longName.empty() && options_.count(longName))) {
    return;
  }
  const bool hasDefault = !defaultValue.empty();
  if (!shortName.empty()) options_[shortName] = {0, noArgument, singleValued, hasDefault};
  if (!longName.empty()) options_[longName] = {1, noArgument, singleValued, hasDefault};
  if (!shortName.empty() && !longName.empty()) {
    aliases_[shortName] = longName;
    aliases_[longName] = shortName;
  }
  if (noArgument == 0 && hasDefault) {
    if (singleValued) {
      setValue(shortName, defaultValue);
      setValue(longName, defaultValue);
    } else {
      lists_[shortName.empty() ? longName : shortName].push_back(defaultValue);
      if (!shortName.empty() && !longName.empty()) lists_[longName] = lists_[shortName];
    }
  }
}

void OptionParser::setValue(const std::string& name, const std::string& value) {
  if (name.empty()) return;
  values_[name] = value;
  const auto alias = aliases_.find(name);
  if (alias != aliases_.end()) values_[alias->second] = value;
}

// A list is kept under both names of its option, so that either name sees every value.
void OptionParser::addToList(const std::string& name, const std::string& value) {
  OptionDeclaration& declared = options_[name];
  std::vector<std::string>& list = lists_[name];
  if (declared.hasDefault) {
    // The declared default gives way to the first value given.
    list.clear();
    declared.hasDefault = false;
  }
  list.push_back(value);
  const auto alias = aliases_.find(name);
  if (alias != aliases_.end()) {
    lists_[alias->second] = list;
    options_[alias->second].hasDefault = false;
  }
}

void OptionParser::store(const std::string& name, const std::string& value) {
  if (options_.at(name).singleValued) {
    setValue(name, value);
  } else {
    addToList(name, value);
  }
}

void OptionParser::markSeen(const std::string& name, bool longForm, std::set<std::string>& seen) {
  if (!options_.at(name).singleValued) return;
  if (seen.count(name)) throw repeated(name, longForm);
  seen.insert(name);
  const auto alias = aliases_.find(name);
  if (alias != aliases_.end()) seen.insert(alias->second);
}

void OptionParser::takeNext(const std::vector<std::string>& args, std::size_t& i,
                            const std::string& name) {
  if (i + 1 >= args.size()) throw missingArgument(name);
  ++i;
  store(name, args[i]);
}

std::vector<std::string> OptionParser::parse(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int a = 0; a < argc; ++a) args.emplace_back(argv[a]);
  std::vector<std::string> positional;
  std::set<std::string> seen;
  std::size_t i = 1;
  for (; i < args.size(); ++i) {
    const std::string& argument = args[i];
    if (argument == "-" || argument == "--") {
      ++i;
      break;
    }
    if (argument.size() > 2 && argument.compare(0, 2, "--") == 0) {
      const std::size_t equals = argument.find('=', 2);
      const bool attached = equals != std::string::npos;
      const std::string name = argument.substr(2, attached ? equals - 2 : std::string::npos);
      const auto declared = options_.find(name);
      if (declared == options_.end()) throw undeclared(name, true);
      markSeen(name, true, seen);
      if (attached) {
        const std::string value = argument.substr(equals + 1);
        if (declared->second.noArgument && !value.empty()) throw flagWithValue(argument);
        store(name, value);
      } else if (declared->second.noArgument) {
        store(name, "1");
      } else {
        takeNext(args, i, name);
      }
    } else if (argument.size() > 1 && argument[0] == '-') {
      for (std::size_t j = 1; j < argument.size(); ++j) {
        const std::string name(1, argument[j]);
        const auto declared = options_.find(name);
        if (declared == options_.end()) throw undeclared(name, false);
        markSeen(name, false, seen);
        if (declared->second.noArgument) {
          store(name, "1");
        } else if (j + 1 < argument.size()) {
          store(name, argument.substr(j + 1));
          break;
        } else {
          takeNext(args, i, name);
        }
      }
    } else {
      positional.push_back(argument);
    }
  }
  aliases_.clear();
  for (; i < args.size(); ++i) positional.push_back(args[i]);
  return positional;
}

bool OptionParser::exists(const std::string& name) const {
  const auto declared = options_.find(name);
  if (declared == options_.end()) return false;
  return declared->second.singleValued ? values_.count(name) > 0 : lists_.count(name) > 0;
}

std::string OptionParser::get(const std::string& name) const {
  const auto declared = options_.find(name);
  if (declared == options_.end() || !declared->second.singleValued) return {};
  const auto value = values_.find(name);
  return value == values_.end() ? std::string() : value->second;
}

std::vector<std::string> OptionParser::getList(const std::string& name) const {
  const auto list = lists_.find(name);
  return list == lists_.end() ? std::vector<std::string>() : list->second;
}

}  // namespace kestrav
