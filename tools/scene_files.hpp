#pragma once
// A generated scene on disk: one recording per receiver, the campaign that searches every pair of
// them window by window, and the truth the searches should find.
#include <filesystem>
#include <string>
#include <vector>

#include "engine/sample_format.hpp"
#include "tools/moving_scene.hpp"

namespace kestrav {

struct SceneFiles {
  std::filesystem::path directory;  // created when missing
  SampleFormat format = SampleFormat::Ci16;
  int windowSamples = 262144;
  int hop = 262144;
  bool precise = false;  // the campaign asks for the precise estimate
  std::string campaign = "scene";
};

// Writes DIR/rx<NAME>.iq (each scaled to its own full range), DIR/campaign.json and
// DIR/truth.json; returns the receivers. Throws std::runtime_error when a file cannot be written,
// std::invalid_argument when the scene cannot be generated.
std::vector<SceneReceiver> writeScene(const SceneConfig& config, const SceneFiles& files);

// Campaign time `picoseconds` as an ISO 8601 UTC time counted from 2026-01-01T00:00:00Z, with
// every picosecond written.
std::string sceneTime(long long picoseconds);

// The delay window (microseconds, centred on 0) that holds every pair's delay over the scene with
// 32 samples to spare each side.
double sceneDelayRangeUs(const SceneConfig& config, const std::vector<SceneReceiver>& receivers);

}  // namespace kestrav
