#pragma once
// The refinement's contract: one candidate's segments in, a frequency and a delay correction out.
#include <vector>

#include "platform/host/sample_segments.hpp"
#include "platform/host/vector_types.hpp"

namespace kestrav {

// One fine estimate's input: the first segment and the second segment's samples from the
// candidate's lag on, sampleCount samples each.
struct FineRequest {
  SegmentPointers segments;
  int sampleCount = 0;
  double sampleRate = 0.0;       // hertz
  double frequencyOffset = 0.0;  // hertz: the candidate's offset, removed from the second segment
  int traceHalfWidth = 0;        // zoom points kept on each side of the maximum (0: none)
};

struct FineEstimate {
  double correction = 0.0;  // hertz or seconds, added to the candidate
  int zoomIndex = -1;       // the strongest zoom point; -1 when no zoom ran
  int zoomPoints = 0;       // number of zoom points evaluated
  double gridStart = 0.0;   // where zoom point 0 lies (hertz or seconds, as the correction)
  double gridStep = 0.0;    // the true spacing of the zoom points (span / zoomPoints)
  // The zoom's power at points traceFirst .. traceFirst + trace.size() - 1: the maximum and up to
  // traceHalfWidth points on each side, when the request asks for them.
  int traceFirst = 0;
  std::vector<double> trace;
};

// The two corrections of one candidate: the frequency first, then the delay estimated with the
// second segment shifted down by the corrected frequency offset.
struct Refinement {
  FineEstimate frequency;
  FineEstimate delay;
};

// The refinement's order: the frequency estimate first, then the delay estimated with the second
// segment shifted down by the corrected frequency offset.
template <class EstimateFrequency, class EstimateDelay>
Refinement refineInTurn(const FineRequest& request, EstimateFrequency&& frequency,
                        EstimateDelay&& delay) {
  Refinement refinement;
  refinement.frequency = frequency(request);
  FineRequest shifted = request;
  shifted.frequencyOffset += refinement.frequency.correction;
  refinement.delay = delay(shifted);
  return refinement;
}

}  // namespace kestrav
