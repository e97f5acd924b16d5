#include "engine/result_json.hpp"

#include <nlohmann/json.hpp>

#include <cmath>

#include "engine/search_request.hpp"

namespace kestrav {

std::string formatJson(const SearchOutcome& outcome, const SearchParameters& parameters) {
  using nlohmann::json;
  json results = json::array();
  for (std::size_t r = 0; r < outcome.candidates.size(); ++r) {
    // The reported values: the refinement's, or the precise ones with --precise.
    const SearchResult& reported = outcome.results[r];
    const SearchCandidate& candidate = outcome.candidates[r];
    json result{{"delay_s", reported.delay},
                {"delay_us", reported.delay * 1e6},
                {"frequency_offset_hz", reported.frequencyOffset},
                {"level_db", candidate.level},
                {"refined", candidate.refined},
                {"lag_index", candidate.lagIndex}};
    if (candidate.refined) {
      const Refinement& refinement = candidate.refinement;
      result["fine_frequency"] = {{"correction_hz", refinement.frequency.correction},
                                  {"zoom_points", refinement.frequency.zoomPoints},
                                  {"zoom_index", refinement.frequency.zoomIndex},
                                  {"grid_step_hz", refinement.frequency.gridStep}};
      result["fine_delay"] = {{"correction_s", refinement.delay.correction},
                              {"zoom_points", refinement.delay.zoomPoints},
                              {"zoom_index", refinement.delay.zoomIndex},
                              {"grid_step_s", refinement.delay.gridStep}};
    }
    if (candidate.precise) {
      // Deviations that cannot be measured (no signal in any band) are infinite: null here.
      const PreciseEstimate& precise = *candidate.precise;
      result["precise_delay_s"] = precise.delay;
      result["precise_frequency_offset_hz"] = precise.frequencyOffset;
      result["sigma_delay_s"] = precise.sigmaDelay;
      result["sigma_frequency_offset_hz"] = precise.sigmaFrequency;
      result["precise"] = {{"iterations", precise.iterations},
                           {"converged", precise.converged},
                           {"post_integration_snr_db", precise.postIntegrationSnrDb},
                           {"effective_bandwidth_hz", precise.effectiveBandwidthHz},
                           {"effective_duration_s", precise.effectiveDurationS}};
      // Drifts over the segment; delay and offset hold at the middle of the first segment.
      result["delay_rate"] = precise.delayRate;
      result["sigma_delay_rate"] = precise.sigmaDelayRate;
      result["frequency_rate"] = precise.frequencyRate;
      result["sigma_frequency_rate"] = precise.sigmaFrequencyRate;
      result["model_mismatch"] = (precise.flags & PreciseFlag::ModelMismatch) != 0;
      // Why: a fault seen in the data, or echoes that could not have been seen.
      json reasons = json::array();
      for (const char* name : preciseFlagNames(precise.flags)) reasons.push_back(name);
      result["model_mismatch_reasons"] = std::move(reasons);
      // Later or earlier copies at the same offset, resolved and modelled.
      json paths = json::array();
      for (const PreciseEstimate::Path& path : precise.paths) {
        paths.push_back({{"delay_s", path.delay}, {"relative_power_db", path.relativePowerDb}});
      }
      result["paths"] = std::move(paths);
    }
    if (r < outcome.qualities.size()) {
      const ResultQuality& quality = outcome.qualities[r];
      if (quality.classified) {
        result["class"] = resultClassName(quality.resultClass);
        if (quality.resultClass == ResultClass::Sidelobe ||
            quality.resultClass == ResultClass::Path) {
          result["explained_by"] = quality.explainedBy;
        }
        if (quality.resultClass == ResultClass::Path && quality.path) {
          // Against the stronger copy, and the recording found to hold the copy: a later copy
          // in the second is an echo at the second receiver, an earlier one in the first an
          // echo at the first.
          result["path_relative_power_db"] = quality.path->relativePowerDb;
          result["path_delay_s"] = quality.path->delay;
          result["path_receiver"] = quality.path->inFirst ? "first" : "second";
        }
        result["correlation_coefficient"] = quality.correlation;
        result["correlation_db"] =
            quality.correlation > 0.0 ? 20.0 * std::log10(quality.correlation) : -INFINITY;
      }
      result["at_delay_edge"] = quality.atDelayEdge;
      result["at_frequency_edge"] = quality.atFrequencyEdge;
      result["alias_checked"] = quality.aliasChecked;
      result["alias_ambiguous"] = quality.aliasAmbiguous;
      if (quality.aliasMoved) result["alias_moved_from_hz"] = quality.coarseFrequency;
      result["ambiguous"] = quality.ambiguous;
      if (quality.runnerUp) {
        result["runner_up"] = {{"delay_s", quality.runnerUp->delay},
                               {"frequency_offset_hz", quality.runnerUp->frequencyOffset},
                               {"correlation_coefficient", quality.runnerUp->correlation}};
      }
    }
    results.push_back(std::move(result));
  }
  const LagWindow& window = outcome.window;
  const double rate = parameters.sampleRate;
  json document{
      {"results", std::move(results)},
      {"sample_count", outcome.sampleCount},
      {"sample_rate_hz", rate},
      {"lag_window",
       {{"centre_lag", window.centreLag},
        {"lag_count", window.lagCount},
        {"first_lag", window.firstLag},
        {"first_delay_s", window.firstLag / rate},
        {"last_delay_s", (static_cast<double>(window.firstLag) + window.lagCount - 1) / rate}}},
      {"peak_threshold_db", outcome.peakThreshold},
      {"frequency_span_hz", parameters.frequencySpan},
      {"false_alarm_probability", outcome.classFalseAlarm},
      {"noise_level_db", outcome.noiseLevel},
      {"decimation", outcome.sizes.decimation},
      {"decimated_rate_hz", outcome.sizes.decimatedRate},
      {"decimated_length", outcome.sizes.decimatedLength},
      {"fft_length", outcome.sizes.fftLength},
      {"backend", outcome.backendName},
      {"timings_s",
       {{"load", outcome.loadSeconds},
        {"coarse_search", outcome.times.coarseSearch},
        {"peak_picking", outcome.times.peakPicking},
        {"alias_checks", outcome.times.aliasChecks},
        {"refinement", outcome.times.refinement},
        {"classification", outcome.times.classification}}},
  };
  return document.dump(2) + "\n";
}

std::string formatJson(const SearchOutcome& outcome, const SearchParameters& parameters,
                       const RecordingEcho& first, const RecordingEcho& second) {
  using nlohmann::json;
  json document = json::parse(formatJson(outcome, parameters));
  auto echo = [](const RecordingEcho& recording) {
    return json{{"frequency_hz", recording.frequency ? json(*recording.frequency) : json()},
                {"datetime", recording.datetime.empty() ? json() : json(recording.datetime)}};
  };
  json recordings{{"first", echo(first)}, {"second", echo(second)}};
  const bool timed = first.startSeconds && second.startSeconds;
  const bool retuned = first.frequency && second.frequency && *first.frequency != *second.frequency;
  const double startDifference = timed ? *second.startSeconds - *first.startSeconds : 0.0;
  const double tuningDifference = retuned ? *second.frequency - *first.frequency : 0.0;
  if (timed) recordings["start_time_difference_s"] = startDifference;
  if (retuned) recordings["tuning_difference_hz"] = tuningDifference;
  document["recordings"] = std::move(recordings);
  for (std::size_t r = 0; r < outcome.results.size(); ++r) {
    json& result = document["results"][r];
    if (timed) {
      result["absolute_arrival_difference_s"] = outcome.results[r].delay + startDifference;
    }
    if (retuned) {
      result["tuning_corrected_frequency_offset_hz"] =
          outcome.results[r].frequencyOffset + tuningDifference;
    }
  }
  return document.dump(2) + "\n";
}

namespace {

const char* kindName(RecordingKind kind) {
  switch (kind) {
    case RecordingKind::Wav:
      return "wav";
    case RecordingKind::Sigmf:
      return "sigmf";
    case RecordingKind::SigmfArchive:
      return "sigmf_archive";
    case RecordingKind::Samples:
      break;
  }
  return "samples";
}

nlohmann::json positiveOrNull(double value) {
  return value > 0.0 ? nlohmann::json(value) : nlohmann::json();
}

// The recording as read: where its samples lie, their type and number, and what its header or
// metadata gave.
nlohmann::json inputOf(const std::string& named, const Recording& recording) {
  using nlohmann::json;
  json input{{"path", named},
             {"data_path", recording.path},
             {"kind", kindName(recording.kind)},
             {"format", formatName(recording.format)},
             {"sample_rate_hz", positiveOrNull(recording.sampleRate)},
             {"sample_total", recording.samples}};
  if (recording.kind == RecordingKind::Sigmf || recording.kind == RecordingKind::SigmfArchive) {
    json captures = json::array();
    for (const SigmfCapture& capture : recording.captures) {
      captures.push_back(
          {{"sample_start", capture.sampleStart},
           {"frequency_hz", capture.frequency ? json(*capture.frequency) : json()},
           {"datetime", capture.datetime.empty() ? json() : json(capture.datetime)}});
    }
    input["captures"] = std::move(captures);
  }
  return input;
}

}  // namespace

std::string formatJson(const SearchRequest& request, const SearchReport& report) {
  using nlohmann::json;
  const SearchOutcome& outcome = report.outcome;
  const SearchParameters& parameters = request.parameters;
  json document =
      json::parse(report.firstEcho && report.secondEcho
                      ? formatJson(outcome, parameters, *report.firstEcho, *report.secondEcho)
                      : formatJson(outcome, parameters));
  const SearchOptions& options = request.options;
  document["version"] = kestravVersion();
  document["inputs"] = {{"first", inputOf(request.firstPath, request.first)},
                        {"second", inputOf(request.secondPath, request.second)},
                        {"channel", request.channel >= 0 ? json(request.channel) : json()}};
  // As asked, before loading lowers the sample count or a probability sets the threshold.
  document["parameters"] = {
      {"sample_count", parameters.sampleCount},
      {"sample_rate_hz", parameters.sampleRate},
      {"centre_delay_s", parameters.centreDelay},
      {"delay_window_s", parameters.delayWindow},
      {"frequency_span_hz", parameters.frequencySpan},
      {"min_abs_delay_s", parameters.minAbsDelay},
      {"min_abs_frequency_hz", parameters.minAbsFrequency},
      {"peak_threshold_db",
       options.driver.falseAlarm > 0.0 ? json() : json(parameters.peakThreshold)},
      {"false_alarm", positiveOrNull(options.driver.falseAlarm)},
      {"refine", parameters.refine},
      {"refine_all", options.driver.refineAll},
      {"precise", options.reportPrecise},
      {"distinct", request.distinct},
      {"remove_dc", options.removeDc},
      {"backend", backendKindName(options.backend)},
      {"threads", request.threads > 0 ? json(request.threads) : json()},
      {"worker_threads", report.workerThreads}};
  document["warnings"] = report.warnings;
  // Paths are bytes, not always UTF-8: such bytes are shown as U+FFFD rather than failing.
  return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace kestrav
