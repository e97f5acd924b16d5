// The long options for people and programs: help, version, JSON, refining every result, the
// surface as CSV, the plot, and the progress line on a terminal.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/search_output.hpp"
#include "support/test_files.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

using testing::ProcessResult;

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

class LongOptions : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new testing::ScratchDirectory;
    PairConfig config;
    config.sampleCount = 1 << 18;
    config.emitters = {Emitter{123.4567e-6, -1234.5678, 0.0}, Emitter{-60e-6, 2500.0, -8.0}};
    config.snrDb = 20.0;
    const SamplePairInt16 pair = quantizePair(generatePair(config));
    testing::writeSamples(scratch_->path("first.iq"), pair.first);
    testing::writeSamples(scratch_->path("second.iq"), pair.second);
    plain_ = run(search());
    plainJson_ = nlohmann::json::parse(run(search({"--json"})).out);
  }
  static void TearDownTestSuite() { delete scratch_; }

  static std::vector<std::string> search(const std::vector<std::string>& extra = {},
                                         const char* window = "311", const char* threshold = "15") {
    std::vector<std::string> args{"-m", path("first.iq"),
                                  "-a", path("second.iq"),
                                  "-s", "262144",
                                  "-f", "1000000",
                                  "-c", "0",
                                  "-r", window,
                                  "-j", "0",
                                  "-t", threshold};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  static ProcessResult run(const std::vector<std::string>& args) {
    return testing::runProgram(KESTRAV_PROGRAM, args);
  }
  static std::string path(const std::string& name) { return scratch_->path(name).string(); }

  static inline testing::ScratchDirectory* scratch_ = nullptr;
  static inline ProcessResult plain_;       // the search's result text
  static inline nlohmann::json plainJson_;  // the same search with --json
};

TEST_F(LongOptions, HelpAndVersionNeedNothingElse) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"-h"}, {"--help", "-m", "whatever"}}) {
    const ProcessResult help = run(args);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    for (const char* mention :
         {"-m, --mm",     "-a, --aa",     "-s, --ss",  "-f, --ff",    "-c, --cc",
          "-r, --rr",     "-j, --jj",     "-t, --tt",  "-p, --pp",    "--backend",
          "--json",       "--refine-all", "--surface", "--plot",      "--quiet",
          "microseconds", "hertz",        "decibels",  "Exit status", "Example"}) {
      EXPECT_NE(help.out.find(mention), std::string::npos) << mention;
    }
  }
  const ProcessResult version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("kestrav ", 0), 0u);
  EXPECT_NE(version.out.find("backends: reference, host"), std::string::npos);
  EXPECT_NE(version.out.find("GPU: "), std::string::npos);
}

// Options that do not ask for another output leave standard output byte for byte as it was.
TEST_F(LongOptions, OtherOptionsLeaveTheResultTextAlone) {
  ASSERT_EQ(plain_.status, 0) << plain_.err;
  ASSERT_GE(testing::parseResults(plain_.out).size(), 2u);
  for (const std::vector<std::string>& extra : {std::vector<std::string>{"--quiet"},
                                                {"--surface", path("same.csv")},
                                                {"--plot", path("same.svg")},
                                                {"--backend=host"},
                                                {"--backend", "auto"}}) {
    const ProcessResult other = run(search(extra));
    EXPECT_EQ(other.status, 0) << extra[0];
    EXPECT_EQ(other.out, plain_.out) << extra[0];
    EXPECT_EQ(other.err, "") << extra[0];
  }
}

TEST_F(LongOptions, JsonCarriesTheResultsAndTheSearch) {
  const nlohmann::json& document = plainJson_;
  const std::vector<SearchResult> results = testing::parseResults(plain_.out);
  ASSERT_EQ(document["results"].size(), results.size());
  for (std::size_t r = 0; r < results.size(); ++r) {
    const nlohmann::json& result = document["results"][r];
    EXPECT_NEAR(result["delay_us"].get<double>(), results[r].delay * 1e6, 0.0005);
    EXPECT_NEAR(result["delay_s"].get<double>() * 1e6, result["delay_us"].get<double>(), 1e-9);
    EXPECT_NEAR(result["frequency_offset_hz"].get<double>(), results[r].frequencyOffset, 0.0005);
    EXPECT_NEAR(result["level_db"].get<double>(), results[r].level, 0.0005);
    EXPECT_EQ(result["refined"].get<bool>(), r == 0);
    EXPECT_TRUE(result["lag_index"].is_number_integer());
    // Every refined result carries the precise estimate beside the refinement's values.
    for (const char* field :
         {"precise_delay_s", "precise_frequency_offset_hz", "sigma_delay_s",
          "sigma_frequency_offset_hz", "delay_rate", "sigma_delay_rate", "frequency_rate",
          "sigma_frequency_rate", "model_mismatch", "model_mismatch_reasons", "paths"}) {
      EXPECT_EQ(result.contains(field), r == 0) << field;
    }
  }
  const nlohmann::json& best = document["results"][0];
  EXPECT_NEAR(best["precise_delay_s"].get<double>(), 123.4567e-6,
              5 * best["sigma_delay_s"].get<double>());
  EXPECT_NEAR(best["precise_frequency_offset_hz"].get<double>(), -1234.5678,
              5 * best["sigma_frequency_offset_hz"].get<double>());
  // One clean path, no drift: nothing flagged, no echo, a rate within its deviation of none.
  EXPECT_FALSE(best["model_mismatch"].get<bool>());
  EXPECT_TRUE(best["model_mismatch_reasons"].empty());
  EXPECT_TRUE(best["paths"].empty());
  EXPECT_LT(std::fabs(best["delay_rate"].get<double>()),
            5 * best["sigma_delay_rate"].get<double>());
  EXPECT_EQ(document["sample_count"].get<int>(), 261832);
  EXPECT_EQ(document["lag_window"]["lag_count"].get<int>(), 312);
  EXPECT_EQ(document["lag_window"]["first_lag"].get<int>(), -156);
  EXPECT_EQ(document["decimation"].get<int>(), 61);
  EXPECT_EQ(document["fft_length"].get<int>(), 8192);
  EXPECT_EQ(document["backend"].get<std::string>(), "host");
  for (const char* stage :
       {"load", "coarse_search", "peak_picking", "alias_checks", "refinement", "classification"}) {
    EXPECT_TRUE(document["timings_s"][stage].is_number()) << stage;
  }
  // A search that finds nothing is still one document.
  const ProcessResult empty = run(search({"--json"}, "311", "99"));
  EXPECT_TRUE(nlohmann::json::parse(empty.out)["results"].empty());
}

// --precise puts the precise values in place of the refinement's, in the text and in JSON.
TEST_F(LongOptions, PreciseReplacesTheRefinedValues) {
  const nlohmann::json& plain = plainJson_["results"];
  const nlohmann::json precise =
      nlohmann::json::parse(run(search({"--json", "--precise"})).out)["results"];
  ASSERT_EQ(precise.size(), plain.size());
  EXPECT_EQ(precise[0]["delay_s"], plain[0]["precise_delay_s"]);
  EXPECT_EQ(precise[0]["frequency_offset_hz"], plain[0]["precise_frequency_offset_hz"]);
  EXPECT_EQ(precise[0]["precise_delay_s"], plain[0]["precise_delay_s"]);
  for (std::size_t r = 1; r < precise.size(); ++r) EXPECT_EQ(precise[r], plain[r]);

  const std::vector<SearchResult> text = testing::parseResults(run(search({"--precise"})).out);
  ASSERT_EQ(text.size(), plain.size());
  EXPECT_NEAR(text[0].delay, plain[0]["precise_delay_s"].get<double>(), 0.5e-9);
  EXPECT_NEAR(text[0].frequencyOffset, plain[0]["precise_frequency_offset_hz"].get<double>(),
              0.5e-3);
}

// Echoes too close to resolve break the precise estimate's model: where its values are the ones
// printed, standard error says so; the text itself is unchanged in form.
TEST_F(LongOptions, PreciseValuesFromABrokenModelAreWarnedOf) {
  const ProcessResult clean = run(search({"--precise"}));
  EXPECT_EQ(clean.err.find("model_mismatch"), std::string::npos) << clean.err;
  PairConfig config;
  config.sampleCount = 1 << 17;
  config.emitters = {Emitter{40.5e-6, 300.0, 0.0}};
  config.channel.echoes = {Echo{0.6e-6, -3.0}};
  config.seed = 63;
  const SamplePairInt16 pair = quantizePair(generatePair(config));
  testing::writeSamples(scratch_->path("echo-first.iq"), pair.first);
  testing::writeSamples(scratch_->path("echo-second.iq"), pair.second);
  const std::vector<std::string> args{"-m", path("echo-first.iq"),
                                      "-a", path("echo-second.iq"),
                                      "-s", "131072",
                                      "-f", "1000000",
                                      "-c", "40",
                                      "-r", "64",
                                      "-j", "0",
                                      "-t", "15"};
  std::vector<std::string> precise = args;
  precise.push_back("--precise");
  const ProcessResult flagged = run(precise);
  EXPECT_EQ(flagged.status, 0) << flagged.err;
  EXPECT_FALSE(flagged.out.empty());
  EXPECT_NE(flagged.err.find("--json gives model_mismatch"), std::string::npos) << flagged.err;
  // The JSON names why: an echo this close shows in the lobe or in the channel's bend.
  precise.push_back("--json");
  const nlohmann::json best = nlohmann::json::parse(run(precise).out)["results"][0];
  EXPECT_TRUE(best["model_mismatch"].get<bool>());
  ASSERT_FALSE(best["model_mismatch_reasons"].empty());
  for (const nlohmann::json& reason : best["model_mismatch_reasons"]) {
    EXPECT_TRUE(reason == "wide_lobe" || reason == "channel_bend") << reason;
  }
  // Without --precise the grid values are printed, and nothing is said of the precise model.
  EXPECT_EQ(run(args).err.find("model_mismatch"), std::string::npos);
}

TEST_F(LongOptions, RefineAllRefinesEveryResultInTheSameOrder) {
  const nlohmann::json& best = plainJson_["results"];
  const nlohmann::json all =
      nlohmann::json::parse(run(search({"--json", "--refine-all"})).out)["results"];
  ASSERT_EQ(all.size(), best.size());
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[0], best[0]);
  for (std::size_t r = 0; r < all.size(); ++r) {
    EXPECT_TRUE(all[r]["refined"].get<bool>());
    EXPECT_EQ(all[r]["lag_index"], best[r]["lag_index"]);
    EXPECT_EQ(all[r]["level_db"], best[r]["level_db"]);
  }
  // The second emitter, refined on its own.
  const auto weaker = std::find_if(all.begin(), all.end(), [](const nlohmann::json& result) {
    return std::fabs(result["delay_us"].get<double>() + 60.0) < 1.0;
  });
  ASSERT_NE(weaker, all.end());
  EXPECT_NEAR((*weaker)["delay_us"].get<double>(), -60.0, 0.01);
  EXPECT_NEAR((*weaker)["frequency_offset_hz"].get<double>(), 2500.0, 0.05);
}

TEST_F(LongOptions, SurfaceHasOneRowPerLag) {
  const std::string csv = path("surface.csv");
  ASSERT_EQ(run(search({"--surface", csv})).status, 0);
  std::istringstream rows(readFile(csv));
  std::string line;
  std::getline(rows, line);
  EXPECT_EQ(line, "lag_index,delay_us,frequency_offset_hz,level_db");
  int count = 0;
  double strongest = 0.0;
  double strongestDelay = 0.0;
  while (std::getline(rows, line)) {
    int lag = -1;
    double delay = 0, offset = 0, level = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%d,%lf,%lf,%lf", &lag, &delay, &offset, &level), 4);
    EXPECT_EQ(lag, count);
    EXPECT_DOUBLE_EQ(delay, -156.0 + lag);
    if (level > strongest) {
      strongest = level;
      strongestDelay = delay;
    }
    ++count;
  }
  EXPECT_EQ(count, 312);
  EXPECT_EQ(strongestDelay, 123.0);
}

// The plot renders with a real SVG renderer into a picture that is not blank.
TEST_F(LongOptions, PlotRendersToAPicture) {
  const std::string svg = path("plot.svg");
  const std::string png = path("plot.png");
  ASSERT_EQ(run(search({"--plot", svg})).status, 0);
  const std::string content = readFile(svg);
  EXPECT_EQ(content.rfind("<?xml", 0), 0u);
  for (const char* part :
       {"delay of the second recording", "coarse level (dB)", "threshold 15.0 dB", "#1 ", "#2 ",
        "fine delay of #1", "fine frequency of #1"}) {
    EXPECT_NE(content.find(part), std::string::npos) << part;
  }
  const ProcessResult render = testing::runProgram("/usr/bin/rsvg-convert", {"-o", png, svg});
  ASSERT_EQ(render.status, 0) << render.err;
  const ProcessResult ink = testing::runProgram("/usr/bin/python3", {KESTRAV_PNG_INK, png});
  ASSERT_EQ(ink.status, 0) << ink.err;
  int width = 0, height = 0;
  double share = 0.0;
  ASSERT_EQ(std::sscanf(ink.out.c_str(), "%d %d %lf", &width, &height, &share), 3);
  EXPECT_EQ(width, 1000);
  EXPECT_EQ(height, 900);
  EXPECT_GT(share, 0.02);  // lines, labels and axes
  EXPECT_LT(share, 0.5);   // not a filled rectangle
}

TEST_F(LongOptions, AnUnwritableOutputFileFailsWithoutOutput) {
  for (const char* option : {"--surface", "--plot"}) {
    const std::string target = path("missing-directory/out");
    const ProcessResult failed = run(search({option, target}));
    EXPECT_EQ(failed.status, 2) << option;
    EXPECT_EQ(failed.out, "");
    EXPECT_NE(failed.err.find("cannot write"), std::string::npos) << failed.err;
    EXPECT_NE(failed.err.find("No such file or directory"), std::string::npos) << failed.err;
  }
}

// Standard error on a terminal: the progress line comes and goes; --quiet keeps it away.
std::string stderrOnTerminal(const std::vector<std::string>& args) {
  int terminal = -1;
  const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    std::vector<char*> argv{const_cast<char*>(KESTRAV_PROGRAM)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(KESTRAV_PROGRAM, argv.data());
    ::_exit(127);
  }
  std::string seen;
  char buffer[4096];
  for (ssize_t got; (got = ::read(terminal, buffer, sizeof buffer)) > 0;) seen.append(buffer, got);
  ::close(terminal);
  int status = 0;
  ::waitpid(child, &status, 0);
  return seen;
}

TEST_F(LongOptions, ProgressOnATerminalOnly) {
  // The plain reference path takes a few seconds over this window.
  const std::vector<std::string> slow = search({"--backend=reference", "-p", "1"}, "6000");
  const std::string shown = stderrOnTerminal(slow);
  EXPECT_NE(shown.find("coarse search: "), std::string::npos) << shown;
  EXPECT_NE(shown.find(" lags/s, "), std::string::npos);
  // Cleared before the result text is written.
  const std::size_t cleared = shown.rfind("\r\033[K");
  ASSERT_NE(cleared, std::string::npos);
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(shown[cleared + 4])))
      << shown.substr(cleared);
  std::vector<std::string> quiet = slow;
  quiet.push_back("--quiet");
  EXPECT_EQ(stderrOnTerminal(quiet).find("coarse search: "), std::string::npos);
}

}  // namespace
}  // namespace kestrav
