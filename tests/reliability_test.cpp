// Bad input of every kind, through the program as a user runs it: a clear one-line message, a
// non-zero status and nothing on standard output, never a crash or a hang.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/sample_loader.hpp"
#include "platform/host/errors.hpp"
#include "support/test_files.hpp"

namespace kestrav {
namespace {

using testing::ProcessResult;

class Reliability : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::writeSamples(first_, testing::indexedSamples(20000));
    testing::writeSamples(second_, testing::indexedSamples(20000));
  }
  // The valid command line (its threshold finds nothing) with option `name` given `value`.
  std::vector<std::string> with(const std::string& name, const std::string& value) const {
    std::vector<std::string> args{"-m", first_, "-a",  second_, "-s", "10000", "-f",   "1e6", "-c",
                                  "0",  "-r",   "100", "-j",    "0",  "-t",    "1000", "-p",  "1"};
    for (std::size_t i = 0; i < args.size(); i += 2) {
      if (args[i] == name) args[i + 1] = value;
    }
    return args;
  }
  static ProcessResult run(const std::vector<std::string>& args) {
    return testing::runProgram(KESTRAV_PROGRAM, args);
  }
  // A failure: status `status`, no output, and the one line "kestrav: " + message.
  static void expectFailure(const ProcessResult& result, int status, const std::string& message) {
    EXPECT_EQ(result.status, status) << message;
    EXPECT_EQ(result.out, "") << message;
    EXPECT_EQ(result.err, "kestrav: " + message + "\n");
  }

  testing::ScratchDirectory scratch_;
  std::string first_ = scratch_.path("first.iq").string();
  std::string second_ = scratch_.path("second.iq").string();
};

TEST_F(Reliability, PathsThatAreNotRecordings) {
  const std::string empty = scratch_.path("empty.iq").string();
  testing::writeBytes(empty, "");
  const std::string fifo = scratch_.path("fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string absent = scratch_.path("absent.iq").string();
  const std::string directory = scratch_.path("").string();
  const std::string longPath = "/" + std::string(5000, 'x');
  const std::string hugeArgument(100 * 1024, 'x');
  const std::string notUtf8 = scratch_.path("\xff\xfe.iq").string();
  const struct {
    std::string path;
    std::string message;  // after "the first recording '<path>'"
  } cases[] = {
      {absent, " does not exist"},
      {empty, " holds 0 samples; the delay window needs at least 50"},
      {directory, " is not a regular file"},
      {fifo, " is not a regular file"},  // never opened, so nothing waits for a writer
      {"/dev/zero", " is not a regular file"},
      {"/dev/null", " is not a regular file"},
      {longPath, " cannot be examined: File name too long"},
      {hugeArgument, " cannot be examined: File name too long"},
      {notUtf8, " does not exist"},
  };
  for (const auto& c : cases) {
    expectFailure(run(with("-m", c.path)), 2, "the first recording '" + c.path + "'" + c.message);
  }
}

// As root every file is readable, so the program drops to an unprivileged user for this case.
TEST_F(Reliability, AnUnreadableRecording) {
  ASSERT_EQ(::chmod(scratch_.path("").c_str(), 0755), 0);
  ASSERT_EQ(::chmod(first_.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(second_.c_str(), 0000), 0);
  std::vector<std::string> args = with("-a", second_);
  ProcessResult result;
  if (::geteuid() == 0) {
    args.insert(args.begin(),
                {"--reuid=65534", "--regid=65534", "--clear-groups", KESTRAV_PROGRAM});
    result = testing::runProgram("/usr/bin/setpriv", args);
  } else {
    result = run(args);
  }
  expectFailure(result, 2, "cannot open the second recording '" + second_ + "': Permission denied");
}

// Every case but -t 5dB keeps a threshold that finds nothing: standard output stays empty.
TEST_F(Reliability, NumbersOutOfRangeOrNotNumbers) {
  const struct {
    std::string option, value;
    int status;
    std::string err;  // the whole of standard error
  } cases[] = {
      {"-t", "1000", 0, ""},
      {"-s", "0", 2, "kestrav: -s/--ss (the sample count) must be greater than 0, got '0'\n"},
      {"-s", "-5", 2, "kestrav: -s/--ss (the sample count) must be greater than 0, got '-5'\n"},
      {"-s", "nan", 2, "kestrav: -s/--ss (the sample count) must be greater than 0, got 'nan'\n"},
      {"-s", "0x10", 2, "kestrav: -s/--ss (the sample count) must be greater than 0, got '0x10'\n"},
      {"-s", "1e308", 0, "kestrav: warning: -s/--ss '1e308' is read as 1\n"},
      {"-s", "12abc", 0, "kestrav: warning: -s/--ss '12abc' is read as 12\n"},
      {"-s", "99999999999", 2,
       "kestrav: -s/--ss (the sample count) '99999999999' is beyond the supported 2147483647 "
       "samples\n"},
      {"-f", "0", 2, "kestrav: -f/--ff (the sample rate in Hz) must be greater than 0, got '0'\n"},
      {"-f", "-1e6", 2,
       "kestrav: -f/--ff (the sample rate in Hz) must be greater than 0, got '-1e6'\n"},
      {"-f", "inf", 2, "kestrav: -f/--ff 'inf' is not a finite number\n"},
      {"-f", "1e308", 2,
       "kestrav: the delay window is 1e+304 samples, beyond the supported range of 32-bit lag "
       "counts\n"},
      {"-f", "0x1p20", 0, ""},  // hexadecimal floating point, as atof reads it: 1048576 Hz
      {"-c", "nan", 2, "kestrav: -c/--cc 'nan' is not a finite number\n"},
      {"-c", "1e308", 2,
       "kestrav: the window centre is 1e+308 samples, beyond the supported range of 32-bit "
       "lags\n"},
      {"-c", "-inf", 2, "kestrav: -c/--cc '-inf' is not a finite number\n"},
      {"-r", "-100", 2,
       "kestrav: -r/--rr (the window width in us) must be greater than 0, got '-100'\n"},
      {"-r", "1e308", 2,
       "kestrav: the delay window is 1e+308 samples, beyond the supported range of 32-bit lag "
       "counts\n"},
      {"-j", "inf", 2, "kestrav: -j/--jj 'inf' is not a finite number\n"},
      {"-t", "nan", 2, "kestrav: -t/--tt 'nan' is not a finite number\n"},
      {"-t", "5dB", 0, "kestrav: warning: -t/--tt '5dB' is read as 5\n"},
  };
  for (const auto& c : cases) {
    const ProcessResult result = run(with(c.option, c.value));
    EXPECT_EQ(result.status, c.status) << c.option << " " << c.value;
    EXPECT_EQ(result.err, c.err) << c.option << " " << c.value;
    if (c.value != "5dB") {
      EXPECT_EQ(result.out, "") << c.option << " " << c.value;
    }
  }
}

// The parser's messages reach the user unchanged, in every spelling of a repeated option.
TEST_F(Reliability, CommandLineMistakes) {
  const struct {
    std::vector<std::string> extra;  // appended to the valid line
    std::string message;
  } cases[] = {
      {{"-m", first_}, "`-m:' option cannot be repeated"},
      {{"--mm", first_}, "`--mm:' option cannot be repeated"},
      {{"--m", first_}, "`--m:' option cannot be repeated"},
      {{"-m" + first_}, "`-m:' option cannot be repeated"},
      {{"--mm=" + first_}, "`--mm:' option cannot be repeated"},
      {{"-t1", "-t", "2"}, "`-t:' option cannot be repeated"},
      {{"--backend", "host", "--backend=host"}, "`--backend:' option cannot be repeated"},
      {{"-q"}, "invalid option: `-q'"},
      {{"--json=1"}, "`--json=1': option does not take an argument"},
      {{"-p"}, "`-p' option requires an argument"},
      {{"--backend=gpu"}, "--backend 'gpu' is not one of auto, host, cuda, reference"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = with("-t", "1000");
    if (c.extra[0] == "-p") args.resize(args.size() - 2);  // -p last, without its value
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    expectFailure(run(args), 2, c.message);
  }
  expectFailure(run({}), 2, "missing option -m/--mm (the first recording)");
}

// A search too large for the memory the process may use is refused before anything is loaded.
TEST_F(Reliability, ASearchBeyondMemoryFailsWithoutOutput) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's shadow memory does not fit the limit this test sets";
#endif
  const std::string big = scratch_.path("big.iq").string();
  testing::writeBytes(big, "");
  ASSERT_EQ(::truncate(big.c_str(), 2'000'000'000LL), 0);  // sparse
  std::vector<std::string> args = with("-m", big);
  args[3] = big;
  args[5] = "400000000";
  // A data limit rather than an address-space one: the GPU libraries the program links map
  // far more address space than they use.
  args.insert(args.begin(), {"--data=1000000000", KESTRAV_PROGRAM});
  const ProcessResult result = testing::runProgram("/usr/bin/prlimit", args);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.rfind("kestrav: the search needs ", 0), 0u) << result.err;
  EXPECT_NE(result.err.find("this machine can give"), std::string::npos) << result.err;
}

// A recording that changes between being opened and being read: a clear error if it shrank; the
// opened file is read to the end if it was replaced by another.
TEST_F(Reliability, ARecordingThatChangesWhileItIsRead) {
  SamplePairSource shrinking(first_.c_str(), second_.c_str(), 10000, 0, 100);
  ASSERT_EQ(::truncate(second_.c_str(), 4000), 0);
  try {
    shrinking.read();
    FAIL() << "a shrunken recording was read";
  } catch (const InputError& error) {
    EXPECT_EQ(std::string(error.what()),
              "reading the second recording '" + second_ +
                  "' came up short: 1000 of 10100 samples from sample 0; was the file changed "
                  "while it was read?");
  }
  testing::writeSamples(second_, testing::indexedSamples(20000));
  SamplePairSource replaced(first_.c_str(), second_.c_str(), 10000, 0, 100);
  const std::string other = scratch_.path("other.iq").string();
  testing::writeSamples(other, testing::indexedSamples(50, 7));
  ASSERT_EQ(::rename(other.c_str(), second_.c_str()), 0);
  const SamplePair pair = replaced.read();
  EXPECT_EQ(pair.second.size(), 10100u);
  EXPECT_EQ(pair.second[5].x, 5);
}

}  // namespace
}  // namespace kestrav
