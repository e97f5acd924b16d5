#include "app/program_options.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "engine/errors.hpp"
#include "support/test_files.hpp"

namespace kestrav {
namespace {

class ProgramOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::writeSamples(first_, testing::indexedSamples(16));
    testing::writeSamples(second_, testing::indexedSamples(16));
  }
  // A valid command line, with the values of some options replaced ({"-s", "2.9"}) or, for an
  // option not among the defaults (-p), added.
  std::vector<std::string> line(const std::vector<std::string>& change = {}) const {
    std::vector<std::pair<std::string, std::string>> options{
        {"-m", first_.string()}, {"-a", second_.string()}, {"-s", "1000"}, {"-f", "1e6"},
        {"-c", "5"},             {"-r", "100"},            {"-j", "0"},    {"-t", "10"}};
    for (std::size_t c = 0; c + 1 < change.size(); c += 2) {
      const auto known = std::find_if(options.begin(), options.end(),
                                      [&](const auto& option) { return option.first == change[c]; });
      if (known != options.end()) {
        known->second = change[c + 1];
      } else {
        options.emplace_back(change[c], change[c + 1]);
      }
    }
    std::vector<std::string> args{"kestrav"};
    for (const auto& [name, value] : options) args.insert(args.end(), {name, value});
    return args;
  }
  static ProgramOptions read(const std::vector<std::string>& args) {
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    return readOptions(static_cast<int>(argv.size()), argv.data());
  }
  static std::string rejection(const std::vector<std::string>& args) {
    try {
      read(args);
    } catch (const InputError& error) {
      return error.what();
    }
    return "(accepted)";
  }

  testing::ScratchDirectory scratch_;
  std::filesystem::path first_ = scratch_.path("first.iq");
  std::filesystem::path second_ = scratch_.path("second.iq");
};

TEST_F(ProgramOptionsTest, ConvertsAndScalesMicroseconds) {
  const ProgramOptions options = read(line());
  EXPECT_EQ(options.firstPath, first_.string());
  EXPECT_EQ(options.sampleCount, 1000);
  EXPECT_EQ(options.sampleRate, 1e6);
  EXPECT_EQ(options.centreDelay, 5 * 0.000001);
  EXPECT_EQ(options.delayWindow, 100 * 0.000001);
  EXPECT_EQ(options.peakThreshold, 10.0);
  const SearchParameters parameters = searchParametersOf(options);
  EXPECT_EQ(parameters.frequencySpan, 16384.0);
  EXPECT_EQ(parameters.minAbsDelay, 0.0);
  EXPECT_EQ(parameters.minAbsFrequency, 0.0);
  EXPECT_TRUE(parameters.refine);
}

TEST_F(ProgramOptionsTest, AtoiAndAtofTakeTheLongestPrefix) {
  // The microsecond conversion multiplies by the double nearest one millionth.
  const double c5 = 5 * 0.000001;
  const struct {
    std::vector<std::string> change;
    int sampleCount;
    double centre;
    bool refine;
  } cases[] = {
      {{"-s", "2.9"}, 2, c5, true},    {{"-s", "12abc"}, 12, c5, true},
      {{"-s", " 7"}, 7, c5, true},     {{"-c", "-50"}, 1000, -50 * 0.000001, true},
      {{"-c", "0"}, 1000, 0.0, true},    {{"-c", "abc"}, 1000, 0.0, true},
      {{"-p", "0"}, 1000, c5, true},   {{"-p", "abc"}, 1000, c5, true},
      {{"-p", "1"}, 1000, c5, false},  {{"-p", "-1"}, 1000, c5, false},
      {{"-p", "99999999999999999999"}, 1000, c5, false},
  };
  for (const auto& c : cases) {
    const ProgramOptions options = read(line(c.change));
    EXPECT_EQ(options.sampleCount, c.sampleCount) << c.change[1];
    EXPECT_EQ(options.centreDelay, c.centre) << c.change[1];
    EXPECT_EQ(searchParametersOf(options).refine, c.refine) << c.change[1];
  }
}

TEST_F(ProgramOptionsTest, NumbersReadFromAPrefixAreNamed) {
  EXPECT_TRUE(read(line()).warnings.empty());
  EXPECT_TRUE(read(line({"-s", " 7 "})).warnings.empty());
  const ProgramOptions options = read(line({"-s", "12abc", "-f", "1e6Hz", "-p", "abc"}));
  EXPECT_EQ(options.warnings,
            (std::vector<std::string>{"-s/--ss '12abc' is read as 12",
                                      "-f/--ff '1e6Hz' is read as 1000000",
                                      "-p/--pp 'abc' is read as 0"}));
}

TEST_F(ProgramOptionsTest, EverySpellingOfAValue) {
  for (const char* centre : {"-c-50", "--cc=-50", "--c=-50"}) {
    std::vector<std::string> args = line();
    args.erase(args.begin() + 9, args.begin() + 11);  // drop "-c 5"
    args.push_back(centre);
    EXPECT_EQ(read(args).centreDelay, -50 * 0.000001) << centre;
  }
}

TEST_F(ProgramOptionsTest, PositionalWordsAreIgnored) {
  std::vector<std::string> args = line();
  args.insert(args.begin() + 1, "word");
  args.push_back("another");
  EXPECT_EQ(read(args).sampleCount, 1000);
}

TEST_F(ProgramOptionsTest, RejectionsSayWhy) {
  const struct {
    std::vector<std::string> change;
    std::string message;
  } cases[] = {
      {{"-s", "0"}, "-s/--ss (the sample count) must be greater than 0, got '0'"},
      {{"-s", "-3"}, "-s/--ss (the sample count) must be greater than 0, got '-3'"},
      {{"-s", "99999999999"},
       "-s/--ss (the sample count) '99999999999' is beyond the supported 2147483647 samples"},
      {{"-f", "abc"}, "-f/--ff (the sample rate in Hz) must be greater than 0, got 'abc'"},
      {{"-f", "nan"}, "-f/--ff 'nan' is not a finite number"},
      {{"-f", "1e999"}, "-f/--ff '1e999' is not a finite number"},
      {{"-c", "inf"}, "-c/--cc 'inf' is not a finite number"},
      {{"-r", "0"}, "-r/--rr (the window width in us) must be greater than 0, got '0'"},
      {{"-r", "-5"}, "-r/--rr (the window width in us) must be greater than 0, got '-5'"},
      {{"-j", "nan"}, "-j/--jj 'nan' is not a finite number"},
      {{"-t", "0"}, "-t/--tt (the peak threshold in dB) must be greater than 0, got '0'"},
      {{"-t", "-nan"}, "-t/--tt '-nan' is not a finite number"},
  };
  for (const auto& c : cases) EXPECT_EQ(rejection(line(c.change)), c.message) << c.change[1];
}

TEST_F(ProgramOptionsTest, MissingOptionsAndBadPaths) {
  EXPECT_EQ(rejection({"kestrav"}), "missing option -m/--mm (the first recording)");
  std::vector<std::string> noThreshold = line();
  noThreshold.resize(noThreshold.size() - 2);
  EXPECT_EQ(rejection(noThreshold), "missing option -t/--tt (the peak threshold in dB)");
  // Everything after a terminator is positional, so the options there are missing.
  std::vector<std::string> terminated = line();
  terminated.insert(terminated.end() - 2, "--");
  EXPECT_EQ(rejection(terminated), "missing option -t/--tt (the peak threshold in dB)");

  std::vector<std::string> directory = line();
  directory[2] = scratch_.path("").string();
  EXPECT_EQ(rejection(directory),
            "the first recording '" + directory[2] + "' is not a regular file");
  std::vector<std::string> missing = line();
  missing[4] = scratch_.path("absent.iq").string();
  EXPECT_EQ(rejection(missing), "the second recording '" + missing[4] + "' does not exist");
}

TEST_F(ProgramOptionsTest, ParserMessagesPassThrough) {
  std::vector<std::string> repeated = line();
  repeated.insert(repeated.end(), {"--mm", first_.string()});
  EXPECT_EQ(rejection(repeated), "`--mm:' option cannot be repeated");
  std::vector<std::string> undeclared = line();
  undeclared.push_back("-q");
  EXPECT_EQ(rejection(undeclared), "invalid option: `-q'");
}

}  // namespace
}  // namespace kestrav
