#include "engine/search_parameters.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/host/errors.hpp"

namespace kestrav {
namespace {

TEST(LagWindow, Derivations) {
  const struct {
    double rate, centre, window;
    int centreLag, lagCount, firstLag;
  } cases[] = {
      {1.0, 0.0, 10.5, 0, 12, -6},      // ceiled to 11, raised to even
      {1.0, 0.0, 12.0, 0, 12, -6},      // already even
      {1.0, -0.5, 4.0, -1, 4, -3},      // floor, not truncation toward zero
      {1.0, 100.0, 20.0, 100, 20, 90},  // lag index 0 is 90 samples, 19 is 109
      {1e6, 123.4e-6, 400e-6, 123, 400, -77},
      {1e6, 0.0, 1e-9, 0, 2, -1},  // the smallest window still spans two lags
  };
  for (const auto& c : cases) {
    const LagWindow window = deriveLagWindow(c.rate, c.centre, c.window);
    EXPECT_EQ(window.centreLag, c.centreLag) << c.window;
    EXPECT_EQ(window.lagCount, c.lagCount) << c.window;
    EXPECT_EQ(window.firstLag, c.firstLag) << c.window;
  }
}

TEST(LagWindow, CountsBeyond32BitsAreRejected) {
  EXPECT_THROW(deriveLagWindow(1e6, 1e6, 1.0), InputError);  // centre 1e12 samples
  EXPECT_THROW(deriveLagWindow(1e6, -1e6, 1.0), InputError);
  EXPECT_THROW(deriveLagWindow(1e6, 0.0, 3000.0), InputError);           // 3e9 lags
  EXPECT_THROW(deriveLagWindow(1e300, 0.0, 1e300), InputError);          // not finite
  EXPECT_THROW(deriveLagWindow(1.0, 2147483000.0, 2000.0), InputError);  // last lag overflows
  EXPECT_NO_THROW(deriveLagWindow(1.0, 2147483000.0, 1000.0));
}

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

TEST(ValidateSearch, RejectsWhatTheSearchCannotRun) {
  const struct {
    const char* what;
    void (*change)(SearchParameters&);
  } cases[] = {
      {"sample count 0", [](SearchParameters& p) { p.sampleCount = 0; }},
      {"sample count < 0", [](SearchParameters& p) { p.sampleCount = -5; }},
      {"rate 0", [](SearchParameters& p) { p.sampleRate = 0.0; }},
      {"rate nan", [](SearchParameters& p) { p.sampleRate = nan; }},
      {"rate inf", [](SearchParameters& p) { p.sampleRate = inf; }},
      {"window < 0", [](SearchParameters& p) { p.delayWindow = -1e-6; }},
      {"centre nan", [](SearchParameters& p) { p.centreDelay = nan; }},
      {"span 0", [](SearchParameters& p) { p.frequencySpan = 0.0; }},
      {"threshold nan", [](SearchParameters& p) { p.peakThreshold = nan; }},
      {"min delay inf", [](SearchParameters& p) { p.minAbsDelay = inf; }},
      {"min offset nan", [](SearchParameters& p) { p.minAbsFrequency = nan; }},
      {"second segment beyond int", [](SearchParameters& p) { p.sampleCount = 2147483600; }},
  };
  const auto valid = [] {
    SearchParameters p;
    p.sampleCount = 1000;
    p.sampleRate = 1e6;
    p.delayWindow = 1e-4;
    p.frequencySpan = 16384.0;
    p.peakThreshold = 10.0;
    return p;
  };
  for (const auto& c : cases) {
    SearchParameters p = valid();
    c.change(p);
    EXPECT_THROW(validateSearch(p), InputError) << c.what;
  }
  EXPECT_EQ(validateSearch(valid()).lagCount, 100);
}

}  // namespace
}  // namespace kestrav
