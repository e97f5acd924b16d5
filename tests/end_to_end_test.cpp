// The whole program on generated pairs with a known delay and frequency offset.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "stages/coarse/coarse_search.hpp"
#include "support/search_output.hpp"
#include "support/test_files.hpp"

namespace kestrav {
namespace {

struct PairCase {
  double rate;
  int samples;
  double delayUs, offsetHz, snrDb;
};

std::string number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

class EndToEnd : public ::testing::Test {
 protected:
  // Writes the pair with kestrav-synth and searches a window centred on zero that reaches 32
  // samples past the farthest emitter.
  testing::ProcessResult search(const PairCase& c, const std::vector<std::string>& extraEmitters,
                                const std::vector<std::string>& extraOptions, double seed = 7) {
    std::vector<std::string> synth{"--first=" + first_,
                                   "--second=" + second_,
                                   "--samples=" + std::to_string(c.samples),
                                   "--rate=" + number(c.rate),
                                   "--delay-us=" + number(c.delayUs),
                                   "--offset-hz=" + number(c.offsetHz),
                                   "--snr-db=" + number(c.snrDb),
                                   "--seed=" + number(seed)};
    double widestUs = std::fabs(c.delayUs);
    for (const std::string& emitter : extraEmitters) {
      synth.push_back("--emitter=" + emitter);
      widestUs = std::max(widestUs, std::fabs(std::stod(emitter)));
    }
    const testing::ProcessResult written = testing::runProgram(KESTRAV_SYNTH, synth);
    EXPECT_EQ(written.status, 0) << written.err;
    const double windowUs = std::ceil(2 * widestUs + 64e6 / c.rate);
    std::vector<std::string> args{"-m", first_,
                                  "-a", second_,
                                  "-s", std::to_string(c.samples),
                                  "-f", number(c.rate),
                                  "-c", "0",
                                  "-r", number(windowUs),
                                  "-j", "0",
                                  "-t", "15"};
    args.insert(args.end(), extraOptions.begin(), extraOptions.end());
    return testing::runProgram(KESTRAV_PROGRAM, args);
  }

  testing::ScratchDirectory scratch_;
  std::string first_ = scratch_.path("first.iq").string();
  std::string second_ = scratch_.path("second.iq").string();
};

// The coarse result alone (-p 1): the strongest result lies within one sample of the true delay
// and within one bin of the true frequency offset.
TEST_F(EndToEnd, CoarseResultsFindTheTruth) {
  const PairCase cases[] = {
      {20000, 65536, 1234.5, 1500.0, 30},     {48000, 131072, -2000.3, -3200.0, 20},
      {250000, 262144, 87.65, 2500.5, 10},    {1000000, 262144, -123.4567, -1234.5678, 0},
      {2048000, 524288, 45.6789, 4321.0, 20}, {2048000, 262144, -9.99, -7000.0, 30},
  };
  for (const PairCase& c : cases) {
    const testing::ProcessResult run = search(c, {}, {"-p", "1"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<SearchResult> results = testing::parseResults(run.out);
    ASSERT_FALSE(results.empty()) << c.rate;
    const CoarseSizes sizes = deriveCoarseSizes(c.samples, c.rate, 2, 16384.0);
    const double bin = sizes.decimatedRate / static_cast<double>(sizes.fftLength);
    EXPECT_NEAR(results[0].delay, c.delayUs * 1e-6, 1.0 / c.rate) << c.rate << " Hz";
    EXPECT_NEAR(results[0].frequencyOffset, c.offsetHz, bin) << c.rate << " Hz";
  }
}

TEST_F(EndToEnd, TwoEmittersComeOutInOrderOfStrength) {
  const PairCase strong{1000000, 262144, 50.0, 1000.0, 20};
  const testing::ProcessResult run = search(strong, {"-80:-2000:-6"}, {"-p", "1"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<SearchResult> results = testing::parseResults(run.out);
  ASSERT_GE(results.size(), 2u);
  EXPECT_NEAR(results[0].delay, 50e-6, 1e-6);
  EXPECT_NEAR(results[1].delay, -80e-6, 1e-6);
  EXPECT_NEAR(results[1].frequencyOffset, -2000.0, 2.0);
  EXPECT_GT(results[0].level, results[1].level);
}

}  // namespace
}  // namespace kestrav
