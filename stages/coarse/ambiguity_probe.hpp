#pragma once
// Single cells of the full-rate cross-ambiguity, evaluated directly in double precision: the
// checks that decide what a coarse peak is (an alias, a sidelobe, the DC ridge, a comb tooth)
// need the surface at points the decimated search cannot see.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/host/vector_types.hpp"

namespace kestrav {

using Cell = std::complex<double>;

inline Cell toComplex(short2 s) { return {static_cast<double>(s.x), static_cast<double>(s.y)}; }
inline Cell toComplex(float2 s) { return {static_cast<double>(s.x), static_cast<double>(s.y)}; }

// a b and conj(a) b written out: the library's complex product checks every result for infinities
// through a call, which costs more than the sums themselves here.
inline Cell times(Cell a, Cell b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}
inline Cell conjTimes(Cell a, Cell b) {
  return {a.real() * b.real() + a.imag() * b.imag(), a.real() * b.imag() - a.imag() * b.real()};
}

// e^{-j 2 pi f n} for n = 0, 1, ...: a rotation re-anchored every block, so that the phase
// error stays at rounding level however long the recording.
class PhaseRamp {
 public:
  explicit PhaseRamp(double cyclesPerSample) : f_(cyclesPerSample) {}
  template <class Visit>
  void run(std::int64_t count, Visit&& visit) const;

 private:
  double f_;
};

template <class Visit>
void PhaseRamp::run(std::int64_t count, Visit&& visit) const {
  constexpr std::int64_t Block = 1024;
  const double twoPi = 6.283185307179586;
  const Cell step = std::polar(1.0, -twoPi * f_);
  for (std::int64_t start = 0; start < count; start += Block) {
    // The phase of `start` reduced first: f * start can be large.
    const double turns = f_ * static_cast<double>(start);
    Cell rotation = std::polar(1.0, -twoPi * (turns - std::floor(turns)));
    const std::int64_t end = std::min(count, start + Block);
    for (std::int64_t n = start; n < end; ++n) {
      visit(n, rotation);
      rotation = times(rotation, step);
    }
  }
}

// The D-point forward DFT of the polyphase sums: image k at index k. Throws ResourceError when
// the transform cannot be planned.
std::vector<Cell> transformPhases(std::vector<Cell> phases);

// sum over n < count of conj(a[n] - ma) (b[n] - mb) e^{-j 2 pi f n}, f in cycles per sample:
// with the segments' means as ma and mb, the cell without the DC ridge.
template <class Sample>
Cell crossCell(const Sample* a, const Sample* b, std::int64_t count, double f, Cell ma = {},
               Cell mb = {}) {
  Cell sum = 0.0;
  PhaseRamp(f).run(count, [&](std::int64_t n, Cell rotation) {
    sum += times(conjTimes(toComplex(a[n]) - ma, toComplex(b[n]) - mb), rotation);
  });
  return sum;
}

// The same sum at every image f + k / D, k = 0 .. D-1, at once: the terms are gathered into D
// polyphase sums, whose D-point DFT gives every image (e^{-j 2 pi k n / D} depends on n mod D).
template <class Sample>
std::vector<Cell> imageCells(const Sample* a, const Sample* b, std::int64_t count, double f,
                             int D) {
  std::vector<Cell> phases(static_cast<std::size_t>(D), Cell{});
  std::size_t phase = 0;  // n mod D, kept without a division per sample
  PhaseRamp(f).run(count, [&](std::int64_t n, Cell rotation) {
    phases[phase] += times(conjTimes(toComplex(a[n]), toComplex(b[n])), rotation);
    if (++phase == static_cast<std::size_t>(D)) phase = 0;
  });
  return transformPhases(std::move(phases));
}

// The mean of count samples and their total power.
struct SegmentMoments {
  Cell mean;
  double energy = 0.0;
};
template <class Sample>
SegmentMoments momentsOf(const Sample* a, std::int64_t count) {
  SegmentMoments m{};
  for (std::int64_t n = 0; n < count; ++n) {
    const Cell v = toComplex(a[n]);
    m.mean += v;
    m.energy += std::norm(v);
  }
  if (count > 0) m.mean /= static_cast<double>(count);
  return m;
}

// sum of |conj(a[n]) b[n]|^2: the power a cross cell of these segments has when the product
// is white, the scale of its noise.
template <class Sample>
double productPower(const Sample* a, const Sample* b, std::int64_t count) {
  double sum = 0.0;
  for (std::int64_t n = 0; n < count; ++n)
    sum += std::norm(toComplex(a[n])) * std::norm(toComplex(b[n]));
  return sum;
}

// The self-ambiguity of one recording of `count` samples at a shift of `lag` samples and f
// cycles per sample, over the samples where both ends lie in the recording.
// The recording's mean is taken out first: its DC would otherwise explain every cell at 0 Hz.
template <class Sample>
Cell selfCell(const Sample* a, std::int64_t count, std::int64_t lag, double f, Cell mean) {
  const std::int64_t begin = lag < 0 ? -lag : 0;
  const std::int64_t end = lag > 0 ? count - lag : count;
  if (end <= begin) return 0.0;
  return crossCell(a + begin, a + begin + lag, end - begin, f, mean, mean);
}

// One lag's product summed in runs of D, M sums: the coarse search's decimated row, in double.
template <class Sample>
std::vector<Cell> decimatedRow(const Sample* a, const Sample* b, int D, int M) {
  std::vector<Cell> row(static_cast<std::size_t>(M));
  for (int m = 0; m < M; ++m) {
    Cell sum = 0.0;
    const std::int64_t start = static_cast<std::int64_t>(m) * D;
    for (std::int64_t n = start; n < start + D; ++n)
      sum += conjTimes(toComplex(a[n]), toComplex(b[n]));
    row[static_cast<std::size_t>(m)] = sum;
  }
  return row;
}

// The powers of the row zero-padded to L points and transformed; bin j lies at
// binFrequency(j, L, fs_dec). Throws ResourceError when the transform cannot be planned.
std::vector<double> spectrumPower(std::span<const Cell> row, std::uint64_t L);

}  // namespace kestrav
