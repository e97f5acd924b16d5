// Merging a campaign's results: one result per job across attempts, torn and foreign lines left
// out with a count, tracks in time order, closures of every triple with their sign, and the CSV
// and plot files; bad command lines and inputs get one line and a failing status.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <sstream>

#include "batch/merge_command.hpp"
#include "support/test_files.hpp"

namespace kestrav::batch {
namespace {

using nlohmann::json;
using testing::ScratchDirectory;

std::string jobId(const std::string& a, const std::string& b, int window) {
  std::string id = "c/";
  id += a;
  id += '-';
  id += b;
  id += "/w";
  id += std::to_string(window);
  return id;
}

json jobLine(const std::string& a, const std::string& b, int window, double tMid) {
  return {{"id", jobId(a, b, window)}, {"digest", std::to_string(window * 7919)},
          {"campaign", "c"},           {"pair", {a, b}},
          {"window", window},          {"t_mid_s", tMid}};
}

// A result as a run writes it; `delay` < 0 leaves the best result out.
json resultLine(const json& job, const std::string& status, double delay, double offset,
                double sigmaDelay = 1e-9, double sigmaOffset = 1e-3) {
  json line{{"id", job["id"]},
            {"digest", job["digest"]},
            {"pair", job["pair"]},
            {"window", job["window"]},
            {"t_mid_s", job["t_mid_s"]},
            {"status", status},
            {"candidates", json::array()}};
  if (status != "ok") line["reason"] = "because";
  line["best"] = json{{"delay_s", delay + 3e-7},  // the grid's value, farther off
                      {"frequency_offset_hz", offset + 0.01},
                      {"precise_delay_s", delay},
                      {"precise_frequency_offset_hz", offset},
                      {"sigma_delay_s", sigmaDelay},
                      {"sigma_frequency_offset_hz", sigmaOffset},
                      {"level_db", 30.5},
                      {"class", "emitter"},
                      {"ambiguous", false},
                      {"at_delay_edge", status != "ok"}};
  return line;
}

void writeLines(const std::filesystem::path& path, const std::vector<json>& lines,
                const std::string& tail = "") {
  std::ofstream out(path, std::ios::binary);
  for (const json& line : lines) out << line.dump() << "\n";
  out << tail;
}

struct Merged {
  int status = -1;
  std::string out, err;
  std::vector<json> lines;  // the tracks file
};

Merged runMerge(const ScratchDirectory& scratch, std::vector<std::string> extra = {}) {
  std::vector<std::string> args{scratch.path("jobs.jsonl").string(), scratch.path("run").string(),
                                "--out", scratch.path("tracks.jsonl").string()};
  args.insert(args.end(), extra.begin(), extra.end());
  std::ostringstream out, err;
  Merged merged;
  merged.status = runMergeCommand(args, out, err);
  merged.out = out.str();
  merged.err = err.str();
  std::ifstream in(scratch.path("tracks.jsonl"));
  for (std::string line; std::getline(in, line);) merged.lines.push_back(json::parse(line));
  return merged;
}

const json& pointOf(const Merged& merged, std::size_t track, std::size_t point) {
  return merged.lines.at(track)["points"].at(point);
}

TEST(MergeTest, OneResultPerJobOkFirstThenTheLatestAttempt) {
  ScratchDirectory scratch;
  std::filesystem::create_directory(scratch.path("run"));
  const std::vector<json> jobs{jobLine("A", "B", 0, 0.1), jobLine("A", "B", 1, 0.3),
                               jobLine("A", "B", 2, 0.5), jobLine("A", "B", 3, 0.7)};
  writeLines(scratch.path("jobs.jsonl"), jobs);
  // The older attempt's name sorts after the newer's: the time in the name decides.
  writeLines(scratch.path("run/shard-0-of-1.zz-1-1700000000.jsonl"),
             {resultLine(jobs[0], "ok", 1e-6, 5.0), resultLine(jobs[1], "failed", 0, 0),
              resultLine(jobs[2], "below_threshold", 0, 0)});
  writeLines(scratch.path("run/shard-0-of-1.aa-1-1700000500.jsonl"),
             {resultLine(jobs[0], "failed", 0, 0), resultLine(jobs[1], "input_error", 0, 0),
              resultLine(jobs[2], "ok", 2e-6, 6.0), resultLine(jobs[2], "ok", 3e-6, 7.0)});
  const Merged merged = runMerge(scratch);
  ASSERT_EQ(merged.status, 0) << merged.err;
  ASSERT_EQ(merged.lines.size(), 1u);
  EXPECT_EQ(merged.lines[0]["pair"], json({"A", "B"}));
  ASSERT_EQ(merged.lines[0]["points"].size(), 3u);
  EXPECT_EQ(pointOf(merged, 0, 0)["status"], "ok");  // an ok beats a later failure
  EXPECT_DOUBLE_EQ(pointOf(merged, 0, 0)["delay_s"].get<double>(), 1e-6);
  EXPECT_EQ(pointOf(merged, 0, 1)["status"], "input_error");  // the latest of the failures
  EXPECT_EQ(pointOf(merged, 0, 2)["status"], "ok");           // the latest of the oks
  EXPECT_DOUBLE_EQ(pointOf(merged, 0, 2)["delay_s"].get<double>(), 3e-6);
  // The precise estimate, whose deviations these are, and not the grid's values.
  EXPECT_DOUBLE_EQ(pointOf(merged, 0, 2)["frequency_offset_hz"].get<double>(), 7.0);
  EXPECT_EQ(pointOf(merged, 0, 2)["precise"], true);
  EXPECT_NE(merged.err.find("1 planned job(s) without a result"), std::string::npos) << merged.err;
  EXPECT_NE(merged.out.find("7 line(s) from 2 shard file(s), 4 repeated"), std::string::npos)
      << merged.out;
}

TEST(MergeTest, TornForeignAndStaleLinesAreCountedAndLeftOut) {
  ScratchDirectory scratch;
  std::filesystem::create_directory(scratch.path("run"));
  const std::vector<json> jobs{jobLine("A", "B", 0, 0.1), jobLine("A", "B", 1, 0.3)};
  writeLines(scratch.path("jobs.jsonl"), {jobs[0], jobs[1], jobs[1]},
             "{\"id\": \"c/A-B/w2\", \"dig");
  json stale = resultLine(jobs[1], "ok", 9e-6, 9.0);
  stale["digest"] = "older";
  json stranger = resultLine(jobLine("A", "Q", 0, 0.1), "ok", 1e-6, 1.0);
  json unended = resultLine(jobs[1], "ok", 4e-6, 4.0);
  unended["status"] = "running";
  writeLines(scratch.path("run/shard-1-of-2.h-1-100.jsonl"),
             {resultLine(jobs[0], "ok", 1e-6, 1.0), stale, stranger, json::array({1, 2}), unended},
             "\n   \n" + resultLine(jobs[1], "ok", 2e-6, 2.0).dump().substr(0, 40));
  // Not shard files: never read.
  writeLines(scratch.path("run/notes.jsonl"), {resultLine(jobs[1], "ok", 5e-6, 5.0)});
  writeLines(scratch.path("run/shard-2-of-2.h-1-100.jsonl"),
             {resultLine(jobs[1], "ok", 5e-6, 5.0)});
  const Merged merged = runMerge(scratch);
  ASSERT_EQ(merged.status, 0) << merged.err;
  ASSERT_EQ(merged.lines.size(), 1u);
  ASSERT_EQ(merged.lines[0]["points"].size(), 1u);
  EXPECT_DOUBLE_EQ(pointOf(merged, 0, 0)["delay_s"].get<double>(), 1e-6);
  for (const char* warning :
       {"1 unreadable line(s) of the jobs file", "1 line(s) of the jobs file repeating",
        "3 unreadable result line(s)", "1 result line(s) of jobs not in the plan",
        "1 result line(s) of a planned id with another", "1 planned job(s) without a result"}) {
    EXPECT_NE(merged.err.find(warning), std::string::npos) << warning << "\n" << merged.err;
  }
}

TEST(MergeTest, TracksRunInTimeOrderAndKeepFailuresWithoutValues) {
  ScratchDirectory scratch;
  std::filesystem::create_directory(scratch.path("run"));
  const std::vector<json> jobs{jobLine("B", "C", 2, 0.9), jobLine("B", "C", 0, 0.1),
                               jobLine("B", "C", 1, 0.5), jobLine("A", "B", 0, 0.1)};
  writeLines(scratch.path("jobs.jsonl"), jobs);
  writeLines(
      scratch.path("run/shard-0-of-1.a.jsonl"),
      {resultLine(jobs[0], "ok", 3e-6, 3.0), resultLine(jobs[1], "ok", 1e-6, 1.0),
       resultLine(jobs[2], "below_threshold", 2e-6, 2.0), resultLine(jobs[3], "failed", 0, 0)});
  const Merged merged = runMerge(scratch);
  ASSERT_EQ(merged.status, 0) << merged.err;
  ASSERT_EQ(merged.lines.size(), 2u);  // pairs in the plan's order, no closure
  EXPECT_EQ(merged.lines[0]["pair"], json({"B", "C"}));
  std::vector<double> times;
  for (const json& point : merged.lines[0]["points"]) times.push_back(point["t_mid_s"]);
  EXPECT_EQ(times, (std::vector<double>{0.1, 0.5, 0.9}));
  EXPECT_EQ(pointOf(merged, 0, 1)["status"], "below_threshold");
  // The pair with no ok point is still listed.
  EXPECT_EQ(pointOf(merged, 1, 0)["status"], "failed");
  EXPECT_NE(merged.out.find("A-B: 1 point(s), 0 ok"), std::string::npos) << merged.out;
}

TEST(MergeTest, ClosuresAddAroundTheTriangleWhicheverWayPairsRun) {
  ScratchDirectory scratch;
  std::filesystem::create_directory(scratch.path("run"));
  // A-B, B-C and C-A (planned reversed): X(A,C) = -X(C,A).
  const std::vector<json> jobs{jobLine("A", "B", 0, 0.1), jobLine("B", "C", 0, 0.1),
                               jobLine("C", "A", 0, 0.1), jobLine("A", "B", 1, 0.3),
                               jobLine("B", "C", 1, 0.3), jobLine("C", "A", 1, 0.3)};
  writeLines(scratch.path("jobs.jsonl"), jobs);
  writeLines(scratch.path("run/shard-0-of-1.a.jsonl"),
             {resultLine(jobs[0], "ok", 10e-6, 4.0, 3e-9, 3e-3),
              resultLine(jobs[1], "ok", 5e-6, -1.0, 4e-9, 4e-3),
              resultLine(jobs[2], "ok", -15.000012e-6, -3.0, 12e-9, 12e-3),
              resultLine(jobs[3], "ok", 10e-6, 4.0), resultLine(jobs[4], "ok", 5e-6, -1.0),
              resultLine(jobs[5], "ok", -15e-6, -3.0, 0.0, 0.0)});
  const Merged merged = runMerge(scratch);
  ASSERT_EQ(merged.status, 0) << merged.err;
  ASSERT_EQ(merged.lines.size(), 5u);
  const json& closure = merged.lines[3];
  EXPECT_EQ(closure["closure"], json({"A", "B", "C"}));
  EXPECT_EQ(closure["window"], 0);
  // 10 + 5 - 15.000012 us; 4 - 1 - 3 Hz; over sqrt(3^2 + 4^2 + 12^2) = 13.
  EXPECT_NEAR(closure["delay_residual_s"].get<double>(), -12e-12, 1e-15);
  EXPECT_NEAR(closure["delay_residual_sigmas"].get<double>(), -12e-12 / 13e-9, 1e-6);
  EXPECT_NEAR(closure["offset_residual_hz"].get<double>(), 0.0, 1e-12);
  // A deviation of zero is no deviation: the residual stands, its ratio is null (never NaN).
  const json& unknown = merged.lines[4];
  EXPECT_EQ(unknown["window"], 1);
  EXPECT_NEAR(unknown["delay_residual_s"].get<double>(), 0.0, 1e-15);
  EXPECT_TRUE(unknown["delay_residual_sigmas"].is_null());
  EXPECT_TRUE(unknown["offset_residual_sigmas"].is_null());
}

TEST(MergeTest, CsvAndPlotFilesHoldEveryPair) {
  ScratchDirectory scratch;
  std::filesystem::create_directory(scratch.path("run"));
  const std::vector<json> jobs{jobLine("A", "B", 0, 0.1), jobLine("A", "B", 1, 0.3),
                               jobLine("../x", "B", 0, 0.1)};
  writeLines(scratch.path("jobs.jsonl"), jobs);
  json noSigma = resultLine(jobs[1], "ok", 2e-6, 2.0);
  noSigma["best"]["sigma_delay_s"] = nullptr;
  writeLines(scratch.path("run/shard-0-of-1.a.jsonl"),
             {resultLine(jobs[0], "ok", 1e-6, 1.0), noSigma, resultLine(jobs[2], "ok", 1e-6, 1.0)});
  const Merged merged = runMerge(scratch, {"--csv-dir", scratch.path("csv").string(),
                                           "--plot=" + scratch.path("tracks.svg").string()});
  ASSERT_EQ(merged.status, 0) << merged.err;
  EXPECT_TRUE(pointOf(merged, 0, 1)["sigma_delay_s"].is_null());
  std::ifstream csv(scratch.path("csv") / "A-B.csv");
  std::vector<std::string> rows;
  for (std::string row; std::getline(csv, row);) rows.push_back(row);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].rfind("t_mid_s,window,status,delay_s,sigma_delay_s,", 0), 0u);
  EXPECT_EQ(
      rows[1].rfind("0.10000000000000001,0,ok,9.9999999999999995e-07,1.0000000000000001e-09,", 0),
      0u)
      << rows[1];
  EXPECT_NE(rows[2].find(",ok,1.9999999999999999e-06,,2,"), std::string::npos) << rows[2];
  // A receiver's name never leads the file out of the folder.
  EXPECT_TRUE(std::filesystem::exists(scratch.path("csv") / ".._x-B.csv"));
  std::ifstream plot(scratch.path("tracks.svg"));
  std::stringstream svg;
  svg << plot.rdbuf();
  EXPECT_EQ(svg.str().rfind("<?xml", 0), 0u);
  EXPECT_NE(svg.str().find("A \u2192 B: 2 ok of 2"), std::string::npos);
  EXPECT_NE(svg.str().find("../x \u2192 B"), std::string::npos);
  EXPECT_NE(svg.str().find("</svg>"), std::string::npos);
}

TEST(MergeTest, BadCommandsAndInputsGetOneLineAndAFailingStatus) {
  ScratchDirectory scratch;
  std::filesystem::create_directory(scratch.path("run"));
  writeLines(scratch.path("jobs.jsonl"), {jobLine("A", "B", 0, 0.1)});
  const std::string jobs = scratch.path("jobs.jsonl").string();
  const std::string run = scratch.path("run").string();
  const std::string tracks = scratch.path("tracks.jsonl").string();
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  writeLines(scratch.path("garbage.jsonl"), {json::array({1})}, "not json\n");
  for (const Case& c :
       std::vector<Case>{{{jobs, run}, 2},
                         {{jobs, "--out", tracks}, 2},
                         {{jobs, run, "--out", tracks, "--colour", "red"}, 2},
                         {{jobs, run, "--out", tracks, "--out", tracks}, 2},
                         {{jobs, run, "--out"}, 2},
                         {{scratch.path("none.jsonl").string(), run, "--out", tracks}, 2},
                         {{run, run, "--out", tracks}, 2},
                         {{scratch.path("garbage.jsonl").string(), run, "--out", tracks}, 2},
                         {{jobs, scratch.path("none").string(), "--out", tracks}, 2},
                         {{jobs, run, "--out", scratch.path("none/tracks.jsonl").string()}, 1},
                         {{jobs, run, "--out", tracks, "--csv-dir", jobs}, 1}}) {
    std::ostringstream out, err;
    EXPECT_EQ(runMergeCommand(c.args, out, err), c.status) << c.args.back() << err.str();
    // Refused inputs say one thing; a failed write comes after the merge's own warnings, last.
    const std::string said = err.str();
    if (c.status == 2) {
      EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
    const std::size_t last = said.rfind('\n', said.size() - 2);
    EXPECT_EQ(said.compare(last == std::string::npos ? 0 : last + 1, 21, "kestrav-batch merge: "),
              0)
        << said;
    EXPECT_TRUE(out.str().empty() || c.status == 0) << out.str();
  }
  EXPECT_FALSE(std::filesystem::exists(scratch.path("none/tracks.jsonl")));
  // An empty results folder is no error: every job is missing, and says so.
  const Merged empty = runMerge(scratch);
  EXPECT_EQ(empty.status, 0);
  ASSERT_EQ(empty.lines.size(), 1u);
  EXPECT_TRUE(empty.lines[0]["points"].empty());
  EXPECT_NE(empty.err.find("no shard files"), std::string::npos) << empty.err;
  std::ostringstream out, err;
  EXPECT_EQ(runMergeCommand({"--help"}, out, err), 0);
  EXPECT_NE(out.str().find("usage: kestrav-batch merge"), std::string::npos);
}

}  // namespace
}  // namespace kestrav::batch
