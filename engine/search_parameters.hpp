#pragma once
// The nine scalar parameters of a search, and the delay window in samples derived from them.

namespace kestrav {

struct SearchParameters {
  int sampleCount = 0;           // samples of the first recording to correlate; lowered by loading
  double sampleRate = 0.0;       // hertz, both recordings
  double centreDelay = 0.0;      // seconds: centre of the delay window
  double delayWindow = 0.0;      // seconds: total width of the delay window
  double frequencySpan = 0.0;    // hertz: the band the coarse search must cover
  double minAbsDelay = 0.0;      // seconds: candidates with a smaller |delay| are dropped
  double minAbsFrequency = 0.0;  // hertz: candidates with a smaller |offset| are dropped
  double peakThreshold = 0.0;    // decibels: lags below this level are not peaks
  bool refine = false;           // refine the best candidate
};

// Lag index k of the window stands for a delay of firstLag + k samples.
struct LagWindow {
  int centreLag = 0;
  int lagCount = 0;  // even whenever positive
  int firstLag = 0;
};

// floor(fs * centre), ceil(fs * window) raised to even, centreLag - lagCount / 2. Throws
// InputError when a product is not finite or a count does not fit a 32-bit signed integer.
LagWindow deriveLagWindow(double sampleRate, double centreDelay, double delayWindow);

// Rejects what the search cannot run on (throws InputError with the reason): non-finite
// values, a sample rate, sample count, window or span not above zero, a lag window or a second
// segment (sampleCount + lagCount) beyond 32-bit counts. Returns the derived window.
LagWindow validateSearch(const SearchParameters& parameters);

}  // namespace kestrav
