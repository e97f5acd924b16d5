// kestrav-batch run as shards are run: the program itself, killed after a random job and run
// again, against one uninterrupted run; a torn last line; the delay in absolute time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "campaign_files.hpp"
#include "support/generated_pairs.hpp"

namespace kestrav::testing {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

ProcessResult batch(const std::vector<std::string>& arguments) {
  return runProgram(KESTRAV_BATCH, arguments);
}

// Sets an environment variable for the programs started in the object's life.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() { ::unsetenv(name_); }

 private:
  const char* name_;
};

struct ResultLines {
  std::map<std::string, json> byId;  // without the fields that differ between runs
  std::size_t lines = 0;
  std::size_t unreadable = 0;
};

ResultLines readResults(const fs::path& folder) {
  ResultLines results;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("shard-", 0) != 0) continue;
    std::ifstream file(entry.path());
    for (std::string text; std::getline(file, text);) {
      json line = json::parse(text, nullptr, false);
      if (line.is_discarded()) {
        ++results.unreadable;
        continue;
      }
      ++results.lines;
      for (const char* varying : {"elapsed_s", "attempt", "shard"}) line.erase(varying);
      results.byId[line.at("id").get<std::string>()] = line;
    }
  }
  return results;
}

void writePair(const ScratchDirectory& scratch, const std::string& first, const std::string& second,
               double delay, double offset, std::uint64_t seed) {
  const GeneratedPair pair = generatedPair(oneEmitter(65536, 1e6, delay, offset, 30.0, seed));
  writeSamples(scratch.path(first), pair.first);
  writeSamples(scratch.path(second), pair.second);
}

// Three receivers (A and C the same recording) with windows of 8192 samples: 18 jobs.
fs::path writeThreeReceivers(const ScratchDirectory& scratch) {
  writePair(scratch, "a.iq", "b.iq", 12.5e-6, 150.0, 7);
  fs::copy_file(scratch.path("a.iq"), scratch.path("c.iq"));
  const json campaign{{"campaign", "resume"},
                      {"receivers",
                       {rawReceiver("A", "a.iq", 1e6), rawReceiver("B", "b.iq", 1e6),
                        rawReceiver("C", "c.iq", 1e6)}},
                      {"pairs", "all"},
                      {"windows", {{"samples", 8192}}},
                      {"search", smallSearch()}};
  const fs::path jobs = scratch.path("jobs.jsonl");
  const ProcessResult plan = batch({"plan", writeCampaign(scratch, campaign).string()});
  EXPECT_EQ(plan.status, 0) << plan.err;
  writeBytes(jobs, plan.out);
  return jobs;
}

TEST(BatchRun, ResumeAfterAKillGivesTheUninterruptedResults) {
  ScratchDirectory scratch;
  const fs::path jobs = writeThreeReceivers(scratch);
  const std::string whole = scratch.path("whole").string();
  const ProcessResult serial = batch({"run", jobs.string(), "--shard", "0/1", "--out", whole});
  ASSERT_EQ(serial.status, 0) << serial.err;
  const ResultLines expected = readResults(whole);
  ASSERT_EQ(expected.byId.size(), 18u);
  ASSERT_EQ(expected.lines, 18u);
  for (const auto& [id, line] : expected.byId) {
    ASSERT_EQ(line.at("status"), "ok") << line.dump();
  }

  // Each of 3 shards is killed after a random job of its 6, then run again as a new attempt.
  const std::string sharded = scratch.path("sharded").string();
  std::mt19937 random(20261209);
  for (int shard = 0; shard < 3; ++shard) {
    const std::string slice = std::to_string(shard) + "/3";
    const int killAfter = std::uniform_int_distribution<int>(1, 5)(random);
    SCOPED_TRACE("shard " + slice + " killed after job " + std::to_string(killAfter));
    {
      const ScopedVariable kill("KESTRAV_BATCH_EXIT_AFTER", std::to_string(killAfter));
      const ProcessResult killed = batch({"run", jobs.string(), "--shard", slice, "--out", sharded,
                                          "--attempt", "first", "--threads", "2"});
      EXPECT_EQ(killed.status, 137) << killed.err;
    }
    const ProcessResult status = batch({"status", jobs.string(), sharded, "--shards", "3"});
    EXPECT_EQ(status.status, 1);
    std::string unfinished;  // this shard and the ones not run yet
    for (int later = shard; later < 3; ++later) {
      if (later > shard) unfinished += ',';
      unfinished += std::to_string(later);
    }
    EXPECT_NE(status.out.find("unfinished shards: " + unfinished + "\n"), std::string::npos)
        << status.out;
    const ProcessResult resumed =
        batch({"run", jobs.string(), "--shard", slice, "--out", sharded, "--attempt", "second"});
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_NE(resumed.err.find(std::to_string(killAfter) + " already done"), std::string::npos)
        << resumed.err;
  }
  const ResultLines results = readResults(sharded);
  EXPECT_EQ(results.lines, 18u);  // no job run twice
  EXPECT_EQ(results.unreadable, 0u);
  ASSERT_EQ(results.byId.size(), expected.byId.size());
  for (const auto& [id, line] : expected.byId) {
    ASSERT_TRUE(results.byId.count(id)) << id;
    EXPECT_EQ(results.byId.at(id), line) << id;
  }
  // A finished shard run again runs nothing and leaves no empty file.
  const auto fileCount = [&] {
    return std::distance(fs::directory_iterator(sharded), fs::directory_iterator());
  };
  const auto files = fileCount();
  const ProcessResult again =
      batch({"run", jobs.string(), "--shard", "1/3", "--out", sharded, "--attempt", "third"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.err.find("6 already done, 0 run"), std::string::npos) << again.err;
  EXPECT_EQ(fileCount(), files);

  const ProcessResult status = batch({"status", jobs.string(), sharded});
  EXPECT_EQ(status.status, 0) << status.out;
  EXPECT_NE(status.out.find("ok: 18\n"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("shards: 3\nunfinished shards: none\n"), std::string::npos)
      << status.out;
}

TEST(BatchRun, ATornLastLineIsIgnoredAndTheFileStaysAppendable) {
  ScratchDirectory scratch;
  const fs::path jobs = writeThreeReceivers(scratch);
  const fs::path out = scratch.path("out");
  {
    const ScopedVariable kill("KESTRAV_BATCH_EXIT_AFTER", "4");
    EXPECT_EQ(
        batch({"run", jobs.string(), "--shard", "0/1", "--out", out.string(), "--attempt", "a"})
            .status,
        137);
  }
  // A line cut short as a kill in mid-write leaves it.
  const fs::path file = out / "shard-0-of-1.a.jsonl";
  {
    std::ofstream append(file, std::ios::app | std::ios::binary);
    append << R"({"id":"resume/A-B/w000005","digest":"0123)";
  }
  const ProcessResult resumed =
      batch({"run", jobs.string(), "--shard", "0/1", "--out", out.string(), "--attempt", "a"});
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  std::ifstream read(file);
  std::vector<std::string> lines;
  for (std::string text; std::getline(read, text);) lines.push_back(text);
  ASSERT_EQ(lines.size(), 4u + 1u + 14u);
  EXPECT_EQ(lines[4], R"({"id":"resume/A-B/w000005","digest":"0123)");
  for (std::size_t l = 0; l < lines.size(); ++l) {
    if (l == 4) continue;
    EXPECT_FALSE(json::parse(lines[l], nullptr, false).is_discarded()) << l;
  }
  const ProcessResult status = batch({"status", jobs.string(), out.string()});
  EXPECT_EQ(status.status, 0) << status.out;
  EXPECT_NE(status.err.find("1 result lines are not whole"), std::string::npos) << status.err;
}

// A recording that lost samples after planning ends its jobs as input errors, which a rerun
// leaves as they are.
TEST(BatchRun, ARecordingCutShortAfterPlanningIsAnInputError) {
  ScratchDirectory scratch;
  const fs::path jobs = writeThreeReceivers(scratch);
  fs::resize_file(scratch.path("c.iq"), 4 * 30000);
  const fs::path out = scratch.path("out");
  for (int run = 0; run < 2; ++run) {
    const ProcessResult ran =
        batch({"run", jobs.string(), "--shard", "0/1", "--out", out.string()});
    EXPECT_EQ(ran.status, 0) << ran.err;
  }
  const ResultLines results = readResults(out);
  EXPECT_EQ(results.lines, 18u);
  int inputErrors = 0;
  for (const auto& [id, line] : results.byId) {
    if (line.at("status") != "input_error") continue;
    ++inputErrors;
    EXPECT_TRUE(line.at("best").is_null());
    EXPECT_NE(line.at("reason").get<std::string>().find("cut short after planning"),
              std::string::npos)
        << line.dump();
  }
  EXPECT_EQ(inputErrors, 2 * 4);  // windows 4..7 of A-C and B-C lie past sample 30000
}

// B's recorder started 2.3 us (2.3 samples) after A's, and the signal reaches B 20.37 us later
// in its own samples: 22.67 us later in absolute time. The whole 2 samples go into B's window
// offset and the 0.3 left over into the residual; the wrong sign would be 0.6 us off.
TEST(BatchRun, DelaysAreInAbsoluteTime) {
  ScratchDirectory scratch;
  writePair(scratch, "a.iq", "b.iq", 20.37e-6, -80.0, 3);
  const json campaign{
      {"campaign", "aligned"},
      {"receivers",
       {rawReceiver("A", "a.iq", 1e6, "2026-03-01T10:00:00Z"),
        rawReceiver("B", "b.iq", 1e6, "2026-03-01T10:00:00.0000023Z")}},
      {"pairs", "all"},
      {"windows", {{"samples", 16384}, {"start_s", 0.001}}},
      {"search", {{"centre_us", 0}, {"range_us", 100}, {"threshold_db", 15}, {"precise", true}}}};
  const ProcessResult plan = batch({"plan", writeCampaign(scratch, campaign).string()});
  ASSERT_EQ(plan.status, 0) << plan.err;
  writeBytes(scratch.path("jobs.jsonl"), plan.out);
  const ProcessResult ran =
      batch({"run", scratch.path("jobs.jsonl").string(), "--out", scratch.path("out").string()});
  ASSERT_EQ(ran.status, 0) << ran.err;
  const ResultLines results = readResults(scratch.path("out"));
  ASSERT_GE(results.byId.size(), 3u);
  for (const auto& [id, line] : results.byId) {
    SCOPED_TRACE(id);
    ASSERT_EQ(line.at("status"), "ok") << line.dump();
    const json& best = line.at("best");
    EXPECT_NEAR(best.at("delay_s").get<double>(), 22.67e-6, 20e-9);
    EXPECT_NEAR(best.at("precise_delay_s").get<double>(), 22.67e-6, 20e-9);
    EXPECT_DOUBLE_EQ(best.at("delay_us").get<double>(), best.at("delay_s").get<double>() * 1e6);
    EXPECT_NEAR(best.at("frequency_offset_hz").get<double>(), -80.0, 0.5);
  }
}

TEST(BatchRun, UsageErrorsGetOneLineAndStatus2) {
  ScratchDirectory scratch;
  writeBytes(scratch.path("jobs.jsonl"), "");
  const std::vector<std::vector<std::string>> cases{
      {},
      {"frobnicate"},
      {"run", scratch.path("jobs.jsonl").string(), "--out", scratch.path("o").string(), "--fast"},
      {"run", scratch.path("jobs.jsonl").string(), "--shard", "3/3", "--out",
       scratch.path("o").string()},
      {"run", scratch.path("jobs.jsonl").string()},
      {"status", scratch.path("jobs.jsonl").string()},
      {"plan", "a.json", "b.json"},
  };
  for (const auto& arguments : cases) {
    const ProcessResult result = batch(arguments);
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(result.out, "");
  }
  const ProcessResult help = batch({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("run jobs.jsonl --shard I/N --out DIR"), std::string::npos);
  for (const char* command : {"plan", "run", "status"}) {
    const ProcessResult usage = batch({command, "--help"});
    EXPECT_EQ(usage.status, 0);
    EXPECT_EQ(usage.out.rfind(std::string("usage: kestrav-batch ") + command, 0), 0u) << usage.out;
  }
}

}  // namespace
}  // namespace kestrav::testing
