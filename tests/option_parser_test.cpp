#include "app/option_parser.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kestrav {
namespace {

using Strings = std::vector<std::string>;

// The program's m/mm, a/aa, s/ss (argument, single-valued, no default) and two flags x and y.
OptionParser declaredParser() {
  OptionParser parser;
  parser.addOption("m", "mm", 0, "", 1);
  parser.addOption("a", "aa", 0, "", 1);
  parser.addOption("s", "ss", 0, "", 1);
  parser.addOption("x", "", 1, "", 1);
  parser.addOption("y", "", 1, "", 1);
  return parser;
}

Strings parse(OptionParser& parser, Strings args) {
  args.insert(args.begin(), "prog");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return parser.parse(static_cast<int>(argv.size()), argv.data());
}

// Each spelling stores its value under both names, leaves the rest unset and returns the
// positional words; catches a value taken from the wrong place or a word taken for an option.
TEST(OptionParser, AcceptedCommandLines) {
  const struct {
    Strings args;
    std::vector<std::pair<std::string, std::string>> set;  // name, value
    Strings unset;
    Strings positional;
  } cases[] = {
      {{"-m", "path1", "-s", "5"},
       {{"mm", "path1"}, {"m", "path1"}, {"s", "5"}},
       {"aa", "undeclared"},
       {}},
      {{"--mm=path1"}, {{"m", "path1"}, {"mm", "path1"}}, {}, {}},
      {{"--mm", "path1"}, {{"m", "path1"}, {"mm", "path1"}}, {}, {}},
      {{"--m", "path1"}, {{"m", "path1"}, {"mm", "path1"}}, {}, {}},
      {{"-mpath1"}, {{"m", "path1"}, {"mm", "path1"}}, {}, {}},
      {{"--mm="}, {{"mm", ""}}, {}, {}},
      // Values that look like options are values.
      {{"-m", "-a"}, {{"m", "-a"}}, {"a"}, {}},
      {{"-s=5"}, {{"s", "=5"}}, {}, {}},
      {{"-mm"}, {{"m", "m"}}, {}, {}},
      {{"-mq"}, {{"m", "q"}}, {}, {}},
      {{"--mm=a=b"}, {{"mm", "a=b"}}, {}, {}},
      // Terminators make the rest positional.
      {{"one", "--", "-m", "two"}, {}, {"m"}, {"one", "-m", "two"}},
      {{"one", "-", "-m", "two"}, {}, {"m"}, {"one", "-m", "two"}},
      {{}, {}, {"m"}, {}},
      {{""}, {}, {}, {""}},
      {{"word", "-m", "p", "other"}, {{"m", "p"}}, {}, {"word", "other"}},
      // Flags in clusters, with an empty value, and followed by a value option.
      {{"-xy"}, {{"x", "1"}, {"y", "1"}}, {}, {}},
      {{"--x="}, {{"x", ""}}, {}, {}},
      {{"-xs7"}, {{"x", "1"}, {"s", "7"}}, {}, {}},
  };
  for (const auto& c : cases) {
    const std::string line = c.args.empty() ? "(none)" : c.args[0];
    OptionParser parser = declaredParser();
    EXPECT_EQ(parse(parser, c.args), c.positional) << line;
    for (const auto& [name, value] : c.set) {
      EXPECT_TRUE(parser.exists(name)) << line << " " << name;
      EXPECT_EQ(parser.get(name), value) << line << " " << name;
    }
    for (const std::string& name : c.unset) {
      EXPECT_FALSE(parser.exists(name)) << line << " " << name;
      EXPECT_EQ(parser.get(name), "") << line << " " << name;
    }
  }
}

// The parser's four messages, byte for byte.
TEST(OptionParser, MessagesAreExact) {
  const struct {
    Strings args;
    std::string message;
  } cases[] = {
      {{"-m"}, "`-m' option requires an argument"},
      {{"--mm"}, "`--mm' option requires an argument"},
      {{"--m"}, "`-m' option requires an argument"},
      {{"-m", "u", "-m", "v"}, "`-m:' option cannot be repeated"},
      {{"-m", "u", "--mm", "v"}, "`--mm:' option cannot be repeated"},
      {{"-m", "u", "-m"}, "`-m:' option cannot be repeated"},
      {{"-q"}, "invalid option: `-q'"},
      {{"--qq"}, "invalid option: `--qq'"},
      {{"--=v"}, "invalid option: `--'"},
      {{"-xx"}, "`-x:' option cannot be repeated"},
      {{"--x=1"}, "`--x=1': option does not take an argument"},
      {{"-xq"}, "invalid option: `-q'"},
  };
  for (const auto& c : cases) {
    OptionParser parser = declaredParser();
    std::string message = "(no error)";
    try {
      parse(parser, c.args);
    } catch (const std::runtime_error& error) {
      message = error.what();
    }
    EXPECT_EQ(message, c.message) << c.args[0];
  }
  // Values stored before the error remain.
  OptionParser parser = declaredParser();
  EXPECT_THROW(parse(parser, {"-m", "kept", "-q"}), std::runtime_error);
  EXPECT_EQ(parser.get("mm"), "kept");
}

TEST(OptionParser, FirstDeclarationStands) {
  OptionParser parser;
  parser.addOption("m", "mm", 0, "first", 1);
  parser.addOption("m", "other", 1, "", 1);
  EXPECT_EQ(parser.get("m"), "first");
  EXPECT_FALSE(parser.exists("other"));
}

TEST(OptionParser, ListsCollectEveryValueUnderBothNames) {
  OptionParser parser;
  parser.addOption("e", "emitter", 0, "default", 0);
  EXPECT_EQ(parser.getList("e"), (Strings{"default"}));
  parse(parser, {"-e", "one", "--emitter=two", "-ethree"});
  EXPECT_EQ(parser.getList("e"), (Strings{"one", "two", "three"}));
  EXPECT_EQ(parser.getList("emitter"), (Strings{"one", "two", "three"}));
  EXPECT_TRUE(parser.exists("emitter"));
  EXPECT_EQ(parser.get("emitter"), "");
}

}  // namespace
}  // namespace kestrav
