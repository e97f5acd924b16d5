#include "app/program_options.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/host/errors.hpp"
#include "support/test_files.hpp"

namespace kestrav {
namespace {

using Strings = std::vector<std::string>;

class ProgramOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::writeSamples(first_, testing::indexedSamples(16));
    testing::writeSamples(second_, testing::indexedSamples(16));
  }
  // A valid command line, with the values of some options replaced ({"-s", "2.9"}) or, for an
  // option not among the defaults (-p), added.
  Strings line(const Strings& change = {}) const {
    std::vector<std::pair<std::string, std::string>> options{
        {"-m", first_}, {"-a", second_}, {"-s", "1000"}, {"-f", "1e6"},
        {"-c", "5"},    {"-r", "100"},   {"-j", "0"},    {"-t", "10"}};
    for (std::size_t c = 0; c + 1 < change.size(); c += 2) {
      const auto known = std::find_if(options.begin(), options.end(), [&](const auto& option) {
        return option.first == change[c];
      });
      if (known != options.end()) {
        known->second = change[c + 1];
      } else {
        options.emplace_back(change[c], change[c + 1]);
      }
    }
    Strings args{"kestrav"};
    for (const auto& [name, value] : options) args.insert(args.end(), {name, value});
    return args;
  }
  static ProgramOptions read(const Strings& args) {
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    return readOptions(static_cast<int>(argv.size()), argv.data());
  }

  testing::ScratchDirectory scratch_;
  std::string first_ = scratch_.path("first.iq").string();
  std::string second_ = scratch_.path("second.iq").string();
};

// Numbers read as atoi/atof read them (the longest prefix); microseconds scaled by the double
// nearest one millionth; -p switches refinement off for any non-zero integer.
TEST_F(ProgramOptionsTest, ConvertsAsAtoiAndAtof) {
  const ProgramOptions base = read(line());
  EXPECT_EQ(base.firstPath, first_);
  EXPECT_EQ(base.sampleRate, 1e6);
  EXPECT_EQ(base.delayWindow, 100 * 0.000001);
  EXPECT_EQ(base.peakThreshold, 10.0);
  const double c5 = 5 * 0.000001;
  const struct {
    Strings change;
    int sampleCount;
    double centre;
    bool refine;
  } cases[] = {
      {{}, 1000, c5, true},
      {{"-s", "2.9"}, 2, c5, true},
      {{"-s", "12abc"}, 12, c5, true},
      {{"-s", " 7"}, 7, c5, true},
      {{"-c", "-50"}, 1000, -50 * 0.000001, true},
      {{"-c", "abc"}, 1000, 0.0, true},
      {{"-p", "0"}, 1000, c5, true},
      {{"-p", "abc"}, 1000, c5, true},
      {{"-p", "1"}, 1000, c5, false},
      {{"-p", "-1"}, 1000, c5, false},
      {{"-p", "99999999999999999999"}, 1000, c5, false},
  };
  for (const auto& c : cases) {
    const ProgramOptions options = read(line(c.change));
    const std::string what = c.change.empty() ? "(unchanged)" : c.change[1];
    EXPECT_EQ(options.sampleCount, c.sampleCount) << what;
    EXPECT_EQ(options.centreDelay, c.centre) << what;
    EXPECT_EQ(searchParametersOf(options).refine, c.refine) << what;
  }
}

TEST_F(ProgramOptionsTest, NumbersReadFromAPrefixAreNamed) {
  EXPECT_TRUE(read(line()).warnings.empty());
  EXPECT_TRUE(read(line({"-s", " 7 "})).warnings.empty());
  const ProgramOptions options = read(line({"-s", "12abc", "-f", "1e6Hz", "-p", "abc"}));
  EXPECT_EQ(options.warnings,
            (Strings{"-s/--ss '12abc' is read as 12", "-f/--ff '1e6Hz' is read as 1000000",
                     "-p/--pp 'abc' is read as 0"}));
}

// Every spelling reaches the same option; positional words are ignored.
TEST_F(ProgramOptionsTest, EverySpellingOfAValue) {
  for (const Strings& centre :
       {Strings{"-c-50"}, {"--cc=-50"}, {"--c=-50"}, {"word", "-c", "-50", "another"}}) {
    Strings args = line();
    args.erase(args.begin() + 9, args.begin() + 11);  // drop "-c 5"
    args.insert(args.end(), centre.begin(), centre.end());
    EXPECT_EQ(read(args).centreDelay, -50 * 0.000001) << centre[0];
  }
}

// The messages the program run itself does not already check (tests/reliability_test.cpp).
// --threads N: a whole number of at least 1; absent, 0 (the platform's default).
TEST_F(ProgramOptionsTest, ThreadsAreAWholeNumber) {
  const struct {
    Strings change;
    int threads;
  } cases[] = {
      {{}, 0}, {{"--threads", "1"}, 1}, {{"--threads", "16"}, 16}, {{"--threads", " 3"}, 3}};
  for (const auto& c : cases) EXPECT_EQ(read(line(c.change)).threads, c.threads);
}

TEST_F(ProgramOptionsTest, RejectionsSayWhy) {
  Strings noThreshold = line();
  noThreshold.resize(noThreshold.size() - 2);
  Strings terminated = line();  // everything after "--" is positional, so -t is missing
  terminated.insert(terminated.end() - 2, "--");
  const std::string absent = scratch_.path("absent.iq").string();
  const struct {
    Strings args;
    std::string message;
  } cases[] = {
      {line({"-f", "abc"}), "-f/--ff (the sample rate in Hz) must be greater than 0, got 'abc'"},
      {line({"-f", "1e999"}), "-f/--ff '1e999' is not a finite number"},
      {line({"-r", "0"}), "-r/--rr (the window width in us) must be greater than 0, got '0'"},
      {line({"-t", "0"}), "-t/--tt (the peak threshold in dB) must be greater than 0, got '0'"},
      {line({"-t", "-nan"}), "-t/--tt '-nan' is not a finite number"},
      {{"kestrav"}, "missing option -m/--mm (the first recording)"},
      {noThreshold, "missing option -t/--tt (the peak threshold in dB)"},
      {terminated, "missing option -t/--tt (the peak threshold in dB)"},
      {line({"-a", absent}), "the second recording '" + absent + "' does not exist"},
      {line({"--threads", "0"}), "--threads '0' is not a number of worker threads (1, 2, ...)"},
      {line({"--threads", "2x"}), "--threads '2x' is not a number of worker threads (1, 2, ...)"},
      {line({"--threads", "-4"}), "--threads '-4' is not a number of worker threads (1, 2, ...)"},
      {line({"--threads", "99999999999"}),
       "--threads '99999999999' is not a number of worker threads (1, 2, ...)"},
  };
  for (const auto& c : cases) {
    std::string message = "(accepted)";
    try {
      read(c.args);
    } catch (const InputError& error) {
      message = error.what();
    }
    EXPECT_EQ(message, c.message);
  }
}

}  // namespace
}  // namespace kestrav
