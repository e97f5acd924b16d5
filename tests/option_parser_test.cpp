#include "app/option_parser.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace kestrav {
namespace {

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

std::vector<std::string> parse(OptionParser& parser, std::vector<std::string> args) {
  args.insert(args.begin(), "prog");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return parser.parse(static_cast<int>(argv.size()), argv.data());
}

std::string errorOf(std::vector<std::string> args) {
  OptionParser parser = declaredParser();
  try {
    parse(parser, std::move(args));
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(OptionParser, StoresValuesUnderBothNames) {
  OptionParser parser = declaredParser();
  parse(parser, {"-m", "path1", "-s", "5"});
  EXPECT_TRUE(parser.exists("mm"));
  EXPECT_TRUE(parser.exists("m"));
  EXPECT_EQ(parser.get("mm"), "path1");
  EXPECT_EQ(parser.get("s"), "5");
  EXPECT_FALSE(parser.exists("aa"));
  EXPECT_FALSE(parser.exists("undeclared"));
  EXPECT_EQ(parser.get("undeclared"), "");
}

TEST(OptionParser, EverySpellingOfAValue) {
  const std::vector<std::vector<std::string>> spellings = {
      {"--mm=path1"}, {"--mm", "path1"}, {"--m", "path1"}, {"-mpath1"}};
  for (const auto& args : spellings) {
    OptionParser parser = declaredParser();
    parse(parser, args);
    EXPECT_EQ(parser.get("mm"), "path1") << args[0];
    EXPECT_EQ(parser.get("m"), "path1") << args[0];
  }
  OptionParser empty = declaredParser();
  parse(empty, {"--mm="});
  EXPECT_TRUE(empty.exists("mm"));
  EXPECT_EQ(empty.get("mm"), "");
}

TEST(OptionParser, ValuesMayLookLikeOptions) {
  const struct {
    std::vector<std::string> args;
    std::string name;
    std::string value;
  } cases[] = {
      {{"-m", "-a"}, "m", "-a"},  {{"-s=5"}, "s", "=5"}, {{"-mm"}, "m", "m"},
      {{"-mq"}, "m", "q"},        {{"--mm=a=b"}, "mm", "a=b"},
  };
  for (const auto& c : cases) {
    OptionParser parser = declaredParser();
    parse(parser, c.args);
    EXPECT_EQ(parser.get(c.name), c.value) << c.args[0];
  }
  OptionParser parser = declaredParser();
  parse(parser, {"-m", "-a"});
  EXPECT_FALSE(parser.exists("a"));
}

TEST(OptionParser, TerminatorsMakeTheRestPositional) {
  for (const std::string terminator : {"--", "-"}) {
    OptionParser parser = declaredParser();
    const auto positional = parse(parser, {"one", terminator, "-m", "two"});
    EXPECT_EQ(positional, (std::vector<std::string>{"one", "-m", "two"}));
    EXPECT_FALSE(parser.exists("m"));
  }
}

TEST(OptionParser, EmptyAndPositionalArguments) {
  OptionParser parser = declaredParser();
  EXPECT_TRUE(parse(parser, {}).empty());
  EXPECT_FALSE(parser.exists("m"));
  EXPECT_EQ(parse(parser, {""}), (std::vector<std::string>{""}));
  OptionParser later = declaredParser();
  EXPECT_EQ(parse(later, {"word", "-m", "p", "other"}),
            (std::vector<std::string>{"word", "other"}));
  EXPECT_EQ(later.get("m"), "p");
}

TEST(OptionParser, FlagsInClustersAndWithEmptyValues) {
  OptionParser parser = declaredParser();
  parse(parser, {"-xy"});
  EXPECT_EQ(parser.get("x"), "1");
  EXPECT_EQ(parser.get("y"), "1");
  OptionParser empty = declaredParser();
  parse(empty, {"--x="});
  EXPECT_TRUE(empty.exists("x"));
  EXPECT_EQ(empty.get("x"), "");
  OptionParser mixed = declaredParser();
  parse(mixed, {"-xs7"});
  EXPECT_EQ(mixed.get("x"), "1");
  EXPECT_EQ(mixed.get("s"), "7");
}

TEST(OptionParser, MessagesAreExact) {
  const struct {
    std::vector<std::string> args;
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
  for (const auto& c : cases) EXPECT_EQ(errorOf(c.args), c.message) << c.args[0];
}

TEST(OptionParser, ValuesBeforeAnErrorRemain) {
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
  EXPECT_EQ(parser.getList("e"), (std::vector<std::string>{"default"}));
  parse(parser, {"-e", "one", "--emitter=two", "-ethree"});
  const std::vector<std::string> expected{"one", "two", "three"};
  EXPECT_EQ(parser.getList("e"), expected);
  EXPECT_EQ(parser.getList("emitter"), expected);
  EXPECT_TRUE(parser.exists("emitter"));
  EXPECT_EQ(parser.get("emitter"), "");
}

}  // namespace
}  // namespace kestrav
