#pragma once
// A resolved echo: a later (or earlier) copy of the signal at the same frequency offset, whose
// correlation sidelobes would pull the main path's delay. It is found in the weighted
// correlation once the main path's own sidelobes are taken out, and then modelled: each path's
// delay is taken with the other's modelled contribution subtracted.
#include <span>

#include "platform/host/vector_types.hpp"

namespace kestrav {

struct EchoPath {
  bool found = false;
  double delaySamples = 0.0;  // where the echo's correlation peaks
  double2 ratio{0.0, 0.0};    // its complex amplitude over the main path's
};

// `weighted` holds the band-weighted cross-spectrum (transform order), `shape` the weighted
// cross-spectrum one path at no delay would give (the first segment against itself, framed as
// `weighted` is, less its noise floor), `rates` 2 pi f_k. The echo is looked for
// between `lobe` * 1.5 and `reach` samples from `main`, and kept where it stands far above both
// the correlation's noise and what the main path's sidelobes explain.
EchoPath findEcho(std::span<const double2> weighted, std::span<const double2> shape,
                  std::span<const double> rates, double main, double lobe, double reach);

// Both paths' delays, each from the weighted cross-spectrum with the other path's modelled
// contribution (its amplitude times the one-path shape at its delay: the first recording's own
// spectrum as it came, so that the model carries the realised spectrum's ripple) taken out,
// alternately, from `main` and `echo`. A correlation with the other path merely templated would
// settle where both pulls balance; with it subtracted neither pulls.
struct TwoPaths {
  double main = 0.0, echo = 0.0;  // samples
  double2 ratio{0.0, 0.0};        // the echo's amplitude over the main path's
};
TwoPaths separatePaths(std::span<const double2> weighted, std::span<const double2> shape,
                       std::span<const double> rates, double main, double echo);

// The main path's delay as separatePaths finds it, jackknifed over `chunks` runs of the bins
// that carry weight (each left out in turn, the paths separated again without it): the spread
// the two-path model's misfit gives the delay across the band, which its deviation from the
// noise alone leaves out. Samples; 0 where too few bins carry weight.
double jackknifedMainDelay(std::span<const double2> weighted, std::span<const double2> shape,
                           std::span<const double> rates, const TwoPaths& paths, int chunks);

// The correlation's curvature at `main` over the curvature that one path of the band's shape
// gives: about 1 for one path, visibly less where paths closer than the main lobe's width widen
// it, more where they narrow it.
double lobeCurvatureRatio(std::span<const double2> weighted, std::span<const double> shape,
                          std::span<const double> rates, double main);

}  // namespace kestrav
