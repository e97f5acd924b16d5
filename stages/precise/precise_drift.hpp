#pragma once
// The delay and frequency offset drift over a segment: a clock that runs at another rate at
// the second receiver, or motion, stretches the second recording, so that the delay grows along
// it and the correlation over the whole segment smears. The segment is cut into parts; each
// part's delay and offset are measured on their own, straight lines fitted through them give
// the rates, and, where a rate stands clear of its deviation, the estimate is made again over
// all parts at once, each part moved by the fitted drift, so that the whole segment adds up
// coherently once more.
#include <span>
#include <vector>

#include "platform/host/vector_types.hpp"
#include "stages/precise/band_weight.hpp"
#include "stages/precise/precise_layout.hpp"
#include "stages/precise/precise_primitives.hpp"

namespace kestrav {

struct DriftFit {
  bool measured = false;  // enough parts to fit lines through
  // Samples per sample (seconds per second) and cycles per sample per sample.
  double delayRate = 0.0, sigmaDelayRate = 0.0;
  double cyclesRate = 0.0, sigmaCyclesRate = 0.0;
  // The parts' scatter about the fitted lines over what their deviations allow: about 1 when
  // the straight drift and the deviations hold.
  double delayMisfit = 1.0, frequencyMisfit = 1.0;
  int parts = 0;
};

struct DriftedEstimate {
  bool done = false;
  double delaySamples = 0.0;  // at the middle of the segment
  double cycles = 0.0;
  double sigmaDelaySamples = 0.0, sigmaCycles = 0.0;
  double postIntegrationSnr = 0.0, rmsBandwidth = 0.0, rmsDuration = 0.0;
  int iterations = 0;
  bool converged = false;
};

// The segment of n samples cut into parts of at least ShortestPart samples; fewer than two parts
// measure no drift.
inline constexpr int ShortestPart = 16384;

class DriftEstimator {
 public:
  // `fullLayout` and `rootWeight` are the whole segment's layout and band weight (per bin of its
  // frame); `excess` the whole segment's excess per bin (may be empty).
  DriftEstimator(const PreciseSegments& segments, const PreciseLayout& fullLayout,
                 std::span<const double> rootWeight, std::span<const double> excess,
                 double rmsBandwidth, PrecisePrimitives& primitives);

  // Each part's delay and offset near the whole segment's (moved by the rates given, where a
  // first fit found them), and the lines through them.
  DriftFit fit(double delaySamples, double cycles, double delayRate = 0.0, double cyclesRate = 0.0);

  // The estimate over all parts with the drift taken out (rates as DriftFit gives them).
  DriftedEstimate estimate(double delaySamples, double cycles, double delayRate, double cyclesRate);

 private:
  PreciseSegments part(int p) const;
  std::vector<double> spectrumRates() const;

  PreciseSegments segments_;
  PreciseLayout full_;
  PreciseLayout layout_;  // of one part
  std::vector<int> starts_;
  std::vector<double> centres_;     // each part's middle, samples from the segment's middle
  std::vector<double> rootWeight_;  // per bin of a part's frame
  std::vector<double> excess_;      // likewise
  double rmsBandwidth_ = 0.0;
  PrecisePrimitives& primitives_;
};

}  // namespace kestrav
