#include "app/plot_svg.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "app/svg_canvas.hpp"

namespace kestrav {
namespace {

constexpr int Width = 1000;
constexpr int DisplayPoints = 1600;  // a line never needs more points than the panel has pixels

struct Series {
  std::vector<double> xs;
  std::vector<double> ys;
};

// Thins a series to about DisplayPoints points, keeping each bucket's lowest and highest point so
// that no peak is lost.
Series thinned(const Series& series) {
  const std::size_t count = series.xs.size();
  if (count <= DisplayPoints) return series;
  Series out;
  const std::size_t buckets = DisplayPoints / 2;
  for (std::size_t b = 0; b < buckets; ++b) {
    const std::size_t begin = b * count / buckets;
    const std::size_t end = (b + 1) * count / buckets;
    std::size_t low = begin, high = begin;
    for (std::size_t i = begin; i < end; ++i) {
      if (!std::isfinite(series.ys[i])) continue;
      if (!std::isfinite(series.ys[low]) || series.ys[i] < series.ys[low]) low = i;
      if (!std::isfinite(series.ys[high]) || series.ys[i] > series.ys[high]) high = i;
    }
    for (const std::size_t i : {std::min(low, high), std::max(low, high)}) {
      out.xs.push_back(series.xs[i]);
      out.ys.push_back(series.ys[i]);
    }
  }
  return out;
}

AxisRange rangeOf(const std::vector<double>& values, double padding) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (const double value : values) {
    if (!std::isfinite(value)) continue;
    low = std::min(low, value);
    high = std::max(high, value);
  }
  if (!std::isfinite(low)) return {0.0, 1.0};
  if (high - low < 1e-300) {
    low -= 0.5;
    high += 0.5;
  }
  const double margin = (high - low) * padding;
  return {low - margin, high + margin};
}

std::string format(const char* pattern, double a, double b = 0.0, double c = 0.0) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, a, b, c);
  return text;
}

// One zoom of a refinement as power in decibels relative to its maximum, against the absolute
// delay in microseconds or frequency offset in hertz.
Series zoomSeries(const FineEstimate& estimate, double origin, double unit) {
  Series series;
  double peak = 0.0;
  for (const double power : estimate.trace) peak = std::max(peak, power);
  for (std::size_t i = 0; i < estimate.trace.size(); ++i) {
    const double at = origin + estimate.gridStart +
                      (estimate.traceFirst + static_cast<double>(i)) * estimate.gridStep;
    series.xs.push_back(at * unit);
    series.ys.push_back(peak > 0.0 ? std::max(-60.0, 10.0 * std::log10(estimate.trace[i] / peak))
                                   : 0.0);
  }
  return series;
}

void drawZoom(SvgCanvas& canvas, const SvgCanvas::Panel& frame, const FineEstimate& estimate,
              double origin, double unit, double chosen, const std::string& xLabel,
              const std::string& caption) {
  const Series series = thinned(zoomSeries(estimate, origin, unit));
  SvgCanvas::Panel panel = frame;
  panel.x = rangeOf(series.xs, 0.02);
  panel.y = {-60.0, 3.0};
  canvas.axes(panel, xLabel, "zoom power (dB re maximum)");
  canvas.polyline(panel, series.xs, series.ys, "#1f5fbf");
  canvas.marker(panel, chosen * unit, 0.0, "#d62728");
  canvas.text(panel.left + panel.width / 2, panel.top - 8, caption, 13, "middle");
}

}  // namespace

std::string renderPlotSvg(const SearchOutcome& outcome, const SearchParameters& parameters,
                          const std::string& title) {
  const bool zoomPanel = !outcome.candidates.empty() && outcome.candidates[0].refined &&
                         !outcome.candidates[0].refinement.delay.trace.empty() &&
                         !outcome.candidates[0].refinement.frequency.trace.empty();
  SvgCanvas canvas(Width, zoomPanel ? 900 : 520);
  canvas.text(Width / 2.0, 28, title, 16, "middle");

  // The coarse surface: level against delay across the window.
  const double rate = parameters.sampleRate;
  const auto lagDelayUs = [&](int lagIndex) {
    return (static_cast<double>(outcome.window.firstLag) + lagIndex) / rate * 1e6;
  };
  Series surface;
  for (const LagCell& cell : outcome.surface) {
    surface.xs.push_back(lagDelayUs(cell.lagIndex));
    surface.ys.push_back(cell.level);
  }
  surface = thinned(surface);
  SvgCanvas::Panel coarse{80, 60, Width - 120.0, 360, {}, {}};
  coarse.x = outcome.surface.empty()
                 ? AxisRange{lagDelayUs(0), lagDelayUs(std::max(1, outcome.window.lagCount - 1))}
                 : rangeOf(surface.xs, 0.0);
  std::vector<double> levels = surface.ys;
  levels.push_back(parameters.peakThreshold);
  coarse.y = rangeOf(levels, 0.08);
  canvas.axes(coarse, "delay of the second recording (\u00b5s)", "coarse level (dB)");
  canvas.polyline(coarse, surface.xs, surface.ys, "#1f5fbf");
  canvas.horizontalLine(coarse, parameters.peakThreshold, "#d62728", true);
  canvas.dataText(coarse, coarse.x.low, parameters.peakThreshold,
                  format("threshold %.1f dB", parameters.peakThreshold), "#d62728");
  for (std::size_t r = 0; r < outcome.candidates.size(); ++r) {
    const SearchCandidate& candidate = outcome.candidates[r];
    const double x = lagDelayUs(candidate.lagIndex);
    canvas.marker(coarse, x, candidate.level, "#d62728");
    canvas.dataText(coarse, x, candidate.level,
                    format("#%.0f  %.3f \u00b5s  %.3f Hz", static_cast<double>(r + 1),
                           candidate.delay * 1e6, candidate.frequencyOffset),
                    "#222");
  }
  canvas.text(Width / 2.0, 48,
              format("%.0f samples at %.0f Hz; coarse bins of %.4g Hz", outcome.sampleCount, rate,
                     outcome.sizes.fftLength > 0
                         ? outcome.sizes.decimatedRate / static_cast<double>(outcome.sizes.fftLength)
                         : 0.0),
              12, "middle", "#555");

  if (zoomPanel) {
    const SearchCandidate& best = outcome.candidates[0];
    const Refinement& refinement = best.refinement;
    const double coarseDelay = best.delay - refinement.delay.correction;
    const double coarseFrequency = best.frequencyOffset - refinement.frequency.correction;
    const double halfWidth = (Width - 200.0) / 2;
    drawZoom(canvas, {80, 540, halfWidth, 280, {}, {}}, refinement.delay, coarseDelay, 1e6,
             best.delay, "delay (\u00b5s)",
             format("fine delay of #1: %.4f \u00b5s", best.delay * 1e6));
    drawZoom(canvas, {160 + halfWidth, 540, halfWidth, 280, {}, {}}, refinement.frequency,
             coarseFrequency, 1.0, best.frequencyOffset, "frequency offset (Hz)",
             format("fine frequency of #1: %.4f Hz", best.frequencyOffset));
  }
  return canvas.finish();
}

}  // namespace kestrav
