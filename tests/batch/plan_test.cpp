// The jobs of a campaign: how many, in what order, aligned how, named and digested stably, and
// the one-line refusals of a bad campaign.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "batch/campaign.hpp"
#include "batch/commands.hpp"
#include "batch/job_plan.hpp"
#include "batch/json_fields.hpp"
#include "campaign_files.hpp"

namespace kestrav::batch {
namespace {

using nlohmann::json;
using testing::rawReceiver;
using testing::ScratchDirectory;
using testing::smallSearch;
using testing::writeBytes;
using testing::writeCampaign;

// Zero-valued int16 recordings: planning reads only their sizes.
void writeRecording(const ScratchDirectory& scratch, const std::string& name, long long samples) {
  writeBytes(scratch.path(name), std::string(static_cast<std::size_t>(samples) * 4, '\0'));
}

Plan planOf(const ScratchDirectory& scratch, const json& campaign) {
  return planJobs(readCampaign(writeCampaign(scratch, campaign).string()));
}

std::vector<std::string> pairsOf(const Plan& plan) {
  std::vector<std::string> pairs;
  for (const Job& job : plan.jobs) {
    const std::string pair = job.first.name + "-" + job.second.name;
    if (pairs.empty() || pairs.back() != pair) pairs.push_back(pair);
  }
  return pairs;
}

json threeReceivers() {
  return {rawReceiver("A", "a.iq", 1e6), rawReceiver("B", "b.iq", 1e6),
          rawReceiver("C", "c.iq", 1e6)};
}

class PlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.iq", "b.iq", "c.iq"}) writeRecording(scratch, name, 65536);
  }
  json campaign(const json& pairs, const json& windows) const {
    return {{"campaign", "t"},
            {"receivers", threeReceivers()},
            {"pairs", pairs},
            {"windows", windows},
            {"search", smallSearch()}};
  }
  ScratchDirectory scratch;
};

// A 100 us window at 1 MHz needs 50 samples of the second recording each side of its window, so
// the first and last windows of a recording cut into whole windows have no room for their lags.
TEST_F(PlanTest, PairsAndWindowsExpandInOrder) {
  struct Case {
    const char* what;
    json pairs;
    json windows;
    std::vector<std::string> pairOrder;
    std::size_t jobsPerPair;
    std::vector<long long> windowIndices;  // of the first pair
  };
  const std::vector<Case> cases{
      {"all pairs", "all", {{"samples", 8192}}, {"A-B", "A-C", "B-C"}, 6, {1, 2, 3, 4, 5, 6}},
      {"a reference", {{"reference", "B"}}, {{"samples", 8192}}, {"B-A", "B-C"}, 6, {}},
      {"a list",
       json::array({json::array({"C", "A"}), json::array({"A", "B"})}),
       {{"samples", 8192}},
       {"C-A", "A-B"},
       6,
       {}},
      // Windows 0..13 start every 4096 samples; 0 has no room before, 14 runs past the end.
      {"hop shorter than the window",
       "all",
       {{"samples", 8192}, {"hop", 4096}},
       {"A-B", "A-C", "B-C"},
       13,
       {}},
      // 65536 - 1000 is not a whole number of 10000-sample windows: the partial one is dropped.
      {"a trailing partial window",
       json::array({json::array({"A", "B"})}),
       {{"samples", 10000}, {"start_s", 0.001}},
       {"A-B"},
       6,
       {0, 1, 2, 3, 4, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Plan plan = planOf(scratch, campaign(c.pairs, c.windows));
    EXPECT_EQ(pairsOf(plan), c.pairOrder);
    EXPECT_EQ(plan.jobs.size(), c.pairOrder.size() * c.jobsPerPair);
    if (!c.windowIndices.empty()) {
      std::vector<long long> indices;
      for (std::size_t j = 0; j < c.jobsPerPair; ++j) indices.push_back(plan.jobs[j].window);
      EXPECT_EQ(indices, c.windowIndices);
    }
    // Windows in time order within a pair, each the planned length from its offset.
    for (std::size_t j = 1; j < plan.jobs.size(); ++j) {
      const Job& previous = plan.jobs[j - 1];
      const Job& job = plan.jobs[j];
      if (previous.first.name == job.first.name && previous.second.name == job.second.name) {
        EXPECT_LT(previous.window, job.window);
        EXPECT_LT(previous.tMidS, job.tMidS);
      }
    }
  }
}

TEST_F(PlanTest, DroppedWindowsAndRefusedPairsAreSaid) {
  const Plan partial = planOf(scratch, campaign(json::array({json::array({"A", "B"})}),
                                                {{"samples", 10000}, {"start_s", 0.001}}));
  ASSERT_GE(partial.notes.size(), 2u);
  EXPECT_NE(partial.notes[0].find("window 6 dropped: the trailing partial window runs past the "
                                  "end of A"),
            std::string::npos)
      << partial.notes[0];
  EXPECT_NE(partial.notes.back().find("6 jobs from 1 pairs, 1 windows dropped"), std::string::npos)
      << partial.notes.back();

  // Windows beyond stop_s are dropped too; a window ending exactly at it is kept.
  const Plan stopped = planOf(scratch, campaign(json::array({json::array({"A", "B"})}),
                                                {{"samples", 8192}, {"stop_s", 0.0368}}));
  EXPECT_EQ(stopped.jobs.size(), 3u);  // windows 1..3; window 4 would end at 0.04096 s
  EXPECT_EQ(stopped.jobs.back().window, 3);

  // A grid starting a million seconds before the recordings is planned at once: the windows
  // before them are counted as one run of drops, not tried one by one.
  const Plan early = planOf(scratch, campaign(json::array({json::array({"A", "B"})}),
                                              {{"samples", 8192}, {"start_s", -1e6}}));
  EXPECT_EQ(early.jobs.size(), 7u);                 // from sample 4096 on
  EXPECT_EQ(early.jobs.front().window, 122070313);  // 1e6 s / 8.192 ms, rounded up
  ASSERT_FALSE(early.notes.empty());
  EXPECT_EQ(early.notes.front(),
            "pair A-B: windows 0-122070312 dropped: it starts before the first sample of A");

  json mixed = campaign("all", {{"samples", 8192}});
  writeRecording(scratch, "d.iq", 65536);
  mixed["receivers"].push_back(rawReceiver("D", "d.iq", 2e6));
  const Plan refused = planOf(scratch, mixed);
  EXPECT_EQ(pairsOf(refused), (std::vector<std::string>{"A-B", "A-C", "B-C"}));
  int refusals = 0;
  for (const std::string& note : refused.notes) {
    if (note.find("refused: the sample rates differ") != std::string::npos) ++refusals;
  }
  EXPECT_EQ(refusals, 3);
}

// B starts 2.3 samples after A: B's sample n - 2 is the nearest to A's sample n, and starts
// 0.3 samples later, so a signal shows 0.3 samples early in it.
TEST_F(PlanTest, StartTimesAlignWindowsToTheNearestSample) {
  json receivers{rawReceiver("A", "a.iq", 1e6, "2026-01-01T00:00:00Z"),
                 rawReceiver("B", "b.iq", 1e6, "2026-01-01T00:00:00.0000023Z"),
                 rawReceiver("C", "c.iq", 1e6, "2025-12-31T23:59:59.9999993Z")};
  json document = campaign("all", {{"samples", 8192}});
  document["receivers"] = receivers;
  const Plan plan = planOf(scratch, document);
  ASSERT_FALSE(plan.jobs.empty());
  for (const Job& job : plan.jobs) {
    SCOPED_TRACE(job.id);
    const double startOf = job.first.name == "A" ? 0.7e-6 : job.first.name == "B" ? 3.0e-6 : 0.0;
    const double secondStart = job.second.name == "B"   ? 3.0e-6
                               : job.second.name == "A" ? 0.7e-6
                                                        : 0.0;
    // Campaign time counts from C, the earliest; the grid's window w starts at w * 8192 us.
    EXPECT_NEAR(job.tStartS, startOf + static_cast<double>(job.first.offset) * 1e-6, 1e-12);
    EXPECT_NEAR(job.tMidS, job.tStartS + 4096e-6, 1e-12);
    EXPECT_NEAR(job.tStartS, static_cast<double>(job.window) * 8192e-6, 0.5e-6 + 1e-12);
    // The second window starts within half a sample of the first, in absolute time, and the
    // residual is exactly that difference.
    const double firstAt = startOf + static_cast<double>(job.first.offset) * 1e-6;
    const double secondAt = secondStart + static_cast<double>(job.second.offset) * 1e-6;
    EXPECT_LE(std::fabs(secondAt - firstAt), 0.5e-6 + 1e-12);
    EXPECT_NEAR(job.alignmentResidualS, secondAt - firstAt, 1e-12);
  }
  const Job& ab = plan.jobs.front();
  ASSERT_EQ(ab.first.name + ab.second.name, "AB");
  EXPECT_EQ(ab.second.offset, ab.first.offset - 2);
  EXPECT_NEAR(ab.alignmentResidualS, 0.3e-6, 1e-12);
}

// A SigMF recording gives its own rate and, from core:datetime, its start; a raw recording
// beside it gives both in the campaign.
TEST_F(PlanTest, SigmfRecordingsGiveTheirRateAndStart) {
  const auto writeSigmf = [&](const std::string& name, double rate, const std::string& datetime) {
    writeRecording(scratch, name + ".sigmf-data", 65536);
    const json meta{
        {"global",
         {{"core:datatype", "ci16_le"}, {"core:sample_rate", rate}, {"core:version", "1.0.0"}}},
        {"captures", json::array({{{"core:sample_start", 0}, {"core:datetime", datetime}}})},
        {"annotations", json::array()}};
    writeBytes(scratch.path(name + ".sigmf-meta"), meta.dump());
  };
  writeSigmf("s", 1e6, "2026-01-01T00:00:01.0000015Z");
  writeSigmf("fast", 2e6, "2026-01-01T00:00:01Z");
  const json document{{"campaign", "t"},
                      {"receivers",
                       {rawReceiver("A", "a.iq", 1e6, "2026-01-01T00:00:01Z"),
                        {{"name", "S"}, {"recording", {{"path", "s.sigmf-meta"}}}},
                        {{"name", "F"}, {"recording", {{"path", "fast.sigmf-meta"}}}}}},
                      {"pairs", {{"reference", "A"}}},
                      {"windows", {{"samples", 8192}}},
                      {"search", smallSearch()}};
  const Plan plan = planOf(scratch, document);
  EXPECT_EQ(pairsOf(plan), std::vector<std::string>{"A-S"});
  ASSERT_FALSE(plan.jobs.empty());
  const Job& job = plan.jobs.front();
  EXPECT_EQ(job.rateHz, 1e6);
  EXPECT_EQ(job.second.path, scratch.path("s.sigmf-meta").string());
  // S started 1.5 samples after A: its window starts within half a sample of A's, in absolute
  // time, and the residual is that difference.
  for (const Job& each : plan.jobs) {
    const double difference =
        static_cast<double>(each.second.offset - each.first.offset) * 1e-6 + 1.5e-6;
    EXPECT_NEAR(each.alignmentResidualS, difference, 1e-12);
    EXPECT_LE(std::fabs(each.alignmentResidualS), 0.5e-6 + 1e-12);
  }
}

TEST_F(PlanTest, IdsAndDigestsAreStable) {
  const json document = campaign("all", {{"samples", 8192}});
  const Plan once = planOf(scratch, document);
  const Plan again = planOf(scratch, document);
  ASSERT_EQ(once.jobs.size(), again.jobs.size());
  std::set<std::string> digests;
  for (std::size_t j = 0; j < once.jobs.size(); ++j) {
    EXPECT_EQ(once.jobs[j].id, again.jobs[j].id);
    EXPECT_EQ(once.jobs[j].digest, again.jobs[j].digest);
    EXPECT_EQ(once.jobs[j].digest.size(), 16u);
    digests.insert(once.jobs[j].digest);
  }
  EXPECT_EQ(digests.size(), once.jobs.size());  // every job its own
  EXPECT_EQ(once.jobs.front().id, "t/A-B/w000001");

  // A search field changes every digest and no id.
  json changed = document;
  changed["search"]["threshold_db"] = 16;
  const Plan stricter = planOf(scratch, changed);
  ASSERT_EQ(stricter.jobs.size(), once.jobs.size());
  for (std::size_t j = 0; j < once.jobs.size(); ++j) {
    EXPECT_EQ(stricter.jobs[j].id, once.jobs[j].id);
    EXPECT_NE(stricter.jobs[j].digest, once.jobs[j].digest);
  }
  // A receiver's name is in the id, not in what decides the result.
  json renamed = document;
  renamed["receivers"][0]["name"] = "Z";
  const Plan other = planOf(scratch, renamed);
  EXPECT_EQ(other.jobs.front().id, "t/Z-B/w000001");
  EXPECT_EQ(other.jobs.front().digest, once.jobs.front().digest);
  // A job line reads back to the same job and digest.
  const Job read = jobFromJson(json::parse(toJson(once.jobs.front()).dump()));
  EXPECT_EQ(digestOf(read), once.jobs.front().digest);
}

TEST_F(PlanTest, BadCampaignsGetOneLineNamingTheField) {
  const json good = campaign("all", {{"samples", 8192}});
  struct Case {
    const char* what;
    std::function<void(json&)> spoil;
    const char* field;
  };
  const std::vector<Case> cases{
      {"no receivers", [](json& c) { c.erase("receivers"); }, "receivers: is missing"},
      {"no window length", [](json& c) { c["windows"].erase("samples"); },
       "windows.samples: is missing"},
      {"an unknown receiver in a pair",
       [](json& c) {
         c["pairs"] = json::array({json::array({"A", "Q"})});
       },
       "pairs[0][1]: 'Q' is not a receiver's name"},
      {"an unknown reference",
       [](json& c) {
         c["pairs"] = {{"reference", "Q"}};
       },
       "pairs.reference: 'Q' is not a receiver's name"},
      {"a rate as text", [](json& c) { c["receivers"][1]["recording"]["rate_hz"] = "1e6"; },
       "receivers[1].recording.rate_hz: must be a number"},
      {"a fractional window", [](json& c) { c["windows"]["samples"] = 8192.5; },
       "windows.samples: must be a whole number"},
      {"an unreadable recording",
       [](json& c) { c["receivers"][2]["recording"]["path"] = "missing.iq"; },
       "receivers[2].recording.path: the C recording"},
      {"a misspelt search field", [](json& c) { c["search"]["treshold_db"] = 15; },
       "search.treshold_db: is not a known field"},
      {"a threshold of zero", [](json& c) { c["search"]["threshold_db"] = 0; },
       "search.threshold_db: must be above 0"},
      {"one start time of three",
       [](json& c) { c["receivers"][1]["recording"]["start"] = "2026-01-01T00:00:00Z"; },
       "receivers[0].recording.start: receiver A has no start time"},
      {"an unreadable start",
       [](json& c) {
         for (int r = 0; r < 3; ++r) c["receivers"][r]["recording"]["start"] = "yesterday";
       },
       "receivers[0].recording.start: 'yesterday' is not an ISO 8601 time"},
      {"a name with a slash", [](json& c) { c["receivers"][0]["name"] = "A/1"; },
       "receivers[0].name: 'A/1' may hold only"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    json spoilt = good;
    c.spoil(spoilt);
    const std::string path = writeCampaign(scratch, spoilt).string();
    std::ostringstream out, err;
    EXPECT_EQ(runPlanCommand({path}, out, err), 2);
    EXPECT_EQ(out.str(), "");
    const std::string message = err.str();
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_EQ(message.rfind(std::string("kestrav-batch plan: ") + c.field, 0), 0u) << message;
  }
  std::ostringstream out, err;
  writeBytes(scratch.path("broken.json"), "{\"campaign\": ");
  EXPECT_EQ(runPlanCommand({scratch.path("broken.json").string()}, out, err), 2);
  EXPECT_NE(err.str().find("is not JSON"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace kestrav::batch
