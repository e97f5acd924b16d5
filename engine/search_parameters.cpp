#include "engine/search_parameters.hpp"

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

bool fitsInt(double value) { return value >= double(INT_MIN) && value <= double(INT_MAX); }

std::string describe(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

}  // namespace

LagWindow deriveLagWindow(double sampleRate, double centreDelay, double delayWindow) {
  const double centreSamples = std::floor(sampleRate * centreDelay);
  if (!std::isfinite(centreSamples) || !fitsInt(centreSamples)) {
    throw InputError("the window centre is " + describe(sampleRate * centreDelay) +
                     " samples, beyond the supported range of 32-bit lags");
  }
  const double windowSamples = std::ceil(sampleRate * delayWindow);
  // The count is raised to even below, so it must stay one below the largest int.
  if (!std::isfinite(windowSamples) || windowSamples < 0.0 || windowSamples > double(INT_MAX - 1)) {
    throw InputError("the delay window is " + describe(sampleRate * delayWindow) +
                     " samples, beyond the supported range of 32-bit lag counts");
  }
  LagWindow window;
  window.centreLag = static_cast<int>(centreSamples);
  window.lagCount = static_cast<int>(windowSamples);
  if (window.lagCount % 2 == 1) ++window.lagCount;
  const long long firstLag = static_cast<long long>(window.centreLag) - window.lagCount / 2;
  const long long lastLag = firstLag + window.lagCount - 1;
  if (firstLag < INT_MIN || lastLag > INT_MAX) {
    throw InputError("the delay window reaches beyond the supported range of 32-bit lags");
  }
  window.firstLag = static_cast<int>(firstLag);
  return window;
}

LagWindow validateSearch(const SearchParameters& p) {
  const struct {
    const char* name;
    double value;
  } finiteChecks[] = {
      {"sample rate", p.sampleRate},       {"window centre", p.centreDelay},
      {"delay window", p.delayWindow},     {"frequency span", p.frequencySpan},
      {"minimum delay", p.minAbsDelay},    {"minimum frequency offset", p.minAbsFrequency},
      {"peak threshold", p.peakThreshold},
  };
  for (const auto& check : finiteChecks) {
    if (!std::isfinite(check.value)) {
      throw InputError(std::string("the ") + check.name + " is not a finite number");
    }
  }
  if (p.sampleCount <= 0) throw InputError("the sample count must be greater than 0");
  if (p.sampleRate <= 0.0) throw InputError("the sample rate must be greater than 0");
  if (p.delayWindow <= 0.0) throw InputError("the delay window must be greater than 0");
  if (p.frequencySpan <= 0.0) throw InputError("the frequency span must be greater than 0");
  const LagWindow window = deriveLagWindow(p.sampleRate, p.centreDelay, p.delayWindow);
  if (static_cast<long long>(p.sampleCount) + window.lagCount > INT_MAX) {
    throw InputError("the sample count plus the " + std::to_string(window.lagCount) +
                     " lags of the window exceeds the supported 32-bit segment length");
  }
  return window;
}

}  // namespace kestrav
