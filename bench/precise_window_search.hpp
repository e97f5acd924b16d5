#pragma once
// The search both precise-estimate benchmarks run on a generated pair: 64 lags round 24 us at
// 1 MHz, threshold 10 dB, every refined result estimated precisely; the first recording's
// segment starts `extra` samples in, so that the second has real samples on both sides.
#include "engine/search_driver.hpp"
#include "engine/search_parameters.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {

inline SearchRun preciseWindowSearch(const SamplePairInt16& recordings, int samples, int extra,
                                     double sampleRate, int traceHalfWidth,
                                     ComputeBackend& backend) {
  SearchParameters parameters;
  parameters.sampleCount = samples;
  parameters.sampleRate = sampleRate;
  parameters.centreDelay = 24e-6;
  parameters.delayWindow = 64.0 / sampleRate;
  parameters.frequencySpan = 16384.0;
  parameters.peakThreshold = 10.0;
  parameters.refine = true;
  const LagWindow window = validateSearch(parameters);
  SamplePair pair;
  const auto firstStart = recordings.first.begin() + extra;
  const auto secondStart = recordings.second.begin() + extra + window.firstLag;
  pair.first.assign(firstStart, firstStart + samples);
  pair.second.assign(secondStart, secondStart + samples + window.lagCount);
  DriverOptions driver;
  driver.traceHalfWidth = traceHalfWidth;
  driver.precise = true;
  return runSearch(pair, parameters, window, backend, driver);
}

}  // namespace kestrav
