#pragma once
// What the search can say about each result beyond its values: what it is (an emitter, or a
// sidelobe, another path of a stronger result, the DC ridge or noise), how strong it is on a
// scale that does not saturate, and where it cannot be sure (an edge of the search, an alias, a
// close competitor).
#include <cmath>
#include <limits>
#include <optional>

namespace kestrav {

enum class ResultClass { Emitter, Sidelobe, Dc, Noise, Path };

// "emitter", "sidelobe", "dc", "noise", "path".
const char* resultClassName(ResultClass resultClass);

// The best result's closest competitor, when one was weighed against it.
struct RunnerUp {
  double delay = 0.0;            // seconds
  double frequencyOffset = 0.0;  // hertz
  double correlation = 0.0;      // as ResultQuality::correlation
};

// A path's measures against the stronger copy of the same emission that explains it.
struct PathMeasures {
  double relativePowerDb = 0.0;  // 20 log10 of its strength over the stronger's: below 0
  double delay = 0.0;            // seconds: its delay less the stronger's
  bool inFirst = false;          // the copy lies in the first recording, else in the second
};

struct ResultQuality {
  bool classified = false;  // the class fields below were worked out
  ResultClass resultClass = ResultClass::Emitter;
  int explainedBy = -1;  // a sidelobe's or a path's stronger result, by its index in the list
  std::optional<PathMeasures> path;  // a path's measures
  // |cross-ambiguity| at full rate over the recordings' energies: 1 for identical recordings,
  // about 1/sqrt(N) for noise.
  double correlation = std::numeric_limits<double>::quiet_NaN();
  double coarseFrequency = 0.0;  // hertz: the coarse cell's offset, before any move
  bool aliasChecked = false;     // its images at the full rate were compared
  bool aliasMoved = false;       // it was moved to a stronger image than the coarse band's
  bool aliasAmbiguous = false;   // no image stood out: the offset may be any of them
  bool atDelayEdge = false;      // on the first or last lag of the window
  bool atFrequencyEdge = false;  // on the first or last bin of the band, and not settled
  bool ambiguous = false;        // a competitor could not be told from it
  std::optional<RunnerUp> runnerUp;
};

// Marks the result ambiguous beside `other`, which becomes its runner-up when closer than the
// one it had.
inline void markAmbiguous(ResultQuality& quality, const RunnerUp& other) {
  quality.ambiguous = true;
  if (!quality.runnerUp || quality.runnerUp->correlation < other.correlation) {
    quality.runnerUp = other;
  }
}

}  // namespace kestrav
