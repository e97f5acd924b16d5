// The scene generator against its own truth: pair windows of the written recordings, aligned on
// the receivers' start times and searched, find the truth at the window's middle within two
// deviations; the files, the campaign and the command line are as promised.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "engine/search.hpp"
#include "support/test_files.hpp"
#include "tools/scene_files.hpp"

namespace kestrav {
namespace {

using testing::ScratchDirectory;

nlohmann::json readJson(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return nlohmann::json::parse(text.str());
}

// `count` samples of a ci16 recording from sample `first` on.
std::unique_ptr<SampleSource> region(const std::filesystem::path& path, long long first,
                                     long long count) {
  DataLayout layout;
  layout.pieces.push_back(DataPiece{0, count, first * 4});
  return openLaidOutFile(path.string(), path.string(), SampleFormat::Ci16, layout, "first");
}

struct WindowError {
  double delaySigmas = 0.0;
  double offsetSigmas = 0.0;
  double truthDelay = 0.0;
};

// Searches the window of (first, second) whose first segment starts at campaign time about
// `startTime`, aligning the second recording on the start times as a planner would: the nearest
// whole sample, and the sub-sample remainder added to the measured delay.
WindowError searchWindow(const ScratchDirectory& scratch, const SceneConfig& config,
                         const SceneReceiver& first, const SceneReceiver& second, double startTime,
                         double rangeUs) {
  const int n = 131072;
  const double fs = config.sampleRate;
  const LagWindow lags = deriveLagWindow(fs, 0.0, rangeUs * 1e-6);
  const int half = lags.lagCount / 2;
  const auto firstOffset = static_cast<long long>(std::ceil((startTime - first.start()) * fs));
  const double firstTime = first.start() + static_cast<double>(firstOffset) / fs;
  const long long secondOffset = std::llround((firstTime - second.start()) * fs);
  const double residual = second.start() + static_cast<double>(secondOffset) / fs - firstTime;
  // With the window centred on 0 the search starts its first segment half the lags in, and its
  // second segment at lag index 0, a delay of -half samples.
  SearchParameters parameters{n, fs, 0.0, rangeUs * 1e-6, 16384.0, 0.0, 0.0, 15.0, true};
  SearchOptions options;
  options.backend = BackendKind::Host;
  options.driver.precise = true;
  options.reportPrecise = true;
  const SearchOutcome outcome = searchSources(
      region(scratch.path("rx" + first.name + ".iq"), firstOffset - half, n + half),
      region(scratch.path("rx" + second.name + ".iq"), secondOffset - half, n + lags.lagCount),
      parameters, options);
  EXPECT_FALSE(outcome.candidates.empty());
  if (outcome.candidates.empty() || !outcome.candidates[0].precise) return {INFINITY, INFINITY};
  const PreciseEstimate& precise = *outcome.candidates[0].precise;
  const double middle = firstTime + 0.5 * (n - 1) / fs;
  const double truthDelay = pairDelay(first, second, middle);
  const double truthOffset = pairOffset(first, second, middle);
  return {(outcome.results[0].delay + residual - truthDelay) / precise.sigmaDelay,
          (outcome.results[0].frequencyOffset - truthOffset) / precise.sigmaFrequency, truthDelay};
}

TEST(SceneTest, PairWindowsFindTheTruthAtTheirMiddle) {
  ScratchDirectory scratch;
  SceneConfig config;
  config.seconds = 1.2;
  config.seed = 5;
  SceneFiles files;
  files.directory = scratch.path("");
  const std::vector<SceneReceiver> receivers = writeScene(config, files);
  ASSERT_EQ(receivers.size(), 3u);
  const double rangeUs = sceneDelayRangeUs(config, receivers);
  // Each error is one draw of the estimate's noise: every one inside three deviations, nearly all
  // inside two, and their spread about one deviation.
  std::vector<double> sigmas;
  for (const auto& [i, j] : {std::pair{0, 1}, std::pair{1, 2}, std::pair{0, 2}}) {
    for (const double start : {0.01, 0.5, 1.0}) {
      const WindowError error =
          searchWindow(scratch, config, receivers[i], receivers[j], start, rangeUs);
      std::printf(
          "%s-%s at %.2f s: truth %.4f us, error %+.2f sigma (delay) %+.2f sigma (offset)\n",
          receivers[i].name.c_str(), receivers[j].name.c_str(), start, error.truthDelay * 1e6,
          error.delaySigmas, error.offsetSigmas);
      // Enough delay that a sign or a start-time fault would stand out by thousands of deviations.
      EXPECT_GT(std::fabs(error.truthDelay), 1e-6);
      sigmas.push_back(error.delaySigmas);
      sigmas.push_back(error.offsetSigmas);
    }
  }
  double sumSquares = 0.0;
  int outsideTwo = 0;
  for (const double sigma : sigmas) {
    EXPECT_LT(std::fabs(sigma), 3.0);
    outsideTwo += std::fabs(sigma) >= 2.0 ? 1 : 0;
    sumSquares += sigma * sigma;
  }
  EXPECT_LE(outsideTwo, 2);
  EXPECT_LT(std::sqrt(sumSquares / static_cast<double>(sigmas.size())), 1.5);
}

TEST(SceneTest, ReceiversDrawnFromTheSeedStartApartOnTheEarliest) {
  SceneConfig config;
  config.receivers = 5;
  const std::vector<SceneReceiver> receivers = drawReceivers(config);
  ASSERT_EQ(receivers.size(), 5u);
  EXPECT_EQ(receivers[4].name, "E");
  long long earliest = receivers[0].startPicoseconds;
  bool fractional = false;
  for (const SceneReceiver& receiver : receivers) {
    earliest = std::min(earliest, receiver.startPicoseconds);
    fractional = fractional || receiver.startPicoseconds % 1000000 != 0;
    EXPECT_LT(receiver.start(), 300.0 / config.sampleRate);
  }
  EXPECT_EQ(earliest, 0);
  EXPECT_TRUE(fractional);
  EXPECT_EQ(drawReceivers(config)[2].delay, receivers[2].delay);
  config.seed = 2;
  EXPECT_NE(drawReceivers(config)[2].delay, receivers[2].delay);
  EXPECT_EQ(sceneTime(1234567890123LL), "2026-01-01T00:00:01.234567890123Z");
  EXPECT_EQ(sceneTime(3723000000000000LL + 5), "2026-01-01T01:02:03.000000000005Z");
}

TEST(SceneTest, CommandWritesTheCampaignAndRefusesBadInput) {
  ScratchDirectory scratch;
  const std::string out = scratch.path("scene").string();
  const testing::ProcessResult made = testing::runProgram(
      KESTRAV_SCENE, {"--out", out, "--receivers", "4", "--seconds", "0.5", "--format", "cf32",
                      "--window-samples", "65536", "--hop", "32768", "--seed", "3"});
  ASSERT_EQ(made.status, 0) << made.err;
  for (const char* name : {"rxA.iq", "rxB.iq", "rxC.iq", "rxD.iq"}) {
    EXPECT_EQ(std::filesystem::file_size(scratch.path("scene") / name), 500000u * 8) << name;
  }
  const nlohmann::json campaign = readJson(scratch.path("scene") / "campaign.json");
  const nlohmann::json truth = readJson(scratch.path("scene") / "truth.json");
  EXPECT_EQ(campaign["pairs"], "all");
  EXPECT_EQ(campaign["windows"]["samples"], 65536);
  EXPECT_EQ(campaign["windows"]["hop"], 32768);
  EXPECT_EQ(campaign["search"]["precise"], false);
  ASSERT_EQ(campaign["receivers"].size(), 4u);
  ASSERT_EQ(truth["receivers"].size(), 4u);
  // Every pair's delay over the scene lies inside the search's window.
  const double halfRange = campaign["search"]["range_us"].get<double>() * 0.5e-6;
  for (std::size_t i = 0; i < 4; ++i) {
    const nlohmann::json& recording = campaign["receivers"][i]["recording"];
    EXPECT_EQ(recording["format"], "cf32");
    EXPECT_EQ(recording["start"], truth["receivers"][i]["start"]);
    for (std::size_t j = 0; j < 4; ++j) {
      for (const double t : {0.0, 0.5}) {
        const auto delayAt = [&](std::size_t k) {
          return truth["receivers"][k]["delay_s"].get<double>() +
                 truth["receivers"][k]["delay_rate"].get<double>() * t;
        };
        EXPECT_LT(std::fabs(delayAt(j) - delayAt(i)), halfRange);
      }
    }
  }
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--receivers", "3"},
        {"--out", out, "--receivers", "1"},
        {"--out", out, "--format", "ci12"},
        {"--out", out, "--seconds", "-1"},
        {"--out", out, "--seconds", "0.01", "--window-samples", "65536"},
        {"--out", out, "--rate", "nan"},
        {"--out", scratch.path("scene/rxA.iq/below").string()}}) {
    const testing::ProcessResult refused = testing::runProgram(KESTRAV_SCENE, bad);
    EXPECT_EQ(refused.status, 2) << bad.back();
    EXPECT_TRUE(refused.out.empty());
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
  }
}

}  // namespace
}  // namespace kestrav
