#pragma once
// The precise delay and frequency offset of one refined candidate, with their standard
// deviations. Starting from the refined zooms' peaks, fitted on their own grids, it maximises the
// band-weighted cross-ambiguity of the two segments: the delay at the current frequency offset,
// then the frequency offset on the product formed at that fractional delay, until neither moves
// by more than a hundredth of its standard deviation.
#include <vector>

#include "platform/host/sample_segments.hpp"
#include "platform/host/vector_types.hpp"
#include "stages/fine/fine_request.hpp"
#include "stages/precise/precise_primitives.hpp"

namespace kestrav {

struct PreciseRequest {
  // n samples of the first segment, and the second segment at the candidate's integer lag:
  // second[0 .. n - 1] is aligned with first, and second[-secondBefore .. n - 1 + secondAfter]
  // may be read. Up to 64 samples on each side are used; fewer are replaced by zeros, at some
  // cost near the ends.
  SegmentPointers segments;
  int sampleCount = 0;  // n
  int secondBefore = 0;
  int secondAfter = 0;
  double sampleRate = 0.0;       // hertz
  double delay = 0.0;            // the refined delay, seconds
  double lagDelay = 0.0;         // the delay that second[0] stands for, seconds
  double frequencyOffset = 0.0;  // the refined frequency offset, hertz
  // The refinement that gave delay and frequencyOffset, with traces (traceHalfWidth >= 3) when
  // its zooms are to be fitted; without them the refined values are the starting point.
  Refinement refinement;
};

struct PreciseEstimate {
  double delay = 0.0;            // seconds
  double frequencyOffset = 0.0;  // hertz
  double sigmaDelay = 0.0;       // seconds: Stein's standard deviation at the measured values
  double sigmaFrequency = 0.0;   // hertz
  int iterations = 0;            // delay-then-frequency rounds
  double postIntegrationSnrDb = 0.0;
  double effectiveBandwidthHz = 0.0;  // the flat band with the weighted spectrum's rms width
  double effectiveDurationS = 0.0;    // the flat window with the product's rms duration
  bool converged = false;  // the last round moved both by less than 1 % of their deviations
  // The drifts over the segment, from the delay and offset of its parts: seconds per second and
  // hertz per second, with their deviations (infinite where the segment is too short to part).
  // delay and frequencyOffset hold at the middle of the first segment.
  double delayRate = 0.0;
  double frequencyRate = 0.0;
  double sigmaDelayRate = 0.0;
  double sigmaFrequencyRate = 0.0;
  unsigned flags = 0;  // PreciseFlag bits: where the model's assumptions fail
  // Resolved echoes at the same offset, modelled so that they do not pull the delay.
  struct Path {
    double delay = 0.0;            // seconds
    double relativePowerDb = 0.0;  // over the main path
  };
  std::vector<Path> paths;
};

// Why a precise estimate's deviations may not hold. ModelMismatch is set with every reason, so
// that callers who want one answer read one bit.
enum PreciseFlag : unsigned {
  ModelMismatch = 1u << 0,
  // The peak is wider than the band explains: paths closer than a lobe's width.
  LobeTooWide = 1u << 1,
  // The second recording's power spectrum bends against the first's across the band: an echo
  // much closer than the lobe, or receivers whose responses differ.
  SpectrumBends = 1u << 2,
  // Nothing seen, but nothing could be: the peak is too wide to show an echo within ordinary
  // multipath delays (a narrow band), or lines shared by both recordings hold nearly all the
  // power.
  EchoesUnseen = 1u << 3,
  // The parts of the segment disagree about the drift's line far beyond their deviations.
  PartsDisagree = 1u << 4,
};

// The reasons set in `flags`, as JSON and messages name them, in bit order.
std::vector<const char*> preciseFlagNames(unsigned flags);

// The fewest samples the precise estimate works on; with fewer, or when no band of the spectrum
// holds a significant signal, the refined values come back with infinite deviations.
inline constexpr int MinPreciseSamples = 256;

PreciseEstimate estimatePrecisely(const PreciseRequest& request, PrecisePrimitives& primitives);

}  // namespace kestrav
