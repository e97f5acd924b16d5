// The whole program on generated pairs, once with --backend=cuda and once with --backend=host:
// the same printed results. Where a near tie between two zoom points or a level on a rounding
// boundary makes the texts differ, every number may differ by one unit of its last printed digit
// and no more.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/cuda_device.hpp"
#include "support/search_output.hpp"
#include "support/test_files.hpp"

namespace kestrav {
namespace {

std::string number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

struct PairCase {
  double rate;
  int samples;
  double delayUs;
  double offsetHz;
  double snrDb;
};

class CudaEndToEnd : public ::testing::Test {
 protected:
  // Writes the pair and returns the search's arguments: a window centred on zero reaching 32
  // samples past the emitter.
  std::vector<std::string> writePair(const PairCase& c, double seed) {
    const testing::ProcessResult written = testing::runProgram(
        KESTRAV_SYNTH, {"--first=" + first_, "--second=" + second_,
                        "--samples=" + std::to_string(c.samples), "--rate=" + number(c.rate),
                        "--delay-us=" + number(c.delayUs), "--offset-hz=" + number(c.offsetHz),
                        "--snr-db=" + number(c.snrDb), "--seed=" + number(seed)});
    EXPECT_EQ(written.status, 0) << written.err;
    const double windowUs = std::ceil(2 * std::fabs(c.delayUs) + 64e6 / c.rate);
    return {"-m", first_,
            "-a", second_,
            "-s", std::to_string(c.samples),
            "-f", number(c.rate),
            "-c", "0",
            "-r", number(windowUs),
            "-j", "0",
            "-t", "15"};
  }

  testing::ProcessResult search(std::vector<std::string> args, const std::string& backend) {
    args.push_back("--backend=" + backend);
    return testing::runProgram(KESTRAV_PROGRAM, args);
  }

  testing::ScratchDirectory scratch_;
  std::string first_ = scratch_.path("first.iq").string();
  std::string second_ = scratch_.path("second.iq").string();
};

void expectSamePrintedResults(const std::string& gpu, const std::string& host, const char* what) {
  if (gpu == host) return;
  const std::vector<SearchResult> a = testing::parseResults(gpu);
  const std::vector<SearchResult> b = testing::parseResults(host);
  ASSERT_EQ(a.size(), b.size()) << what << ": cuda " << gpu << ", host " << host;
  const double lastDigit = 0.001 * 1.0001;
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_NEAR(a[i].delay * 1e6, b[i].delay * 1e6, lastDigit) << what << ", result " << i;
    EXPECT_NEAR(a[i].frequencyOffset, b[i].frequencyOffset, lastDigit) << what << ", result " << i;
    EXPECT_NEAR(a[i].level, b[i].level, lastDigit) << what << ", result " << i;
  }
  std::printf("note: %s: the texts differ in a last digit: cuda %s, host %s\n", what, gpu.c_str(),
              host.c_str());
}

// The end-to-end cases of the coarse search and of the refinement, each with and without
// refinement.
TEST_F(CudaEndToEnd, TheSamePrintedResultsAsTheHost) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const PairCase cases[] = {
      {20000, 65536, 1234.5, 1500.0, 30},          {48000, 131072, -2000.3, -3200.0, 20},
      {250000, 262144, 87.65, 2500.5, 10},         {1000000, 262144, -123.4567, -1234.5678, 0},
      {2048000, 524288, 45.6789, 4321.0, 20},      {2048000, 262144, -9.99, -7000.0, 30},
      {1000000, 262144, 123.4567, -1234.5678, 20},
  };
  for (const PairCase& c : cases) {
    const std::vector<std::string> args = writePair(c, 7);
    for (const bool refine : {false, true}) {
      std::vector<std::string> run = args;
      if (!refine) run.insert(run.end(), {"-p", "1"});
      const testing::ProcessResult gpu = search(run, "cuda");
      const testing::ProcessResult host = search(run, "host");
      ASSERT_EQ(gpu.status, 0) << gpu.err;
      ASSERT_EQ(host.status, 0) << host.err;
      EXPECT_FALSE(host.out.empty());
      const std::string what = number(c.rate) + " Hz, " + (refine ? "refined" : "coarse only");
      expectSamePrintedResults(gpu.out, host.out, what.c_str());
    }
  }
}

// On a machine with the toolkit but no usable device the program still runs: automatically on
// the host, and --backend=cuda is an input error that says why.
TEST_F(CudaEndToEnd, WithoutADeviceTheHostRunsAndCudaIsRefused) {
  std::string why;
  if (testing::cudaDeviceAvailable(&why)) GTEST_SKIP() << "a CUDA device is present";
  const std::vector<std::string> args = writePair({1000000, 65536, 12.5, 300.0, 20}, 3);
  const testing::ProcessResult automatic = search(args, "auto");
  const testing::ProcessResult host = search(args, "host");
  EXPECT_EQ(automatic.status, 0) << automatic.err;
  EXPECT_FALSE(automatic.out.empty());
  EXPECT_EQ(automatic.out, host.out);
  const testing::ProcessResult cuda = search(args, "cuda");
  EXPECT_EQ(cuda.status, 2);
  EXPECT_EQ(cuda.out, "");
  EXPECT_NE(cuda.err.find("--backend=cuda: no CUDA device: " + why), std::string::npos) << cuda.err;
}

}  // namespace
}  // namespace kestrav
