#include "batch/track_output.hpp"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>

namespace kestrav::batch::merge {
namespace {

using nlohmann::ordered_json;

ordered_json valueOrNull(const std::optional<double>& value) {
  return value ? ordered_json(*value) : ordered_json(nullptr);
}

std::string csvNumber(const std::optional<double>& value) {
  if (!value) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", *value);
  return text;
}

// Statuses, classes and flags are plain words; anything else written in a CSV field is kept from
// splitting the row.
std::string csvWord(const std::string& text) {
  std::string out;
  for (const char c : text) {
    out += c == ',' || c == '"' || c == '\n' || c == '\r' ? '_' : c;
  }
  return out;
}

std::string fileSafe(const std::string& name) {
  std::string out;
  for (const char c : name) {
    const bool plain =
        std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
    out += plain ? c : '_';
  }
  // "." and ".." would leave the folder or name it.
  return out.find_first_not_of('.') == std::string::npos ? "_" + out : out;
}

}  // namespace

std::string trackLine(const Track& track) {
  ordered_json points = ordered_json::array();
  for (const TrackPoint& point : track.points) {
    ordered_json value{{"t_mid_s", point.tMid},
                       {"window", point.window},
                       {"status", point.status},
                       {"delay_s", valueOrNull(point.delay)},
                       {"sigma_delay_s", valueOrNull(point.sigmaDelay)},
                       {"frequency_offset_hz", valueOrNull(point.offset)},
                       {"sigma_frequency_offset_hz", valueOrNull(point.sigmaOffset)},
                       {"level_db", valueOrNull(point.level)},
                       {"class", point.resultClass.empty() ? ordered_json(nullptr)
                                                           : ordered_json(point.resultClass)},
                       {"precise", point.precise}};
    if (!point.flags.empty()) value["flags"] = point.flags;
    points.push_back(std::move(value));
  }
  return ordered_json{{"pair", {track.first, track.second}}, {"points", std::move(points)}}.dump(
      -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string closureLine(const Closure& closure) {
  return ordered_json{{"closure", closure.names},
                      {"window", closure.window},
                      {"t_mid_s", closure.tMid},
                      {"delay_residual_s", valueOrNull(closure.delayResidual)},
                      {"delay_residual_sigmas", valueOrNull(closure.delaySigmas)},
                      {"offset_residual_hz", valueOrNull(closure.offsetResidual)},
                      {"offset_residual_sigmas", valueOrNull(closure.offsetSigmas)}}
      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string trackCsv(const Track& track) {
  std::string text =
      "t_mid_s,window,status,delay_s,sigma_delay_s,frequency_offset_hz,"
      "sigma_frequency_offset_hz,level_db,class,precise,flags\n";
  for (const TrackPoint& point : track.points) {
    std::string flags;
    for (const std::string& flag : point.flags) flags += (flags.empty() ? "" : ";") + flag;
    text += csvNumber(point.tMid) + "," + std::to_string(point.window) + "," +
            csvWord(point.status) + "," + csvNumber(point.delay) + "," +
            csvNumber(point.sigmaDelay) + "," + csvNumber(point.offset) + "," +
            csvNumber(point.sigmaOffset) + "," + csvNumber(point.level) + "," +
            csvWord(point.resultClass) + "," + (point.precise ? "true" : "false") + "," + flags +
            "\n";
  }
  return text;
}

std::string trackCsvName(const Track& track) {
  return fileSafe(track.first) + "-" + fileSafe(track.second) + ".csv";
}

}  // namespace kestrav::batch::merge
