// Recordings as people have them: the same generated pair in every sample format and as SigMF
// gives the same results; bad metadata gets a clear message and status 2.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "stages/coarse/coarse_search.hpp"
#include "support/search_output.hpp"
#include "support/test_files.hpp"

namespace kestrav {
namespace {

using testing::ProcessResult;
using Strings = std::vector<std::string>;

class Formats : public ::testing::Test {
 protected:
  // Writes the pair in the format (as SigMF when asked) and searches it as kestrav-synth says.
  ProcessResult searchWritten(const std::string& format, bool sigmf, const std::string& name) {
    Strings synth{"--first=" + path(name + "1"), "--second=" + path(name + "2"),
                  "--format=" + format,          "--delay-us=45.678",
                  "--offset-hz=-2222.2",         "--seed=4"};
    if (sigmf) synth.push_back("--sigmf");
    const ProcessResult written = testing::runProgram(KESTRAV_SYNTH, synth);
    EXPECT_EQ(written.status, 0) << written.err;
    std::istringstream words(written.out.substr(written.out.find("search: kestrav ") + 16));
    Strings args;
    for (std::string word; words >> word;) args.push_back(word);
    return testing::runProgram(KESTRAV_PROGRAM, args);
  }
  std::string path(const std::string& name) const { return scratch_.path(name).string(); }
  void writeMeta(const std::string& name, const std::string& json) {
    testing::writeBytes(path(name + ".sigmf-meta"), json);
  }

  testing::ScratchDirectory scratch_;
};

TEST_F(Formats, EveryFormatFindsTheSameResults) {
  const ProcessResult plain = searchWritten("ci16", false, "plain");
  ASSERT_EQ(plain.status, 0) << plain.err;
  const std::vector<SearchResult> expected = testing::parseResults(plain.out);
  ASSERT_FALSE(expected.empty());
  // SigMF int16 is the same bytes: the same text.
  const ProcessResult sigmf = searchWritten("ci16", true, "sigmf");
  EXPECT_EQ(sigmf.status, 0) << sigmf.err;
  EXPECT_EQ(sigmf.out, plain.out);

  const CoarseSizes sizes = deriveCoarseSizes(262144, 1e6, 2, 16384.0);
  const double bin = sizes.decimatedRate / static_cast<double>(sizes.fftLength);
  // Unrounded floats (cf32) differ from int16 by its rounding alone.
  for (const auto& [format, sigmfToo] : {std::pair{"ci8", false},
                                         {"cu8", false},
                                         {"ci8", true},
                                         {"cu8", true},
                                         {"cf32", false},
                                         {"cf32", true}}) {
    const ProcessResult other =
        searchWritten(format, sigmfToo, std::string(format) + (sigmfToo ? "s" : ""));
    ASSERT_EQ(other.status, 0) << format << ": " << other.err;
    const std::vector<SearchResult> results = testing::parseResults(other.out);
    ASSERT_FALSE(results.empty()) << format;
    // The best result is refined: within a grid step of the fine zooms.
    EXPECT_NEAR(results[0].delay, expected[0].delay, 1e-9) << format;
    EXPECT_NEAR(results[0].frequencyOffset, expected[0].frequencyOffset, 1e-3) << format;
    for (std::size_t r = 1; r < std::min(results.size(), expected.size()); ++r) {
      EXPECT_NEAR(results[r].delay, expected[r].delay, 1e-6) << format;
      EXPECT_NEAR(results[r].frequencyOffset, expected[r].frequencyOffset, bin) << format;
    }
  }
}

TEST_F(Formats, BadMetadataSaysWhat) {
  const std::string good = R"({"global": {"core:datatype": "ci16_le", "core:sample_rate": 1e6}})";
  testing::writeSamples(path("data.sigmf-data"), testing::indexedSamples(5000));
  testing::writeSamples(path("fast.sigmf-data"), testing::indexedSamples(5000));
  testing::writeSamples(path("other.iq"), testing::indexedSamples(5000));
  writeMeta("lonely", good);  // no data file beside it
  writeMeta("fast", R"({"global": {"core:datatype": "ci16_le", "core:sample_rate": 2e6}})");
  const std::string meta = path("data.sigmf-meta");
  const std::string about = "the first recording's metadata '" + meta + "'";
  const struct {
    std::string meta;     // written to data.sigmf-meta
    Strings extra;        // after -s -c -r -j -t; -m and -a when they are not data and other.iq
    std::string message;  // standard error after "kestrav: ", or its start where it ends in ": "
  } cases[] = {
      {"{", {}, about + " is not valid JSON: "},
      {"[1, 2]", {}, about + " has no \"global\" object"},
      {R"({"global": {"core:sample_rate": 1e6}})", {}, about + " has no \"core:datatype\" text"},
      {R"({"global": {"core:datatype": 16, "core:sample_rate": 1e6}})",
       {},
       about + " has no \"core:datatype\" text"},
      {R"({"global": {"core:datatype": "ri16_le", "core:sample_rate": 1e6}})",
       {},
       about + " gives the datatype 'ri16_le', which is not one of ci16_le, cf32_le, ci8, cu8"},
      {R"({"global": {"core:datatype": "ci16_be", "core:sample_rate": 1e6}})",
       {},
       about + " gives the big-endian datatype 'ci16_be'; only little-endian recordings are read"},
      // The sample rate is optional in SigMF: then -f must give it.
      {R"({"global": {"core:datatype": "ci16_le"}})",
       {},
       "missing option -f/--ff (the sample rate in Hz): neither recording gives its own"},
      {R"({"global": {"core:datatype": "ci16_le", "core:sample_rate": "fast"}})",
       {},
       about + " has no \"core:sample_rate\" number"},
      {R"({"global": {"core:datatype": "ci16_le", "core:sample_rate": -5}})",
       {},
       about + " gives a sample rate that is not a positive number"},
      {good,
       {"-f", "2e6"},
       "-f/--ff '2e6' disagrees with the sample rate 1000000 Hz of the first recording's metadata"},
      {good,
       {"--format=cf32"},
       "--format cf32 disagrees with the first recording's metadata, which gives ci16"},
      {good,
       {"-m", path("lonely.sigmf-meta")},
       "the first recording's data file '" + path("lonely.sigmf-data") +
           "' cannot be found: No such file or directory"},
      {good,
       {"-a", path("fast.sigmf-data")},
       "the two recordings' sample rates differ: 1000000 Hz and 2000000 Hz"},
      // Without SigMF the sample rate stays required.
      {good, {"-m", path("other.iq")}, "missing option -f/--ff (the sample rate in Hz)"},
      {good,
       {"-m", path("other.iq"), "-f", "1e6", "--format=ci12"},
       "--format 'ci12' is not one of ci16, cf32, ci8, cu8"},
  };
  for (const auto& c : cases) {
    writeMeta("data", c.meta);
    Strings args{"-s", "4000", "-c", "0", "-r", "100", "-j", "0", "-t", "10"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    for (const auto& [option, value] : {std::pair{"-m", meta}, {"-a", path("other.iq")}}) {
      if (std::find(args.begin(), args.end(), option) == args.end()) {
        args.insert(args.end(), {option, value});
      }
    }
    const ProcessResult run = testing::runProgram(KESTRAV_PROGRAM, args);
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_EQ(run.out, "");
    if (c.message.ends_with(": ")) {
      EXPECT_EQ(run.err.rfind("kestrav: " + c.message, 0), 0u) << run.err;
    } else {
      EXPECT_EQ(run.err, "kestrav: " + c.message + "\n");
    }
  }
}

}  // namespace
}  // namespace kestrav
