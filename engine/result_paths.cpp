#include "engine/result_paths.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "engine/copy_measures.hpp"

namespace kestrav {
namespace {

// Within 2 dB the copies' strengths, each holding some of the other's delay sidelobes and each
// fading on its own, say little of which one is the direct path.
constexpr double AboutEqualDb = -2.0;

// Shaped signals' first delay sidelobes reach about -16 dB. Weaker than that, a result one
// recording seems to hold as a copy is as well the delay sidelobe of an echo, or of a peak that
// merges an echo too close to resolve (whose recording's self-ambiguity it bends), and stays
// as it was classed.
constexpr double CopyFloor = 0.158;  // |A| ratio: -16 dB

// A cell's deviation in units of which a copy's self-ambiguity must stand above its noise: at 4
// a lone cell of noise exceeds it with probability e^-16.
constexpr double CopyDeviations = 4.0;

// A copy's peak between the coarse cells: where it lies and how strong it is there.
struct CopyPeak {
  double delay = 0.0;      // seconds
  double frequency = 0.0;  // hertz
  double strength = 0.0;   // |A|
};

// |A| at the lag for each offset, with the second segment's mean taken once.
std::vector<double> strengthsAt(const ProbeContext& context, int lag,
                                const std::vector<double>& frequencies,
                                const SegmentMoments& first) {
  const std::int64_t n = context.sampleCount;
  return withPair(context.pair, [&](const auto* a, const auto* b) {
    const Cell mean = momentsOf(b + lag, n).mean;
    std::vector<double> strengths;
    for (const double f : frequencies) {
      strengths.push_back(
          std::abs(crossCell(a, b + lag, n, f / context.sampleRate, first.mean, mean)));
    }
    return strengths;
  });
}

CopyPeak peakOf(const ProbeContext& context, const SearchCandidate& candidate,
                const SegmentMoments& first) {
  const int lag = candidate.lagIndex;
  // An unrefined offset lies anywhere in its coarse bin: the best of nine across it.
  std::vector<double> frequencies{candidate.frequencyOffset};
  const double step = binSpacing(context.sizes) / 8.0;
  for (int d = -4; !candidate.refined && step > 0.0 && d <= 4; ++d) {
    if (d != 0) frequencies.push_back(candidate.frequencyOffset + d * step);
  }
  const std::vector<double> strengths = strengthsAt(context, lag, frequencies, first);
  const auto best = static_cast<std::size_t>(std::max_element(strengths.begin(), strengths.end()) -
                                             strengths.begin());
  CopyPeak peak{candidate.delay, frequencies[best], strengths[best]};
  // Copies fall at different fractions of a sample: a parabola through the lag and its
  // neighbours compares their peaks rather than wherever the lags happened to sample them.
  if (lag < 1 || lag + 1 >= context.window.lagCount) return peak;
  const double before = strengthsAt(context, lag - 1, {peak.frequency}, first)[0];
  const double after = strengthsAt(context, lag + 1, {peak.frequency}, first)[0];
  const double bend = before - 2.0 * peak.strength + after;
  if (!(bend < 0.0) || before > peak.strength || after > peak.strength) return peak;
  const double fraction = 0.5 * (before - after) / bend;
  peak.strength -= 0.25 * (before - after) * fraction;
  if (!candidate.refined) {
    peak.delay = (context.window.firstLag + lag + fraction) / context.sampleRate;
  }
  return peak;
}

// How much of a copy each recording holds at the two results' delay difference. A copy in the
// second recording gives its self-ambiguity there |A_i A_j| / E_s, E_s the emission's energy in
// the first, at most the first's energy E_1; one in the first gives the first's |A_i A_j| / E_2
// at least. Each is given over that least (1 or more for a copy), or 0 within its noise. Two
// different emissions at one offset leave both at their noise.
struct CopyEvidence {
  double first = 0.0;
  double second = 0.0;
};

template <class Sample>
double standingOut(Cell cell, const Sample* a, const Sample* b, std::int64_t count) {
  const double deviation = std::sqrt(productPower(a, b, count));
  return std::abs(cell) > CopyDeviations * deviation ? std::abs(cell) : 0.0;
}

CopyEvidence copyEvidence(const ProbeContext& context, int stronger, int weaker,
                          const CopyPeak& strong, const CopyPeak& weak,
                          const SegmentMoments& first) {
  const std::int64_t n = context.sampleCount;
  const double product = strong.strength * weak.strength;
  if (!(product > 0.0)) return {};
  const double f = (weak.frequency - strong.frequency) / context.sampleRate;
  return withPair(context.pair, [&](const auto* a, const auto* b) {
    const int shift = weaker - stronger;
    const std::int64_t begin = shift < 0 ? -shift : 0;
    const std::int64_t overlap = n - std::abs(shift);
    const double inFirst =
        standingOut(selfCell(a, n, shift, f, first.mean), a + begin, a + begin + shift, overlap);
    const SegmentMoments second = momentsOf(b + stronger, n);
    const double inSecond =
        standingOut(crossCell(b + stronger, b + weaker, n, f, second.mean, second.mean),
                    b + stronger, b + weaker, n);
    const double e1 = first.energy - static_cast<double>(n) * std::norm(first.mean);
    const double e2 = second.energy - static_cast<double>(n) * std::norm(second.mean);
    return CopyEvidence{inFirst * e2 / product, inSecond * e1 / product};
  });
}

// Beside a copy in the first recording, the first's self-ambiguity holds that copy's own delay
// sidelobes as well: a result the second's self-ambiguity (the emission without the copy)
// predicts beside the stronger, or beside a path of it already found, is one of those, as the
// sidelobe check predicts through the first.
bool sidelobeThroughSecond(const ProbeContext& context, std::span<const SearchCandidate> candidates,
                           std::span<const ResultQuality> qualities,
                           std::span<const double> strength, std::size_t stronger,
                           std::size_t weaker) {
  const std::int64_t n = context.sampleCount;
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    const bool pathOf = qualities[k].resultClass == ResultClass::Path &&
                        qualities[k].explainedBy == static_cast<int>(stronger);
    if (k != stronger && !pathOf) continue;
    const double f =
        (candidates[weaker].frequencyOffset - candidates[k].frequencyOffset) / context.sampleRate;
    const double prediction = withPair(context.pair, [&](const auto*, const auto* b) {
      const auto* from = b + candidates[k].lagIndex;
      const SegmentMoments moments = momentsOf(from, n);
      const double energy = moments.energy - static_cast<double>(n) * std::norm(moments.mean);
      const Cell self =
          crossCell(from, b + candidates[weaker].lagIndex, n, f, moments.mean, moments.mean);
      const double share = std::clamp(qualities[k].correlation, 1e-3, 1.0);
      return energy > 0.0 ? strength[k] * std::abs(self) / (share * energy) : 0.0;
    });
    if (strength[weaker] <= 2.0 * prediction) return true;
  }
  return false;
}

// An echo lies on one side of the direct path; the emission's own delay sidelobes lie on both
// alike (|R(-d)| = |R(d)|). Where one recording's multipath bends its self-ambiguity, a sidelobe
// can seem held by one recording alone: its mirror across the stronger result, as strong, tells
// it. Without the mirror in the window, only an emitter (not explained by the first recording)
// may pass.
bool oneSided(const ProbeContext& context, int strongLag, int copyLag, double frequency,
              const SegmentMoments& first, bool emitter) {
  const int mirrorLag = 2 * strongLag - copyLag;
  if (mirrorLag < 0 || mirrorLag >= context.window.lagCount) return emitter;
  const double mirror = fullRateCell(context, mirrorLag, frequency, first).strength;
  return mirror < 0.5 * fullRateCell(context, copyLag, frequency, first).strength;
}

// The two copies' strengths and delay difference, each with the other's sidelobes taken out
// where they share an offset (within a quarter of the full-rate resolution), else as their peaks
// came.
CopyMeasures measuresOf(const ProbeContext& context, std::span<const SearchCandidate> candidates,
                        std::span<const ResultQuality> qualities, std::size_t stronger,
                        std::size_t weaker, const CopyPeak& strong, const CopyPeak& copy,
                        bool inFirst) {
  const double resolution = context.sampleRate / static_cast<double>(context.sampleCount);
  if (std::fabs(copy.frequency - strong.frequency) <= 0.25 * resolution) {
    // Both copies' cells hold the emission: together, about its share of either recording.
    const double share = std::clamp(
        std::hypot(qualities[stronger].correlation, qualities[weaker].correlation), 1e-3, 1.0);
    const std::optional<CopyMeasures> measured =
        measureCopies(context, candidates[stronger].lagIndex, candidates[weaker].lagIndex,
                      strong.frequency, inFirst, share);
    if (measured && measured->strongStrength > 0.0) return *measured;
  }
  return {strong.strength, copy.strength, copy.delay - strong.delay};
}

}  // namespace

void classifyPaths(const ProbeContext& context, std::span<const SearchCandidate> candidates,
                   std::span<ResultQuality> qualities, std::span<const double> strength) {
  const std::size_t count = candidates.size();
  if (count < 2 || context.sampleCount <= 0) return;
  const SegmentMoments first = firstMoments(context);
  std::vector<std::optional<CopyPeak>> peaks(count);
  const auto peak = [&](std::size_t r) -> const CopyPeak& {
    if (!peaks[r]) peaks[r] = peakOf(context, candidates[r], first);
    return *peaks[r];
  };
  // The weaker's offset is its coarse bin's, up to half a bin from the truth, and a peak may
  // straddle into the next bin: 1.5 spacings hold one emission's copies. Emissions further apart
  // are told apart by the coarse search itself; closer ones by the copy evidence below.
  const double tolerance = 1.5 * binSpacing(context.sizes);
  const std::vector<std::size_t> order = strongestFirst(strength);
  for (std::size_t o = 1; o < count; ++o) {
    const std::size_t j = order[o];
    ResultQuality& weak = qualities[j];
    const bool emitter = weak.resultClass == ResultClass::Emitter;
    if (j == 0 || !(emitter || weak.resultClass == ResultClass::Sidelobe)) continue;
    for (std::size_t p = 0; p < o; ++p) {
      const std::size_t i = order[p];
      if (qualities[i].resultClass != ResultClass::Emitter) continue;
      if (!emitter && weak.explainedBy != static_cast<int>(i)) continue;
      if (!(std::fabs(candidates[j].frequencyOffset - candidates[i].frequencyOffset) <=
            tolerance)) {
        continue;
      }
      // Within a lag or so the two are one peak's main lobe.
      if (std::abs(candidates[j].lagIndex - candidates[i].lagIndex) < 2) continue;
      // A sidelobe is explained through the first recording: only its copy there makes a path,
      // and not where the second predicts it as well (the cheaper test, first).
      if (!emitter && sidelobeThroughSecond(context, candidates, qualities, strength, i, j)) break;
      const CopyPeak& strong = peak(i);
      const CopyPeak& copy = peak(j);
      if (!(copy.strength >= CopyFloor * strong.strength)) break;
      const CopyEvidence evidence = copyEvidence(context, candidates[i].lagIndex,
                                                 candidates[j].lagIndex, strong, copy, first);
      // The copy in one recording alone: in both, it is the emission's own structure (a cyclic
      // prefix, a repeated preamble), which stays a sidelobe.
      const bool inFirst = evidence.first >= 0.5 && evidence.second < 0.5 * evidence.first;
      const bool inSecond = evidence.second >= 0.5 && evidence.first < 0.5 * evidence.second;
      if (!inFirst && !inSecond) continue;
      if (!emitter && !inFirst) break;
      if (!oneSided(context, candidates[i].lagIndex, candidates[j].lagIndex, strong.frequency,
                    first, emitter)) {
        continue;
      }
      const CopyMeasures measured =
          measuresOf(context, candidates, qualities, i, j, strong, copy, inFirst);
      const double delay = measured.delay;
      const RunnerUp other{candidates[j].delay, candidates[j].frequencyOffset, weak.correlation};
      const double deviation =
          cellDeviation(context, candidates[i].lagIndex, measured.strongStrength);
      const double relativeDb = 20.0 * std::log10(measured.copyStrength / measured.strongStrength);
      if (!(relativeDb < AboutEqualDb) ||
          measured.copyStrength >= measured.strongStrength - 3.0 * deviation) {
        if (i == 0) markAmbiguous(qualities[0], other);
        break;
      }
      weak.resultClass = ResultClass::Path;
      weak.explainedBy = static_cast<int>(i);
      weak.path = PathMeasures{relativeDb, delay, inFirst};
      // An echo arrives after the direct path at its receiver: a weaker copy that arrived
      // first there is the likelier direct path, and the best's delay may be an echo's.
      const bool arrivedFirst = inSecond ? delay < 0.0 : delay > 0.0;
      if (i == 0 && arrivedFirst) markAmbiguous(qualities[0], other);
      break;
    }
  }
}

}  // namespace kestrav
