#pragma once
// Campaigns as the batch tests write them: receivers with raw recordings in a scratch folder.
#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>

#include "support/test_files.hpp"

namespace kestrav::testing {

// A receiver of a raw int16 recording at `rate`; `start` (ISO 8601) is left out when empty.
inline nlohmann::json rawReceiver(const std::string& name, const std::string& path, double rate,
                                  const std::string& start = "") {
  nlohmann::json recording{{"path", path}, {"format", "ci16"}, {"rate_hz", rate}};
  if (!start.empty()) recording["start"] = start;
  return {{"name", name}, {"recording", recording}};
}

// A search that every test window can hold: 100 us wide about 0, 15 dB.
inline nlohmann::json smallSearch() {
  return {{"centre_us", 0}, {"range_us", 100}, {"threshold_db", 15}};
}

inline std::filesystem::path writeCampaign(const ScratchDirectory& scratch,
                                           const nlohmann::json& campaign,
                                           const std::string& name = "campaign.json") {
  const std::filesystem::path path = scratch.path(name);
  writeBytes(path, campaign.dump(2));
  return path;
}

}  // namespace kestrav::testing
