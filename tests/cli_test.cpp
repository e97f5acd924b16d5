// The program as a user runs it: argv in; standard output, standard error and status out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_files.hpp"

namespace kestrav {
namespace {

using testing::runProgram;

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::writeSamples(first_, testing::indexedSamples(20000));
    testing::writeSamples(second_, testing::indexedSamples(20000));
  }
  std::vector<std::string> valid() const {
    return {"-m", first_, "-a", second_, "-s", "10000", "-f", "1e6",
            "-c", "0",    "-r", "100",   "-j", "0",     "-t", "1000"};
  }
  testing::ScratchDirectory scratch_;
  std::string first_ = scratch_.path("first.iq").string();
  std::string second_ = scratch_.path("second.iq").string();
};

TEST_F(CommandLine, ASearchThatFindsNothingPrintsNothing) {
  const testing::ProcessResult run = runProgram(KESTRAV_PROGRAM, valid());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
}

// Every rejected command line: nothing on standard output, one line on standard error, status 2.
TEST_F(CommandLine, RejectionsGiveOneLineAndStatusTwo) {
  const std::string directory = scratch_.path("").string();
  const struct {
    std::vector<std::string> extra;  // appended to the valid line, or the whole line when `alone`
    bool alone;
    std::string message;
  } cases[] = {
      {{}, true, "missing option -m/--mm (the first recording)"},
      {{"-q"}, false, "invalid option: `-q'"},
      {{"--mm", "x"}, false, "`--mm:' option cannot be repeated"},
      {{"-m", "x"}, false, "`-m:' option cannot be repeated"},
      {{"-p"}, false, "`-p' option requires an argument"},
      {{"--backend=gpu"}, false, "--backend 'gpu' is not one of auto, host, cuda, reference"},
      {{"--backend", "host", "--backend=host"}, false, "`--backend:' option cannot be repeated"},
      {{"-m", directory, "-a", second_, "-s", "1", "-f", "1", "-c", "0", "-r", "1", "-j", "0",
        "-t", "1"},
       true, "the first recording '" + directory + "' is not a regular file"},
      {{"-m", first_, "-a", second_, "-s", "10", "-f", "nan", "-c", "0", "-r", "1", "-j", "0",
        "-t", "1"},
       true, "-f/--ff 'nan' is not a finite number"},
      {{"-m", first_, "-a", second_, "-s", "10", "-f", "1e6", "-c", "0", "-r", "1e300", "-j",
        "0", "-t", "1"},
       true,
       "the delay window is 1e+300 samples, beyond the supported range of "
       "32-bit lag counts"},
      {{"-m", first_, "-a", second_, "-s", "99999999999", "-f", "1e6", "-c", "0", "-r", "1",
        "-j", "0", "-t", "1"},
       true, "-s/--ss (the sample count) '99999999999' is beyond the supported 2147483647 samples"},
      {{"-m", first_, "-a", second_, "-s", "10", "-f", "1e6", "-c", "1e12", "-r", "100", "-j",
        "0", "-t", "1"},
       true,
       "the window centre is 1e+12 samples, beyond the supported range of 32-bit lags"},
      {{"-m", first_, "-a", second_, "-s", "10", "-f", "1e6", "-c", "0", "-r", "100000", "-j",
        "0", "-t", "1"},
       true,
       "the first recording '" + first_ +
           "' holds 20000 samples; the delay window needs at least 50000"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.alone ? c.extra : valid();
    if (!c.alone) args.insert(args.end(), c.extra.begin(), c.extra.end());
    const testing::ProcessResult run = runProgram(KESTRAV_PROGRAM, args);
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_EQ(run.out, "") << c.message;
    EXPECT_EQ(run.err, "kestrav: " + c.message + "\n");
  }
}

TEST_F(CommandLine, AHundredKilobyteArgumentIsJustAnotherPath) {
  std::vector<std::string> args = valid();
  args[1] = std::string(100 * 1024, 'x');
  const testing::ProcessResult run = runProgram(KESTRAV_PROGRAM, args);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("cannot be examined: File name too long"), std::string::npos);
}

}  // namespace
}  // namespace kestrav
