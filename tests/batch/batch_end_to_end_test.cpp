// A campaign through the real programs: a generated scene of three receivers whose delays and
// offsets drift, planned, run and merged. Every window's estimate lies on the truth at its middle
// within its deviations, and every closure residual is consistent with zero.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "support/test_files.hpp"

namespace {

using kestrav::testing::ProcessResult;
using kestrav::testing::runProgram;
using kestrav::testing::ScratchDirectory;
using nlohmann::json;

// A receiver's lines in campaign time, as truth.json gives them.
struct Truth {
  double delay, delayRate, offset, offsetRate;
  double delayAt(double t) const { return delay + delayRate * t; }
  double offsetAt(double t) const { return offset + offsetRate * t; }
};

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

double rootMeanSquare(const std::vector<double>& values) {
  double sum = 0.0;
  for (const double value : values) sum += value * value;
  return values.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(values.size()));
}

TEST(BatchEndToEndTest, TracksOfADriftingSceneFollowTheTruthAndClose) {
  ScratchDirectory scratch;
  const std::filesystem::path scene = scratch.path("scene");
  const ProcessResult made =
      runProgram(KESTRAV_SCENE,
                 {"--out", scene.string(), "--receivers", "3", "--seconds", "1.2",
                  "--window-samples", "131072", "--hop", "262144", "--seed", "11", "--precise"});
  ASSERT_EQ(made.status, 0) << made.err;
  const ProcessResult planned = runProgram(KESTRAV_BATCH, {"plan", (scene / "campaign.json")});
  ASSERT_EQ(planned.status, 0) << planned.err;
  {
    std::ofstream jobs(scratch.path("jobs.jsonl"));
    jobs << planned.out;
  }
  const std::string jobs = scratch.path("jobs.jsonl").string();
  const ProcessResult ran = runProgram(
      KESTRAV_BATCH, {"run", jobs, "--shard", "0/1", "--out", scratch.path("run").string()});
  ASSERT_EQ(ran.status, 0) << ran.err;
  const ProcessResult merged = runProgram(
      KESTRAV_BATCH,
      {"merge", jobs, scratch.path("run").string(), "--out", scratch.path("tracks.jsonl").string(),
       "--csv-dir", scratch.path("csv").string(), "--plot", scratch.path("tracks.svg").string()});
  ASSERT_EQ(merged.status, 0) << merged.err;
  EXPECT_TRUE(merged.err.empty()) << merged.err;
  std::printf("%s", merged.out.c_str());

  std::map<std::string, Truth> truth;
  const json truthFile = json::parse(readText(scene / "truth.json"));
  for (const json& receiver : truthFile["receivers"]) {
    truth[receiver["name"].get<std::string>()] =
        Truth{receiver["delay_s"], receiver["delay_rate"], receiver["offset_hz"],
              receiver["offset_rate_hz_per_s"]};
  }
  std::vector<double> errors;
  std::vector<double> closures;
  int tracks = 0;
  std::istringstream lines(readText(scratch.path("tracks.jsonl")));
  for (std::string text; std::getline(lines, text);) {
    const json line = json::parse(text);
    if (line.contains("closure")) {
      for (const char* key : {"delay_residual_sigmas", "offset_residual_sigmas"}) {
        ASSERT_TRUE(line[key].is_number()) << text;
        closures.push_back(line[key]);
        EXPECT_LT(std::fabs(closures.back()), 3.0) << text;
      }
      continue;
    }
    ++tracks;
    const Truth& first = truth.at(line["pair"][0].get<std::string>());
    const Truth& second = truth.at(line["pair"][1].get<std::string>());
    ASSERT_GE(line["points"].size(), 4u) << text;
    for (const json& point : line["points"]) {
      ASSERT_EQ(point["status"], "ok") << point.dump();
      const double t = point["t_mid_s"];
      const double delayError =
          point["delay_s"].get<double>() - (second.delayAt(t) - first.delayAt(t));
      const double offsetError =
          point["frequency_offset_hz"].get<double>() - (second.offsetAt(t) - first.offsetAt(t));
      errors.push_back(delayError / point["sigma_delay_s"].get<double>());
      errors.push_back(offsetError / point["sigma_frequency_offset_hz"].get<double>());
      std::printf("%s-%s at %.3f s: delay %+.2f sigma, offset %+.2f sigma\n",
                  line["pair"][0].get<std::string>().c_str(),
                  line["pair"][1].get<std::string>().c_str(), t, errors[errors.size() - 2],
                  errors.back());
      EXPECT_LT(std::fabs(errors[errors.size() - 2]), 3.0) << point.dump();
      EXPECT_LT(std::fabs(errors.back()), 3.0) << point.dump();
    }
  }
  EXPECT_EQ(tracks, 3);
  // Each error is one draw of the estimate's noise: nearly all within two deviations, and their
  // spread about one.
  int outsideTwo = 0;
  for (const double error : errors) outsideTwo += std::fabs(error) >= 2.0 ? 1 : 0;
  EXPECT_LE(outsideTwo, static_cast<int>(errors.size()) / 10) << outsideTwo;
  EXPECT_LT(rootMeanSquare(errors), 1.5);
  ASSERT_GE(closures.size(), 8u);
  EXPECT_LT(rootMeanSquare(closures), 1.5);
  std::printf("windows: %zu errors, rms %.2f sigma; closures: %zu residuals, rms %.2f sigma\n",
              errors.size(), rootMeanSquare(errors), closures.size(), rootMeanSquare(closures));
  EXPECT_TRUE(std::filesystem::exists(scratch.path("csv") / "A-B.csv"));
  EXPECT_NE(readText(scratch.path("tracks.svg")).find("</svg>"), std::string::npos);
}

}  // namespace
