#include "batch/track_plot.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "app/svg_canvas.hpp"

namespace kestrav::batch::merge {
namespace {

constexpr int Width = 1100;
constexpr int RowHeight = 270;
constexpr int Top = 50;

struct Series {
  std::vector<double> ts, values, sigmas;  // sigma NaN where unknown
  double reference = 0.0;
};

// The ok points of one quantity about a round reference near their mean (a multiple of
// `quantum`), times `scale`: drifts of nanoseconds on delays of microseconds stay readable.
Series seriesOf(const Track& track, bool delay, double quantum, double scale) {
  Series series;
  double sum = 0.0;
  for (const TrackPoint& point : track.points) {
    const std::optional<double>& value = delay ? point.delay : point.offset;
    const std::optional<double>& sigma = delay ? point.sigmaDelay : point.sigmaOffset;
    if (point.status != "ok" || !value) continue;
    series.ts.push_back(point.tMid);
    series.values.push_back(*value);
    series.sigmas.push_back(sigma ? *sigma * scale : std::numeric_limits<double>::quiet_NaN());
    sum += *value;
  }
  if (!series.values.empty()) {
    series.reference =
        std::round(sum / static_cast<double>(series.values.size()) / quantum) * quantum;
  }
  for (double& value : series.values) value = (value - series.reference) * scale;
  return series;
}

std::string referenceLabel(const char* what, double value, int decimals, const char* unit,
                           const char* scaledUnit) {
  char text[128];
  std::snprintf(text, sizeof text, "%s %s %.*f %s (%s)", what, value < 0 ? "+" : "\u2212", decimals,
                std::fabs(value), unit, scaledUnit);
  return text;
}

// The values with their error bars, padded; a flat series gets a span of its own size.
AxisRange valueRange(const Series& series) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (std::size_t i = 0; i < series.values.size(); ++i) {
    const double bar = std::isfinite(series.sigmas[i]) ? series.sigmas[i] : 0.0;
    low = std::min(low, series.values[i] - bar);
    high = std::max(high, series.values[i] + bar);
  }
  if (!std::isfinite(low) || !std::isfinite(high)) return {0.0, 1.0};
  if (!(high - low > 1e-12 * std::max(1.0, std::fabs(high)))) {
    const double half = std::max(1e-9, 1e-6 * std::fabs(high));
    low -= half;
    high += half;
  }
  const double margin = 0.08 * (high - low);
  return {low - margin, high + margin};
}

void drawSeries(SvgCanvas& canvas, const SvgCanvas::Panel& panel, const Series& series,
                const std::string& colour) {
  for (std::size_t i = 0; i < series.ts.size(); ++i) {
    if (std::isfinite(series.sigmas[i])) {
      const double px = SvgCanvas::pixelX(panel, series.ts[i]);
      const auto py = [&](double y) {
        return SvgCanvas::pixelY(panel, std::clamp(y, panel.y.low, panel.y.high));
      };
      const double lowY = py(series.values[i] - series.sigmas[i]);
      const double highY = py(series.values[i] + series.sigmas[i]);
      canvas.line(px, lowY, px, highY, colour);
      canvas.line(px - 4, lowY, px + 4, lowY, colour);
      canvas.line(px - 4, highY, px + 4, highY, colour);
    }
  }
  canvas.polyline(panel, series.ts, series.values, colour);
  for (std::size_t i = 0; i < series.ts.size(); ++i) {
    canvas.marker(panel, series.ts[i], series.values[i], colour);
  }
}

}  // namespace

std::string renderTrackPlot(const std::vector<Track>& tracks, const std::string& title) {
  const int rows = std::max<int>(1, static_cast<int>(tracks.size()));
  SvgCanvas canvas(Width, Top + rows * RowHeight);
  canvas.text(Width / 2.0, 26, title, 16, "middle");
  // One time axis for every panel, so that the rows line up.
  double first = std::numeric_limits<double>::infinity();
  double last = -first;
  for (const Track& track : tracks) {
    for (const TrackPoint& point : track.points) {
      first = std::min(first, point.tMid);
      last = std::max(last, point.tMid);
    }
  }
  if (!std::isfinite(first)) first = last = 0.0;
  const double pad = last > first ? 0.04 * (last - first) : 0.5;
  const AxisRange time{first - pad, last + pad};
  if (tracks.empty()) canvas.text(Width / 2.0, Top + 40, "no pairs in the plan", 13, "middle");
  for (std::size_t r = 0; r < tracks.size(); ++r) {
    const Track& track = tracks[r];
    const double top = Top + static_cast<double>(r) * RowHeight;
    std::size_t ok = 0;
    for (const TrackPoint& point : track.points) ok += point.status == "ok" ? 1 : 0;
    canvas.text(Width / 2.0, top + 14,
                track.first + " \u2192 " + track.second + ": " + std::to_string(ok) + " ok of " +
                    std::to_string(track.points.size()) + " windows (error bars: one deviation)",
                13, "middle");
    const Series delays = seriesOf(track, true, 1e-9, 1e9);
    const Series offsets = seriesOf(track, false, 0.1, 1.0);
    const SvgCanvas::Panel delayPanel{110,  top + 26,          400, RowHeight - 90.0,
                                      time, valueRange(delays)};
    const SvgCanvas::Panel offsetPanel{660,  top + 26,           400, RowHeight - 90.0,
                                       time, valueRange(offsets)};
    canvas.axes(delayPanel, "campaign time (s)",
                referenceLabel("delay", delays.reference * 1e6, 3, "\u00b5s", "ns"));
    canvas.axes(offsetPanel, "campaign time (s)",
                referenceLabel("offset", offsets.reference, 1, "Hz", "Hz"));
    drawSeries(canvas, delayPanel, delays, "#1f5fbf");
    drawSeries(canvas, offsetPanel, offsets, "#c0392b");
  }
  return canvas.finish();
}

}  // namespace kestrav::batch::merge
