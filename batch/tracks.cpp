#include "batch/tracks.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>

namespace kestrav::batch::merge {
namespace {

using nlohmann::json;

std::optional<double> finiteNumber(const json& object, const char* key) {
  if (!object.is_object() || !object.contains(key) || !object[key].is_number()) return std::nullopt;
  const double value = object[key].get<double>();
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

// A deviation is usable only when finite and above zero.
std::optional<double> deviation(const json& object, const char* key) {
  const std::optional<double> value = finiteNumber(object, key);
  return value && *value > 0.0 ? value : std::nullopt;
}

TrackPoint pointOf(const PlannedJob& job, const ResultEntry& entry) {
  TrackPoint point;
  point.tMid = job.tMid;
  point.window = job.window;
  point.status = entry.status;
  const json* best = entry.line.contains("best") ? &entry.line["best"] : nullptr;
  if (best == nullptr || !best->is_object()) return point;
  const std::optional<double> preciseDelay = finiteNumber(*best, "precise_delay_s");
  const std::optional<double> preciseOffset = finiteNumber(*best, "precise_frequency_offset_hz");
  point.precise = preciseDelay && preciseOffset;
  point.delay = point.precise ? preciseDelay : finiteNumber(*best, "delay_s");
  point.offset = point.precise ? preciseOffset : finiteNumber(*best, "frequency_offset_hz");
  // Deviations of the precise estimate say nothing of the grid's values.
  if (point.precise) {
    point.sigmaDelay = deviation(*best, "sigma_delay_s");
    point.sigmaOffset = deviation(*best, "sigma_frequency_offset_hz");
  }
  point.level = finiteNumber(*best, "level_db");
  if (best->contains("class") && (*best)["class"].is_string()) point.resultClass = (*best)["class"];
  for (const char* flag :
       {"at_delay_edge", "at_frequency_edge", "alias_ambiguous", "ambiguous", "model_mismatch"}) {
    if (best->contains(flag) && (*best)[flag].is_boolean() && (*best)[flag].get<bool>()) {
      point.flags.push_back(flag);
    }
  }
  return point;
}

bool hasValues(const TrackPoint& point) { return point.status == "ok"; }

}  // namespace

std::vector<Track> buildTracks(const PlannedJobs& planned, const ResultEntries& results,
                               MergeCounts& counts) {
  std::unordered_map<std::string, std::size_t> jobOfId;
  for (std::size_t j = 0; j < planned.jobs.size(); ++j) jobOfId.emplace(planned.jobs[j].id, j);
  // The chosen entry of each job: ok over any other status, then the latest.
  std::vector<const ResultEntry*> chosen(planned.jobs.size(), nullptr);
  for (const ResultEntry& entry : results.entries) {
    const auto found = jobOfId.find(entry.id);
    if (found == jobOfId.end()) {
      ++counts.unplanned;
      continue;
    }
    if (planned.jobs[found->second].digest != entry.digest) {
      ++counts.stale;
      continue;
    }
    const ResultEntry*& current = chosen[found->second];
    if (current != nullptr) ++counts.duplicates;
    if (current == nullptr || entry.status == "ok" || current->status != "ok") current = &entry;
  }
  std::vector<Track> tracks;
  std::map<std::pair<std::string, std::string>, std::size_t> trackOfPair;
  for (std::size_t j = 0; j < planned.jobs.size(); ++j) {
    const PlannedJob& job = planned.jobs[j];
    const auto key = std::pair{job.first, job.second};
    auto found = trackOfPair.find(key);
    if (found == trackOfPair.end()) {
      found = trackOfPair.emplace(key, tracks.size()).first;
      tracks.push_back(Track{job.first, job.second, {}});
    }
    if (chosen[j] == nullptr) {
      ++counts.missing;
      continue;
    }
    tracks[found->second].points.push_back(pointOf(job, *chosen[j]));
  }
  for (Track& track : tracks) {
    std::stable_sort(track.points.begin(), track.points.end(),
                     [](const TrackPoint& a, const TrackPoint& b) {
                       return a.tMid != b.tMid ? a.tMid < b.tMid : a.window < b.window;
                     });
  }
  return tracks;
}

std::vector<Closure> closures(const std::vector<Track>& tracks) {
  std::vector<std::string> names;
  const auto note = [&names](const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  };
  for (const Track& track : tracks) {
    note(track.first);
    note(track.second);
  }
  // A pair's ok points by window, with the sign that turns a reversed track into (a, b).
  struct Oriented {
    const Track* track = nullptr;
    double sign = 1.0;
  };
  const auto find = [&tracks](const std::string& a, const std::string& b) {
    for (const Track& track : tracks) {
      if (track.first == a && track.second == b) return Oriented{&track, 1.0};
      if (track.first == b && track.second == a) return Oriented{&track, -1.0};
    }
    return Oriented{};
  };
  const auto byWindow = [](const Oriented& pair) {
    std::map<long long, const TrackPoint*> points;
    for (const TrackPoint& point : pair.track->points) {
      if (hasValues(point)) points.emplace(point.window, &point);
    }
    return points;
  };
  std::vector<Closure> out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (std::size_t j = i + 1; j < names.size(); ++j) {
      for (std::size_t k = j + 1; k < names.size(); ++k) {
        const Oriented ab = find(names[i], names[j]);
        const Oriented bc = find(names[j], names[k]);
        const Oriented ac = find(names[i], names[k]);
        if (ab.track == nullptr || bc.track == nullptr || ac.track == nullptr) continue;
        const auto abPoints = byWindow(ab);
        const auto bcPoints = byWindow(bc);
        const auto acPoints = byWindow(ac);
        for (const auto& windowPoint : abPoints) {
          // Named apart rather than bound: clang before 16 cannot capture a structured binding.
          const auto window = windowPoint.first;
          const TrackPoint& abPoint = *windowPoint.second;
          const auto bcFound = bcPoints.find(window);
          const auto acFound = acPoints.find(window);
          if (bcFound == bcPoints.end() || acFound == acPoints.end()) continue;
          const TrackPoint& bcPoint = *bcFound->second;
          const TrackPoint& acPoint = *acFound->second;
          Closure closure{{names[i], names[j], names[k]}, window, abPoint.tMid, {}, {}, {}, {}};
          const auto residual = [&](auto value, auto sigma, std::optional<double>& sum,
                                    std::optional<double>& sigmas) {
            const auto& x = value(abPoint);
            const auto& y = value(bcPoint);
            const auto& z = value(acPoint);
            if (!x || !y || !z) return;
            sum = ab.sign * *x + bc.sign * *y - ac.sign * *z;
            const auto& sx = sigma(abPoint);
            const auto& sy = sigma(bcPoint);
            const auto& sz = sigma(acPoint);
            if (!sx || !sy || !sz) return;
            sigmas = *sum / std::sqrt(*sx * *sx + *sy * *sy + *sz * *sz);
          };
          residual(
              [](const TrackPoint& p) -> const auto& { return p.delay; },
              [](const TrackPoint& p) -> const auto& { return p.sigmaDelay; },
              closure.delayResidual, closure.delaySigmas);
          residual(
              [](const TrackPoint& p) -> const auto& { return p.offset; },
              [](const TrackPoint& p) -> const auto& { return p.sigmaOffset; },
              closure.offsetResidual, closure.offsetSigmas);
          if (closure.delayResidual || closure.offsetResidual) out.push_back(closure);
        }
      }
    }
  }
  return out;
}

}  // namespace kestrav::batch::merge
