#include "batch/job_runner.hpp"

#include <chrono>

#include "engine/result_json.hpp"
#include "engine/search.hpp"
#include "engine/search_request.hpp"
#include "platform/host/errors.hpp"

namespace kestrav::batch {
namespace {

using nlohmann::ordered_json;

void addTo(ordered_json& object, const char* key, double amount) {
  const auto found = object.find(key);
  if (found != object.end() && found->is_number()) *found = found->get<double>() + amount;
}

}  // namespace

void addResidual(ordered_json& result, double residual) {
  addTo(result, "delay_s", residual);
  // As the program writes it: the delay in seconds, times a million.
  if (const auto delay = result.find("delay_s"); delay != result.end() && delay->is_number()) {
    result["delay_us"] = delay->get<double>() * 1e6;
  }
  addTo(result, "precise_delay_s", residual);
  if (const auto runnerUp = result.find("runner_up"); runnerUp != result.end()) {
    addTo(*runnerUp, "delay_s", residual);
  }
  if (const auto paths = result.find("paths"); paths != result.end() && paths->is_array()) {
    for (ordered_json& path : *paths) addTo(path, "delay_s", residual);
  }
}

ComputeBackend& JobRunner::backendFor(const std::string& name) {
  std::unique_ptr<ComputeBackend>& backend = backends_[name];
  if (!backend) {
    const std::optional<BackendKind> kind = backendNamed(name);
    if (!kind) throw InputError("'" + name + "' is not a backend");
    backend = makeBackend(*kind);
  }
  return *backend;
}

JobRunner::Result JobRunner::run(const Job& job, const JobWindows& windows, double waitedSeconds) {
  const auto started = std::chrono::steady_clock::now();
  std::string status = windows.status;
  std::string reason = windows.reason;
  std::string backendName = job.search.backend;
  std::vector<std::string> warnings = windows.warnings;
  ordered_json best = nullptr;
  ordered_json candidates = ordered_json::array();
  if (status.empty()) {
    try {
      ComputeBackend& backend = backendFor(job.search.backend);
      backendName = std::string(backend.name());
      SearchOptions options;
      options.backendOverride = &backend;
      // As `kestrav --json`: every refined result with its precise estimate and its class.
      options.driver.precise = true;
      options.driver.classify = true;
      options.reportPrecise = job.search.precise;
      const SearchOutcome outcome = searchSources(
          windowSource(windows.first), windowSource(windows.second), windows.parameters, options);
      for (std::string& warning : unsureWarnings(outcome, options.reportPrecise)) {
        warnings.push_back(std::move(warning));
      }
      const ordered_json document = ordered_json::parse(formatJson(outcome, windows.parameters));
      const ordered_json& results = document.at("results");
      for (std::size_t r = 0;
           r < results.size() && r < static_cast<std::size_t>(job.search.candidates); ++r) {
        ordered_json result = results[r];
        addResidual(result, job.alignmentResidualS);
        candidates.push_back(std::move(result));
      }
      if (candidates.empty()) {
        status = "below_threshold";
        reason = "no lag reached the peak threshold";
      } else {
        status = "ok";
        best = candidates.front();
      }
    } catch (...) {
      JobFailure failure = currentFailure();
      status = std::move(failure.status);
      reason = std::move(failure.reason);
    }
  }
  const double elapsed =
      waitedSeconds +
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  ordered_json line = ordered_json::object();
  line["id"] = job.id;
  line["digest"] = job.digest;
  line["pair"] = ordered_json::array({job.first.name, job.second.name});
  line["window"] = job.window;
  line["t_mid_s"] = job.tMidS;
  line["status"] = status;
  if (status != "ok") line["reason"] = reason;
  line["best"] = std::move(best);
  line["candidates"] = std::move(candidates);
  if (!warnings.empty()) line["warnings"] = warnings;
  line["backend"] = backendName;
  line["elapsed_s"] = elapsed;
  line["version"] = kestravVersion();
  line["attempt"] = identity_.attempt;
  line["shard"] = identity_.shard;
  // Text that is not UTF-8 (a path in a reason, say) is replaced rather than refused.
  return {status, line.dump(-1, ' ', false, ordered_json::error_handler_t::replace)};
}

}  // namespace kestrav::batch
