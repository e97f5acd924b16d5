#include "app/json_report.hpp"

#include <nlohmann/json.hpp>

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
      // Later or earlier copies at the same offset, resolved and modelled.
      json paths = json::array();
      for (const PreciseEstimate::Path& path : precise.paths) {
        paths.push_back({{"delay_s", path.delay}, {"relative_power_db", path.relativePowerDb}});
      }
      result["paths"] = std::move(paths);
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
      {"peak_threshold_db", parameters.peakThreshold},
      {"decimation", outcome.sizes.decimation},
      {"decimated_rate_hz", outcome.sizes.decimatedRate},
      {"decimated_length", outcome.sizes.decimatedLength},
      {"fft_length", outcome.sizes.fftLength},
      {"backend", outcome.backendName},
      {"timings_s",
       {{"load", outcome.loadSeconds},
        {"coarse_search", outcome.times.coarseSearch},
        {"peak_picking", outcome.times.peakPicking},
        {"refinement", outcome.times.refinement}}},
  };
  return document.dump(2) + "\n";
}

}  // namespace kestrav
