#include "engine/copy_measures.hpp"

#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <numbers>

namespace kestrav {
namespace {

// Below this determinant (|rho| above about 0.84) the two parts are too alike to separate.
constexpr double MinSeparation = 0.3;

// Lags either side of each copy looked at for its peak once the other's part is out, and for
// interpolating a narrow lobe between lags.
constexpr int Reach = 2;
constexpr int SincReach = 4;

// The peak of three magnitudes a lag apart: its height and its place from the middle one, or
// the middle one where the three do not bend down.
struct Vertex {
  double height = 0.0;
  double fraction = 0.0;
};
Vertex vertexOf(double before, double middle, double after) {
  const double bend = before - 2.0 * middle + after;
  if (!(bend < 0.0) || before > middle || after > middle) return {middle, 0.0};
  const double fraction = 0.5 * (before - after) / bend;
  return {middle - 0.25 * (before - after) * fraction, fraction};
}

// The peak of |sum_k y(k) sinc(x - k)| over |x| <= 1, from the cells within SincReach lags:
// within a few tenths of a decibel where a lobe about a lag wide falls between lags.
template <class Cells>
Vertex sincPeak(Cells&& y) {
  std::array<Cell, 2 * SincReach + 1> values{};
  for (int k = -SincReach; k <= SincReach; ++k)
    values[static_cast<std::size_t>(k + SincReach)] = y(k);
  const auto at = [&](double x) {
    Cell sum = 0.0;
    for (int k = -SincReach; k <= SincReach; ++k) {
      const double t = std::numbers::pi * (x - k);
      sum += values[static_cast<std::size_t>(k + SincReach)] *
             (std::fabs(t) < 1e-9 ? 1.0 : std::sin(t) / t);
    }
    return std::abs(sum);
  };
  Vertex best{at(0.0), 0.0};
  for (int step = -100; step <= 100; ++step) {
    const double x = step / 100.0;
    const double height = at(x);
    if (height > best.height) best = {height, x};
  }
  return best;
}

}  // namespace

std::optional<CopyMeasures> measureCopies(const ProbeContext& context, int strongLag, int copyLag,
                                          double frequency, bool copyInFirst, double share) {
  const std::int64_t n = context.sampleCount;
  const int lags = context.window.lagCount;
  const double omega = 2.0 * std::numbers::pi * frequency / context.sampleRate;
  const SegmentMoments first = firstMoments(context);
  return withPair(context.pair, [&](const auto* a, const auto* b) -> std::optional<CopyMeasures> {
    // The cells with the offset's turn per lag taken out, so that both copies share one phase:
    // A(l) = e^{j omega l} (x_strong rho(l - strong) + x_copy rho(l - copy)).
    std::map<int, Cell> cells;
    const auto cell = [&](int lag) {
      const auto [at, added] = cells.try_emplace(lag);
      if (added) {
        const Cell mean = momentsOf(b + lag, n).mean;
        at->second = crossCell(a, b + lag, n, frequency / context.sampleRate, first.mean, mean) *
                     std::polar(1.0, -omega * lag);
      }
      return at->second;
    };
    // rho(shift): the emission's autocorrelation over its energy, from the recording without
    // the copy. The second carries the offset, which turns its self-ambiguity by omega per lag.
    const SegmentMoments clean = copyInFirst ? momentsOf(b, n) : first;
    const double energy = share * (clean.energy - static_cast<double>(n) * std::norm(clean.mean));
    if (!(energy > 0.0)) return std::nullopt;
    std::map<int, Cell> rhos;
    // rho(-d) = conj(rho(d)): only shifts of 0 and above are read.
    const auto rho = [&](int shift) -> Cell {
      const int apart = std::abs(shift);
      const auto [at, added] = rhos.try_emplace(apart);
      if (added) {
        at->second = copyInFirst ? crossCell(b, b + apart, n, 0.0, clean.mean, clean.mean) *
                                       std::polar(1.0, -omega * apart) / energy
                                 : selfCell(a, n, apart, 0.0, first.mean) / energy;
      }
      return shift < 0 ? std::conj(at->second) : at->second;
    };
    const auto inside = [&](int lag, int reach) { return lag >= reach && lag + reach < lags; };
    int strong = strongLag;
    int copy = copyLag;
    Cell strongPart;
    Cell copyPart;
    // A copy's cells with the other's part taken out.
    const auto alone = [&](int lag, int other, Cell otherPart) {
      return cell(lag) - otherPart * rho(lag - other);
    };
    // Each cell holds the other copy's part through rho: both solved at once, and solved again
    // where taking the other's part out moved a copy's peak to another lag.
    bool settled = false;
    for (int pass = 0; pass < 3 && !settled; ++pass) {
      if (!inside(strong, Reach) || !inside(copy, Reach)) return std::nullopt;
      const Cell r = rho(copy - strong);
      const double determinant = 1.0 - std::norm(r);
      if (!(determinant > MinSeparation)) return std::nullopt;
      strongPart = (cell(strong) - std::conj(r) * cell(copy)) / determinant;
      copyPart = (cell(copy) - r * cell(strong)) / determinant;
      const auto peakMove = [&](int at, int other, Cell otherPart) {
        int best = 0;
        for (int k = -Reach; k <= Reach; ++k) {
          if (std::abs(alone(at + k, other, otherPart)) >
              std::abs(alone(at + best, other, otherPart))) {
            best = k;
          }
        }
        return best;
      };
      const int strongMove = peakMove(strong, copy, copyPart);
      const int copyMove = peakMove(copy, strong, strongPart);
      settled = strongMove == 0 && copyMove == 0;
      strong += strongMove;
      copy += copyMove;
      if (strong == copy) return std::nullopt;
    }
    if (!settled) return std::nullopt;
    // A lobe a few lags wide is a parabola near its top; one about a lag wide (an emission
    // filling the band) is not, and is read between lags by band-limited interpolation.
    const bool narrow =
        std::abs(rho(1)) < 0.5 && inside(strong, SincReach) && inside(copy, SincReach);
    const auto peakOf = [&](int at, int other, Cell otherPart) {
      if (narrow) return sincPeak([&](int k) { return alone(at + k, other, otherPart); });
      return vertexOf(std::abs(alone(at - 1, other, otherPart)),
                      std::abs(alone(at, other, otherPart)),
                      std::abs(alone(at + 1, other, otherPart)));
    };
    const Vertex s = peakOf(strong, copy, copyPart);
    const Vertex c = peakOf(copy, strong, strongPart);
    return CopyMeasures{s.height, c.height,
                        (copy + c.fraction - strong - s.fraction) / context.sampleRate};
  });
}

}  // namespace kestrav
