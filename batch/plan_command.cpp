#include "app/one_line.hpp"
#include "batch/arguments.hpp"
#include "batch/campaign.hpp"
#include "batch/commands.hpp"
#include "batch/job_plan.hpp"

namespace kestrav::batch {
namespace {

const char* const PlanUsage =
    "usage: kestrav-batch plan CAMPAIGN.json > jobs.jsonl\n"
    "  Writes one JSON line per (pair, window) job: pairs in order, windows in time order.\n"
    "  Pairs refused and windows dropped are said on standard error, with a summary.\n";

int planCampaign(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Arguments arguments = parseArguments(args, {});
  if (arguments.help) {
    out << PlanUsage;
    return 0;
  }
  if (arguments.positional.size() != 1) {
    throw UsageError("plan takes one campaign file (kestrav-batch plan --help)");
  }
  const Campaign campaign = readCampaign(arguments.positional.front());
  for (const std::string& warning : campaign.warnings) {
    err << "kestrav-batch plan: warning: " << oneLine(warning) << "\n";
  }
  const Plan plan = planJobs(campaign);
  for (const std::string& note : plan.notes) {
    err << "kestrav-batch plan: " << oneLine(note) << "\n";
  }
  if (plan.jobs.empty()) {
    err << "kestrav-batch plan: the campaign gives no job\n";
    return 2;
  }
  for (const Job& job : plan.jobs) {
    out << toJson(job).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
        << "\n";
  }
  out.flush();
  if (!out) {
    err << "kestrav-batch plan: cannot write the jobs\n";
    return 1;
  }
  return 0;
}

}  // namespace

int runPlanCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return runReportingFailures("plan", err, [&] { return planCampaign(args, out, err); });
}

}  // namespace kestrav::batch
