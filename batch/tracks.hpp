#pragma once
// The results of a campaign as tracks: one result per job (several attempts reduced to one), each
// pair's points in time order, and the closure of every triple of receivers window by window.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "batch/merge_inputs.hpp"

namespace kestrav::batch::merge {

struct TrackPoint {
  double tMid = 0.0;
  long long window = 0;
  std::string status;
  // From the best result: the precise estimate where there is one (the deviations belong to it),
  // else the refined values. Absent where the result gives none.
  std::optional<double> delay;
  std::optional<double> sigmaDelay;
  std::optional<double> offset;
  std::optional<double> sigmaOffset;
  std::optional<double> level;
  std::string resultClass;  // empty when not given
  bool precise = false;
  std::vector<std::string> flags;  // the best result's doubts: edges, aliases, ambiguity, model
};

struct Track {
  std::string first;
  std::string second;
  std::vector<TrackPoint> points;  // by time
};

struct MergeCounts {
  long long duplicates = 0;  // result lines beyond the first of a job
  long long unplanned = 0;   // result lines of ids the plan does not hold
  long long stale = 0;       // result lines of a planned id but another digest (an older plan)
  long long missing = 0;     // planned jobs without a result
};

// One result per planned job: an ok one where any attempt ended ok, else the latest. Tracks come
// in the order their pairs first appear in the plan.
std::vector<Track> buildTracks(const PlannedJobs& planned, const ResultEntries& results,
                               MergeCounts& counts);

struct Closure {
  std::array<std::string, 3> names;
  long long window = 0;
  double tMid = 0.0;
  // X(A,B) + X(B,C) - X(A,C); the same over the root sum of squares of the three deviations
  // (absent where a deviation is missing).
  std::optional<double> delayResidual;
  std::optional<double> delaySigmas;
  std::optional<double> offsetResidual;
  std::optional<double> offsetSigmas;
};

// For every triple of receivers (in the order they first appear in the tracks) whose three pairs
// have tracks, in either orientation, each window where all three have values.
std::vector<Closure> closures(const std::vector<Track>& tracks);

}  // namespace kestrav::batch::merge
