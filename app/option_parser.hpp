#pragma once
// A small command-line parser: one-letter options behind one dash (groupable), named options
// behind two dashes, values attached with "=" or given as the next argument, "-" or "--" ending
// option processing. Values stay text; every error is a std::runtime_error with a fixed message.
#include <map>
#include <set>
#include <string>
#include <vector>

namespace kestrav {

struct OptionDeclaration {
  int kind = 0;          // 0: entered under the short name, 1: under the long name
  int noArgument = 0;    // 1: a flag; 0: takes exactly one argument
  int singleValued = 1;  // 1: one value, given at most once a parse; 0: a list, repeatable
  bool hasDefault = false;
};

class OptionParser {
 public:
  // Either name may be empty; names are declared without dashes. A name already declared
  // leaves the earlier declaration standing.
  void addOption(const std::string& shortName, const std::string& longName, int noArgument,
                 const std::string& defaultValue, int singleValued);
  // Parses argv[1..argc-1]; returns the positional arguments in order.
  std::vector<std::string> parse(int argc, const char* const* argv);
  bool exists(const std::string& name) const;
  // The single value stored under the name; empty when undeclared, list-valued or unset.
  std::string get(const std::string& name) const;
  // The values of a list-valued option, in command-line order.
  std::vector<std::string> getList(const std::string& name) const;

 private:
  void setValue(const std::string& name, const std::string& value);
  void addToList(const std::string& name, const std::string& value);
  void store(const std::string& name, const std::string& value);
  void markSeen(const std::string& name, bool longForm, std::set<std::string>& seen);
  // Takes the next argument as the value of `name`, or raises the missing-argument message.
  void takeNext(const std::vector<std::string>& args, std::size_t& i, const std::string& name);

  std::map<std::string, OptionDeclaration> options_;
  std::map<std::string, std::string> values_;
  std::map<std::string, std::vector<std::string>> lists_;
  std::map<std::string, std::string> aliases_;
};

}  // namespace kestrav
