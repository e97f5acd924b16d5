// The run folder's bookkeeping: which files are shard files, and which shards status names
// unfinished.
#include "batch/result_files.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "batch/commands.hpp"
#include "batch/job.hpp"
#include "support/test_files.hpp"

namespace kestrav::batch {
namespace {

TEST(ResultFiles, ShardFileNames) {
  struct Case {
    const char* name;
    bool valid;
    long long index, count;
    const char* attempt;
  };
  const std::vector<Case> cases{
      {"shard-0-of-2.node7-123-1700000000.jsonl", true, 0, 2, "node7-123-1700000000"},
      {"shard-11-of-12.a.b.jsonl", true, 11, 12, "a.b"},
      {"shard-2-of-2.a.jsonl", false, 0, 0, ""},  // I must lie below N
      {"shard-0-of-0.a.jsonl", false, 0, 0, ""},  // no shards
      {"shard-x-of-2.a.jsonl", false, 0, 0, ""},  // not a number
      {"shard-0-of-2.jsonl", false, 0, 0, ""},    // no attempt
      {"shard-0-of-2.a.json", false, 0, 0, ""},   // another kind of file
      {".fftw-wisdom", false, 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<ShardName> parsed = parseShardFileName(c.name);
    ASSERT_EQ(parsed.has_value(), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(parsed->index, c.index);
    EXPECT_EQ(parsed->count, c.count);
    EXPECT_EQ(parsed->attempt, c.attempt);
    EXPECT_EQ(shardFileName(*parsed), c.name);
  }
}

// 10 jobs in 4 shards are the slices [0,2) [2,5) [5,7) [7,10): jobs 4 and 9 without a result
// leave shards 1 and 3 unfinished. A result of another digest (an older search) does not count.
TEST(ResultFiles, StatusNamesTheShardsOfUnfinishedJobs) {
  testing::ScratchDirectory scratch;
  std::string jobsText;
  std::string resultsText;
  for (int j = 0; j < 10; ++j) {
    Job job;
    job.campaign = "c";
    job.first = {"A", "/a.iq", "ci16", -1, j * 100};
    job.second = {"B", "/b.iq", "ci16", -1, j * 100};
    job.window = j;
    job.rateHz = 1e6;
    job.samples = 100;
    job.id = jobId("c", "A", "B", j);
    job.digest = digestOf(job);
    jobsText += toJson(job).dump() + "\n";
    const std::string digest = j == 9 ? "0000000000000000" : job.digest;
    if (j != 4) {
      resultsText += R"({"id":")" + job.id + R"(","digest":")" + digest + R"(","status":")" +
                     (j == 2 ? "failed" : "ok") + "\"}\n";
    }
  }
  testing::writeBytes(scratch.path("jobs.jsonl"), jobsText);
  std::filesystem::create_directory(scratch.path("out"));
  testing::writeBytes(scratch.path("out") / "shard-0-of-4.x.jsonl", resultsText);
  std::ostringstream out, err;
  EXPECT_EQ(runStatusCommand({scratch.path("jobs.jsonl").string(), scratch.path("out").string()},
                             out, err),
            1);
  EXPECT_EQ(out.str(),
            "jobs: 10\nok: 7\nbelow_threshold: 0\ninput_error: 0\nfailed: 1\nnot run: 2\n"
            "shards: 4\nunfinished shards: 1,3\n");
  // Against 3 shards ([0,3) [3,6) [6,10)) the same jobs are in shards 1 and 2.
  std::ostringstream three;
  EXPECT_EQ(runStatusCommand({scratch.path("jobs.jsonl").string(), scratch.path("out").string(),
                              "--shards", "3"},
                             three, err),
            1);
  EXPECT_NE(three.str().find("unfinished shards: 1,2\n"), std::string::npos) << three.str();
}

}  // namespace
}  // namespace kestrav::batch
