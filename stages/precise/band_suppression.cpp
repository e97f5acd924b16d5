#include "stages/precise/band_suppression.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "platform/host/fftw_plans.hpp"

namespace kestrav {
namespace {

// A window's leakage spreads a band over a few more bins than its excess shows.
constexpr int Widen = 4;
// The gain eases from full depth to none over this many bins on either side: a step would ring
// through the whole record, and the ringing cut off at its ends would leave part of the band
// behind.
constexpr int Ease = 8;

// The smallest length of the form 2^a 3^b 5^c at least `least`: fast transforms, little padding.
std::size_t smoothLength(std::size_t least) {
  std::size_t best = std::size_t{1} << 62;
  for (std::size_t p5 = 1; p5 < best; p5 *= 5) {
    for (std::size_t p3 = p5; p3 < best; p3 *= 3) {
      std::size_t length = p3;
      while (length < least) length *= 2;
      best = std::min(best, length);
    }
  }
  return best;
}

// Per bin of the cross-spectrum, how far to turn it down: the excess, widened by a few bins,
// then eased in and out (a raised cosine over its logarithm) beyond that.
std::vector<double> depthOf(std::span<const double> excess) {
  const int length = static_cast<int>(excess.size());
  const auto at = [&](int k) { return static_cast<std::size_t>(((k % length) + length) % length); };
  std::vector<double> wide(excess.size(), 0.0);  // logarithms
  for (int k = 0; k < length; ++k) {
    double largest = 1.0;
    for (int d = -Widen - Ease; d <= Widen + Ease; ++d)
      largest = std::max(largest, excess[at(k + d)]);
    wide[at(k)] = std::log(largest);
  }
  std::vector<double> depth(excess.size(), 1.0);
  double total = 0.0;
  for (int d = -Ease; d <= Ease; ++d) total += 1.0 + std::cos(std::numbers::pi * d / (Ease + 1));
  for (int k = 0; k < length; ++k) {
    if (wide[at(k)] == 0.0) continue;
    double sum = 0.0;
    for (int d = -Ease; d <= Ease; ++d) {
      sum += (1.0 + std::cos(std::numbers::pi * d / (Ease + 1))) * wide[at(k + d)];
    }
    depth[at(k)] = std::exp(sum / total);
  }
  return depth;
}

// Per bin of the recording's own frame (bin k + shiftBins is the cross-spectrum's bin k): the
// gain that turns its excess down.
std::vector<double> gainOf(const std::vector<double>& depth, int shiftBins) {
  const int length = static_cast<int>(depth.size());
  std::vector<double> gain(depth.size(), 1.0);
  for (int k = 0; k < length; ++k) {
    gain[static_cast<std::size_t>(((k + shiftBins) % length + length) % length)] =
        1.0 / depth[static_cast<std::size_t>(k)];
  }
  return gain;
}

// Multiplies the samples' spectrum by `gain` (frame bins, read linearly between them), zero
// padded by a frame so that the filter's response does not wrap one end onto the other.
void filterWhole(std::vector<float2>& samples, const std::vector<double>& gain) {
  const std::size_t count = samples.size();
  const int frame = static_cast<int>(gain.size());
  const std::size_t length = smoothLength(count + static_cast<std::size_t>(frame));
  auto buffer = makeFftwArray<fftwf_complex>(length, "the band filter's transform");
  FftwfPlan forward, inverse;
  {
    std::lock_guard lock(fftwPlannerLock());
    forward.reset(fftwf_plan_dft_1d(static_cast<int>(length), buffer.get(), buffer.get(),
                                    FFTW_FORWARD, FFTW_ESTIMATE));
    inverse.reset(fftwf_plan_dft_1d(static_cast<int>(length), buffer.get(), buffer.get(),
                                    FFTW_BACKWARD, FFTW_ESTIMATE));
  }
  for (std::size_t i = 0; i < length; ++i) {
    buffer[i][0] = i < count ? samples[i].x : 0.0f;
    buffer[i][1] = i < count ? samples[i].y : 0.0f;
  }
  fftwf_execute(forward.get());
  const auto frameGain = [&](long long k) {
    return gain[static_cast<std::size_t>(((k % frame) + frame) % frame)];
  };
  for (std::size_t j = 0; j < length; ++j) {
    const double cycles = (2 * j < length ? static_cast<double>(j)
                                          : static_cast<double>(j) - static_cast<double>(length)) /
                          static_cast<double>(length);
    const double at = cycles * frame;
    const double below = std::floor(at);
    const double fraction = at - below;
    const auto k = static_cast<long long>(below);
    const double g = ((1.0 - fraction) * frameGain(k) + fraction * frameGain(k + 1)) /
                     static_cast<double>(length);
    buffer[j][0] = static_cast<float>(buffer[j][0] * g);
    buffer[j][1] = static_cast<float>(buffer[j][1] * g);
  }
  fftwf_execute(inverse.get());
  for (std::size_t i = 0; i < count; ++i) samples[i] = float2{buffer[i][0], buffer[i][1]};
}

// The runs of bins standing SuppressedExcess or more over the other recording that the holder's
// own power shows as a band: over the bins beside the run it stands up, while the other's stays
// about level. A notch in the other recording (an echo's, at a high SNR) lifts the quotient as
// much, but there the other's power drops and the holder's does not; such runs are set to 1.
// `holder` and `other` are the two recordings' power spectra with the cross-spectrum's bin k at
// k + holderShift and k + otherShift.
std::vector<double> confirmedBands(std::span<const double> excess, std::span<const double2> holder,
                                   int holderShift, std::span<const double2> other,
                                   int otherShift) {
  const int length = static_cast<int>(excess.size());
  const auto at = [&](int k) { return static_cast<std::size_t>(((k % length) + length) % length); };
  std::vector<double> kept(excess.begin(), excess.end());
  const double stands = std::sqrt(SuppressedExcess);
  for (int k = 0; k < length;) {
    if (excess[at(k)] < SuppressedExcess) {
      ++k;
      continue;
    }
    int end = k;
    while (end < length && excess[at(end)] >= SuppressedExcess) ++end;
    const int beside = std::max(16, (end - k) / 2);
    double holderIn = 0.0, otherIn = 0.0, holderBeside = 0.0, otherBeside = 0.0;
    for (int j = k; j < end; ++j) {
      holderIn += holder[at(j + holderShift)].x / (end - k);
      otherIn += other[at(j + otherShift)].x / (end - k);
    }
    for (int d = 1; d <= beside; ++d) {
      for (const int j : {k - Widen - d, end - 1 + Widen + d}) {
        holderBeside += holder[at(j + holderShift)].x / (2 * beside);
        otherBeside += other[at(j + otherShift)].x / (2 * beside);
      }
    }
    const bool band = holderIn > stands * holderBeside && otherIn * stands > otherBeside;
    if (!band) {
      for (int j = k; j < end; ++j) kept[at(j)] = 1.0;
    }
    k = end;
  }
  return kept;
}

bool holdsBand(std::span<const double> excess) {
  return std::any_of(excess.begin(), excess.end(), [](double e) { return e >= SuppressedExcess; });
}

}  // namespace

SuppressedBands suppressOneSidedBands(const PreciseSegments& segments, const PreciseLayout& layout,
                                      const OneSidedExcess& excess,
                                      std::span<const double2> firstPower,
                                      std::span<const double2> secondPower, int shiftBins) {
  SuppressedBands suppressed;
  const std::vector<double> inFirst =
      confirmedBands(excess.first, firstPower, 0, secondPower, shiftBins);
  const std::vector<double> inSecond =
      confirmedBands(excess.second, secondPower, shiftBins, firstPower, 0);
  const bool first = holdsBand(inFirst), second = holdsBand(inSecond);
  if (!first && !second) return suppressed;
  suppressed.copies = copySegments(segments, layout);
  suppressed.depth.assign(excess.first.size(), 1.0);
  const auto filter = [&](std::vector<float2>& samples, std::span<const double> side, int shift) {
    const std::vector<double> depth = depthOf(side);
    filterWhole(samples, gainOf(depth, shift));
    for (std::size_t k = 0; k < depth.size(); ++k) {
      suppressed.depth[k] = std::max(suppressed.depth[k], depth[k]);
    }
    ++suppressed.recordings;
  };
  if (first) filter(suppressed.copies.first, inFirst, 0);
  if (second) filter(suppressed.copies.second, inSecond, shiftBins);
  return suppressed;
}

}  // namespace kestrav
