#include "engine/result_classes.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "engine/result_paths.hpp"
#include "stages/coarse/ambiguity_probe.hpp"

namespace kestrav {
namespace {

double powerRatio(double a, double b) { return b > 0.0 ? a / b : (a > 0.0 ? INFINITY : 1.0); }

// The best result is ambiguous beside another emitter of its strength within three deviations of
// its cell (an echo, a second path).
void weighEchoes(const ProbeContext& context, std::span<const SearchCandidate> candidates,
                 std::span<ResultQuality> qualities, std::span<const double> strength) {
  if (candidates.size() < 2 || qualities[0].resultClass != ResultClass::Emitter) return;
  const double sigma = cellDeviation(context, candidates[0].lagIndex, strength[0]);
  const SegmentMoments first = firstMoments(context);
  const double step = binSpacing(context.sizes) / 8.0;
  for (std::size_t j = 1; j < candidates.size(); ++j) {
    if (qualities[j].resultClass != ResultClass::Emitter || strength[j] < 0.5 * strength[0]) {
      continue;
    }
    // An unrefined competitor's offset lies anywhere in its coarse bin: its cell is taken at the
    // best of nine offsets across the bin, as the best's was refined.
    double competitor = strength[j];
    for (int d = -4; d <= 4 && step > 0.0; ++d) {
      competitor =
          std::max(competitor, fullRateCell(context, candidates[j].lagIndex,
                                            candidates[j].frequencyOffset + d * step, first)
                                   .strength);
    }
    if (competitor < strength[0] - 3.0 * sigma) continue;
    // Another path of about the best's strength: which is the direct one cannot be said here.
    markAmbiguous(qualities[0], RunnerUp{candidates[j].delay, candidates[j].frequencyOffset,
                                         qualities[j].correlation});
  }
}

}  // namespace

const char* resultClassName(ResultClass resultClass) {
  switch (resultClass) {
    case ResultClass::Sidelobe:
      return "sidelobe";
    case ResultClass::Dc:
      return "dc";
    case ResultClass::Noise:
      return "noise";
    case ResultClass::Path:
      return "path";
    case ResultClass::Emitter:
      break;
  }
  return "emitter";
}

double noiseLevelDb(const CoarseSizes& sizes, int lagCount, double falseAlarm) {
  const double cells = static_cast<double>(std::max(1, sizes.decimatedLength)) *
                       static_cast<double>(std::max(1, lagCount));
  // Each cell may exceed ratio r with probability e^-r; the search as a whole with falseAlarm.
  const double perCell = -std::expm1(std::log1p(-falseAlarm) / cells);
  return 10.0 * std::log10(std::max(1e-300, -std::log(perCell)));
}

void checkAlias(const ProbeContext& context, SearchCandidate& candidate, ResultQuality& quality) {
  quality.coarseFrequency = candidate.frequencyOffset;
  const int D = context.sizes.decimation;
  if (D <= 1 || context.sampleCount <= 0) return;
  const double fs = context.sampleRate;
  const std::vector<Cell> images = withPair(context.pair, [&](const auto* a, const auto* b) {
    return imageCells(a, b + candidate.lagIndex, context.sampleCount,
                      candidate.frequencyOffset / fs, D);
  });
  quality.aliasChecked = true;
  std::size_t best = 0;
  for (std::size_t k = 1; k < images.size(); ++k) {
    if (std::norm(images[k]) > std::norm(images[best])) best = k;
  }
  double second = 0.0;
  for (std::size_t k = 0; k < images.size(); ++k) {
    if (k != best) second = std::max(second, std::norm(images[k]));
  }
  // Noise makes every image alike; a tone stands out in one of them.
  if (!(powerRatio(std::norm(images[best]), second) >= 4.0)) {
    quality.aliasAmbiguous = true;
    return;
  }
  if (best == 0) return;
  double frequency =
      candidate.frequencyOffset + static_cast<double>(best) * context.sizes.decimatedRate;
  if (frequency > fs / 2.0) frequency -= fs;
  candidate.frequencyOffset = frequency;
  quality.aliasMoved = true;
}

void weighCompetitors(const ProbeContext& context, SearchCandidate& best, ResultQuality& quality,
                      int traceHalfWidth, ComputeBackend& backend) {
  const CoarseSizes& sizes = context.sizes;
  const std::uint64_t L = sizes.fftLength;
  if (sizes.decimatedLength <= 0 || L < 8) return;
  const int lag = best.lagIndex;
  const std::vector<Cell> row = withPair(context.pair, [&](const auto* a, const auto* b) {
    return decimatedRow(a, b + lag, sizes.decimation, sizes.decimatedLength);
  });
  const std::vector<double> power = spectrumPower(row, L);
  const auto length = static_cast<long long>(L);
  const auto binOf = [&](double frequency) {
    const long long j = std::llround(frequency / sizes.decimatedRate * static_cast<double>(L));
    return static_cast<std::size_t>(((j % length) + length) % length);
  };
  const std::size_t home = binOf(quality.coarseFrequency);
  const auto at = [&](long long j) {
    return power[static_cast<std::size_t>((j + length) % length)];
  };
  // Peaks of the same lag within 6 dB and clear of the home bin's main lobe: comb teeth.
  std::vector<std::size_t> rivals;
  for (long long j = 0; j < length; ++j) {
    const long long apart = std::min((j - static_cast<long long>(home) + length) % length,
                                     (static_cast<long long>(home) - j + length) % length);
    const double p = at(j);
    if (apart >= 3 && p >= at(j - 1) && p > at(j + 1) && p >= 0.25 * power[home]) {
      rivals.push_back(static_cast<std::size_t>(j));
    }
  }
  if (rivals.empty()) return;
  std::sort(rivals.begin(), rivals.end(),
            [&](std::size_t x, std::size_t y) { return power[x] > power[y]; });
  if (rivals.size() > 3) rivals.resize(3);

  // The alias move found for the best applies to the teeth of its lag alike.
  const double shift =
      std::round((best.frequencyOffset - quality.coarseFrequency) / sizes.decimatedRate) *
      sizes.decimatedRate;
  const SegmentMoments first = firstMoments(context);
  FullRateCell bestCell = fullRateCell(context, lag, best.frequencyOffset, first);
  SearchCandidate rival;
  FullRateCell rivalCell;
  rivalCell.strength = -1.0;
  for (const std::size_t j : rivals) {
    SearchCandidate tooth = best;
    tooth.delay = static_cast<double>(context.window.firstLag + lag) / context.sampleRate;
    tooth.frequencyOffset = binFrequency(j, L, sizes.decimatedRate) + shift;
    tooth.precise.reset();
    refineCandidate(tooth, context.pair, context.sampleCount, context.sampleRate, traceHalfWidth,
                    backend);
    const FullRateCell cell = fullRateCell(context, lag, tooth.frequencyOffset, first);
    if (cell.strength > rivalCell.strength) {
      rival = tooth;
      rivalCell = cell;
    }
  }
  if (rivalCell.strength > bestCell.strength) {
    std::swap(best, rival);
    std::swap(bestCell, rivalCell);
  }
  quality.runnerUp = RunnerUp{rival.delay, rival.frequencyOffset, rivalCell.correlation};
  // The cell's deviation: what of the product is not the tone at the best offset.
  const double sigma = cellDeviation(context, lag, bestCell.strength);
  quality.ambiguous = bestCell.strength - rivalCell.strength <= 3.0 * sigma;
}

void flagEdges(const ProbeContext& context, std::span<const SearchCandidate> candidates,
               std::span<ResultQuality> qualities) {
  const CoarseSizes& sizes = context.sizes;
  const double halfBand = sizes.decimatedRate / 2.0;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    ResultQuality& quality = qualities[i];
    const int lag = candidates[i].lagIndex;
    quality.atDelayEdge =
        context.window.lagCount > 1 && (lag == 0 || lag == context.window.lagCount - 1);
    // With no decimation the band is the whole rate and has no edge.
    const bool edgeBin = sizes.decimation > 1 &&
                         std::fabs(quality.coarseFrequency) > halfBand - 1.5 * binSpacing(sizes);
    const bool settled = quality.aliasChecked && !quality.aliasAmbiguous;
    quality.atFrequencyEdge = edgeBin && !settled;
  }
}

void classifyResults(const ProbeContext& context, std::span<const SearchCandidate> candidates,
                     std::span<ResultQuality> qualities, double falseAlarm) {
  const std::size_t count = candidates.size();
  if (count == 0 || context.sampleCount <= 0) return;
  const std::int64_t n = context.sampleCount;
  const double fs = context.sampleRate;
  const SegmentMoments first = firstMoments(context);
  const double firstEnergy = first.energy - static_cast<double>(n) * std::norm(first.mean);
  const double noiseLevel = noiseLevelDb(context.sizes, context.window.lagCount, falseAlarm);
  std::vector<double> strength(count);
  for (std::size_t i = 0; i < count; ++i) {
    const SearchCandidate& candidate = candidates[i];
    ResultQuality& quality = qualities[i];
    const FullRateCell cell =
        fullRateCell(context, candidate.lagIndex, candidate.frequencyOffset, first);
    strength[i] = cell.strength;
    quality.correlation = cell.correlation;
    quality.classified = true;
    quality.explainedBy = -1;
    quality.resultClass = ResultClass::Emitter;
    if (!(candidate.level >= noiseLevel)) {
      quality.resultClass = ResultClass::Noise;
      continue;
    }
    // The DC ridge: at 0 Hz, and gone once the means are out of the product.
    if (std::fabs(candidate.frequencyOffset) <= 1.5 * binSpacing(context.sizes)) {
      const Cell whole = withPair(context.pair, [&](const auto* a, const auto* b) {
        return crossCell(a, b + candidate.lagIndex, n, 0.0);
      });
      const Cell centred = whole - static_cast<double>(n) * std::conj(first.mean) * cell.secondMean;
      if (std::norm(centred) < 0.25 * std::norm(whole)) quality.resultClass = ResultClass::Dc;
    }
  }
  // A sidelobe is what a stronger emitter's own ambiguity puts there: the first recording's
  // self-ambiguity at the differences, scaled by the emitter's cell.
  const std::vector<std::size_t> order = strongestFirst(strength);
  for (std::size_t o = 0; o < count; ++o) {
    const std::size_t j = order[o];
    if (qualities[j].resultClass != ResultClass::Emitter) continue;
    double bestPrediction = 0.0;
    for (std::size_t p = 0; p < o; ++p) {
      const std::size_t i = order[p];
      if (qualities[i].resultClass != ResultClass::Emitter || firstEnergy <= 0.0) continue;
      const Cell self = withPair(context.pair, [&](const auto* a, const auto*) {
        return selfCell(a, n, candidates[j].lagIndex - candidates[i].lagIndex,
                        (candidates[j].frequencyOffset - candidates[i].frequencyOffset) / fs,
                        first.mean);
      });
      // The emitter holds only part of the first recording's energy: about its correlation
      // coefficient's share when both receivers see it alike.
      const double share = std::clamp(qualities[i].correlation, 1e-3, 1.0);
      const double prediction = strength[i] * std::abs(self) / (share * firstEnergy);
      // Within 6 dB of the prediction, or below it: nothing of its own is needed to explain it.
      if (strength[j] <= 2.0 * prediction && prediction > bestPrediction) {
        bestPrediction = prediction;
        qualities[j].resultClass = ResultClass::Sidelobe;
        qualities[j].explainedBy = static_cast<int>(i);
      }
    }
  }
  classifyPaths(context, candidates, qualities, strength);
  weighEchoes(context, candidates, qualities, strength);
}

void removeMeans(SamplePair& pair) {
  const auto centred = [](const auto& samples) {
    Cell mean = 0.0;
    for (const auto& s : samples) mean += toComplex(s);
    if (!samples.empty()) mean /= static_cast<double>(samples.size());
    std::vector<float2> out(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const Cell v = toComplex(samples[i]) - mean;
      out[i] = float2{static_cast<float>(v.real()), static_cast<float>(v.imag())};
    }
    return out;
  };
  if (pair.floatSamples) {
    pair.firstFloat = centred(pair.firstFloat);
    pair.secondFloat = centred(pair.secondFloat);
  } else {
    pair.firstFloat = centred(pair.first);
    pair.secondFloat = centred(pair.second);
    pair.first.clear();
    pair.second.clear();
    pair.floatSamples = true;
  }
}

SurfacePatch coarseNeighbourhood(const ProbeContext& context, const SearchCandidate& candidate,
                                 const ResultQuality& quality, int halfLags, int halfBins) {
  const CoarseSizes& sizes = context.sizes;
  SurfacePatch patch;
  if (sizes.decimatedLength <= 0 || sizes.fftLength == 0) return patch;
  const auto L = static_cast<long long>(sizes.fftLength);
  const int binsHalf = static_cast<int>(std::min<long long>(halfBins, (L - 1) / 2));
  patch.firstLagIndex = std::max(0, candidate.lagIndex - halfLags);
  const int lastLag = std::min(context.window.lagCount - 1, candidate.lagIndex + halfLags);
  patch.lags = std::max(0, lastLag - patch.firstLagIndex + 1);
  patch.bins = 2 * binsHalf + 1;
  patch.binSpacing = binSpacing(sizes);
  const long long centre = std::llround(quality.coarseFrequency / patch.binSpacing);
  const double shift =
      std::round((candidate.frequencyOffset - quality.coarseFrequency) / sizes.decimatedRate) *
      sizes.decimatedRate;
  patch.firstFrequency = static_cast<double>(centre - binsHalf) * patch.binSpacing + shift;
  patch.levels.resize(static_cast<std::size_t>(patch.lags) * patch.bins);
  for (int k = 0; k < patch.lags; ++k) {
    const int lag = patch.firstLagIndex + k;
    const std::vector<Cell> row = withPair(context.pair, [&](const auto* a, const auto* b) {
      return decimatedRow(a, b + lag, sizes.decimation, sizes.decimatedLength);
    });
    const std::vector<double> power = spectrumPower(row, sizes.fftLength);
    const double total = std::accumulate(power.begin(), power.end(), 0.0);
    for (int b = 0; b < patch.bins; ++b) {
      const long long j = ((centre - binsHalf + b) % L + L) % L;
      const double p = power[static_cast<std::size_t>(j)];
      patch.levels[static_cast<std::size_t>(k) * patch.bins + b] =
          static_cast<float>(10.0 * std::log10(static_cast<double>(L) * p / total));
    }
  }
  return patch;
}

std::vector<float> coarseSurfaceMap(const ProbeContext& context) {
  const CoarseSizes& sizes = context.sizes;
  const std::uint64_t L = sizes.fftLength;
  const auto lags = static_cast<std::size_t>(context.window.lagCount);
  std::vector<float> map(lags * L, 0.0f);
  if (sizes.decimatedLength <= 0 || L == 0) return map;
  for (std::size_t k = 0; k < lags; ++k) {
    const std::vector<Cell> row = withPair(context.pair, [&](const auto* a, const auto* b) {
      return decimatedRow(a, b + k, sizes.decimation, sizes.decimatedLength);
    });
    const std::vector<double> power = spectrumPower(row, L);
    const double total = std::accumulate(power.begin(), power.end(), 0.0);
    for (std::uint64_t t = 0; t < L; ++t) {
      // Column t holds bin (t + L/2 + 1) mod L: from -(L/2 - 1) up to +L/2.
      const double p = power[(t + L / 2 + 1) % L];
      map[k * L + t] = static_cast<float>(10.0 * std::log10(static_cast<double>(L) * p / total));
    }
  }
  return map;
}

}  // namespace kestrav
