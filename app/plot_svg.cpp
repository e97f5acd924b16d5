#include "app/plot_svg.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "app/label_layout.hpp"
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

// Each class in its own colour, in the markers, the labels and the legend.
const char* classColour(const SearchOutcome& outcome, std::size_t r) {
  if (r >= outcome.qualities.size() || !outcome.qualities[r].classified) return "#d62728";
  switch (outcome.qualities[r].resultClass) {
    case ResultClass::Sidelobe:
      return "#ff7f0e";
    case ResultClass::Dc:
      return "#9467bd";
    case ResultClass::Noise:
      return "#7f7f7f";
    case ResultClass::Path:
      return "#2ca02c";
    case ResultClass::Emitter:
      break;
  }
  return "#d62728";
}

std::string classNote(const SearchOutcome& outcome, std::size_t r) {
  if (r >= outcome.qualities.size() || !outcome.qualities[r].classified) return "";
  const ResultQuality& quality = outcome.qualities[r];
  std::string note = std::string("  ") + resultClassName(quality.resultClass);
  const bool explained =
      quality.resultClass == ResultClass::Sidelobe || quality.resultClass == ResultClass::Path;
  if (explained && quality.explainedBy >= 0) {
    note += " of #" + std::to_string(quality.explainedBy + 1);
  }
  if (quality.ambiguous || quality.aliasAmbiguous) note += " (ambiguous)";
  if (quality.atDelayEdge || quality.atFrequencyEdge) note += " (edge)";
  return note;
}

// Level in decibels to a colour: dark blue through green to yellow over [low, high].
std::string heatColour(double level, double low, double high) {
  static constexpr double Stops[][3] = {
      {68, 1, 84}, {59, 82, 139}, {33, 145, 140}, {94, 201, 98}, {253, 231, 37}};
  double t = high > low ? (level - low) / (high - low) : 0.0;
  t = std::isfinite(t) ? std::clamp(t, 0.0, 1.0) : 0.0;
  const double at = t * 4.0;
  const int i = std::min(3, static_cast<int>(at));
  const double f = at - i;
  char text[16];
  std::snprintf(text, sizeof text, "#%02x%02x%02x",
                static_cast<int>(Stops[i][0] + f * (Stops[i + 1][0] - Stops[i][0])),
                static_cast<int>(Stops[i][1] + f * (Stops[i + 1][1] - Stops[i][1])),
                static_cast<int>(Stops[i][2] + f * (Stops[i + 1][2] - Stops[i][2])));
  return text;
}

// The coarse surface round the best result: delay across, frequency offset up, level as colour.
void drawPatch(SvgCanvas& canvas, const SvgCanvas::Panel& frame, const SurfacePatch& patch,
               const SearchOutcome& outcome, double rate) {
  if (patch.lags <= 0 || patch.bins <= 0) return;
  const auto delayUs = [&](double lagIndex) {
    return (outcome.window.firstLag + lagIndex) / rate * 1e6;
  };
  SvgCanvas::Panel panel = frame;
  panel.x = {delayUs(patch.firstLagIndex - 0.5), delayUs(patch.firstLagIndex + patch.lags - 0.5)};
  panel.y = {patch.firstFrequency - patch.binSpacing / 2,
             patch.firstFrequency + (patch.bins - 0.5) * patch.binSpacing};
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (const float level : patch.levels) {
    if (!std::isfinite(level)) continue;
    low = std::min<double>(low, level);
    high = std::max<double>(high, level);
  }
  canvas.axes(panel, "delay (\u00b5s)", "frequency offset (Hz)");
  low = std::max(low, high - 30.0);  // the colours spent on the top 30 dB
  const double cellWidth = panel.width / patch.lags;
  const double cellHeight = panel.height / patch.bins;
  // Levels in 1 dB steps; neighbouring bins of one colour drawn as one rectangle.
  const auto colourAt = [&](int k, int b) {
    const double level = patch.levels[static_cast<std::size_t>(k) * patch.bins + b];
    return heatColour(std::isfinite(level) ? std::round(level) : level, low, high);
  };
  for (int k = 0; k < patch.lags; ++k) {
    for (int b = 0; b < patch.bins;) {
      const std::string colour = colourAt(k, b);
      int end = b + 1;
      while (end < patch.bins && colourAt(k, end) == colour) ++end;
      canvas.rect(panel.left + k * cellWidth, panel.top + panel.height - end * cellHeight,
                  cellWidth + 0.3, (end - b) * cellHeight + 0.3, colour);
      b = end;
    }
  }
  for (std::size_t r = 0; r < outcome.candidates.size(); ++r) {
    const SearchCandidate& candidate = outcome.candidates[r];
    const double x = delayUs(candidate.lagIndex);
    if (x < panel.x.low || x > panel.x.high) continue;
    const double y = candidate.frequencyOffset;
    if (y < panel.y.low || y > panel.y.high) continue;
    canvas.marker(panel, x, y, classColour(outcome, r));
  }
  canvas.text(panel.left + panel.width / 2, panel.top - 8,
              format("coarse surface round #1, %.1f to %.1f dB", low, high), 13, "middle");
}

}  // namespace

std::string renderPlotSvg(const SearchOutcome& outcome, const SearchParameters& parameters,
                          const std::string& title) {
  const bool zoomPanel = !outcome.candidates.empty() && outcome.candidates[0].refined &&
                         !outcome.candidates[0].refinement.delay.trace.empty() &&
                         !outcome.candidates[0].refinement.frequency.trace.empty();
  const bool patchPanel = outcome.patch.has_value() && outcome.patch->lags > 0;
  SvgCanvas canvas(Width, zoomPanel || patchPanel ? 900 : 520);
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
  // Markers first, then labels placed clear of each other, the best result's nearest.
  std::vector<LabelRequest> requests;
  std::vector<std::string> labels;
  constexpr double LabelSize = 11.0;
  for (std::size_t r = 0; r < outcome.candidates.size(); ++r) {
    const SearchCandidate& candidate = outcome.candidates[r];
    const double x = lagDelayUs(candidate.lagIndex);
    canvas.marker(coarse, x, candidate.level, classColour(outcome, r));
    labels.push_back(format("#%.0f  %.3f \u00b5s  %.3f Hz", static_cast<double>(r + 1),
                            candidate.delay * 1e6, candidate.frequencyOffset) +
                     classNote(outcome, r));
    requests.push_back(
        {SvgCanvas::pixelX(coarse, x),
         SvgCanvas::pixelY(coarse, std::clamp(candidate.level, coarse.y.low, coarse.y.high)),
         labelWidth(labels.back(), LabelSize), LabelSize + 3});
  }
  const std::vector<LabelBox> boxes =
      placeLabels(requests, {coarse.left, coarse.top, coarse.width, coarse.height});
  for (std::size_t r = 0; r < boxes.size(); ++r) {
    const LabelBox& box = boxes[r];
    const double cx = std::clamp(requests[r].anchorX, box.x, box.x + box.width);
    const double cy = std::clamp(requests[r].anchorY, box.y, box.y + box.height);
    // A label pushed away from its marker keeps a leader line to it.
    if (std::hypot(cx - requests[r].anchorX, cy - requests[r].anchorY) > 10.0) {
      canvas.line(requests[r].anchorX, requests[r].anchorY, cx, cy, "#999");
    }
    canvas.text(box.x, box.y + box.height - 3, labels[r], static_cast<int>(LabelSize), "start",
                r == 0 ? "#222" : "#444");
  }
  if (!outcome.qualities.empty() && outcome.qualities[0].classified) {
    double x = coarse.left + coarse.width;
    for (const auto& [name, colour] :
         {std::pair{"noise", "#7f7f7f"}, std::pair{"dc", "#9467bd"},
          std::pair{"sidelobe", "#ff7f0e"}, std::pair{"path", "#2ca02c"},
          std::pair{"emitter", "#d62728"}}) {
      x -= labelWidth(name, 11) + 22;
      canvas.rect(x, coarse.top + coarse.height + 38, 9, 9, colour);
      canvas.text(x + 12, coarse.top + coarse.height + 46, name, 11, "start", "#444");
    }
  }
  canvas.text(Width / 2.0, 48,
              format("%.0f samples at %.0f Hz; coarse bins of %.4g Hz", outcome.sampleCount, rate,
                     outcome.sizes.fftLength > 0 ? outcome.sizes.decimatedRate /
                                                       static_cast<double>(outcome.sizes.fftLength)
                                                 : 0.0),
              12, "middle", "#555");

  if (zoomPanel) {
    const SearchCandidate& best = outcome.candidates[0];
    const Refinement& refinement = best.refinement;
    const double coarseDelay = best.delay - refinement.delay.correction;
    const double coarseFrequency = best.frequencyOffset - refinement.frequency.correction;
    // With the surface round #1 beside them, the zooms share the row three ways.
    const double panelWidth = patchPanel ? (Width - 280.0) / 3 : (Width - 200.0) / 2;
    drawZoom(canvas, {80, 540, panelWidth, 280, {}, {}}, refinement.delay, coarseDelay, 1e6,
             best.delay, "delay (\u00b5s)",
             format("fine delay of #1: %.4f \u00b5s", best.delay * 1e6));
    drawZoom(canvas, {160 + panelWidth, 540, panelWidth, 280, {}, {}}, refinement.frequency,
             coarseFrequency, 1.0, best.frequencyOffset, "frequency offset (Hz)",
             format("fine frequency of #1: %.4f Hz", best.frequencyOffset));
    if (patchPanel) {
      drawPatch(canvas, {240 + 2 * panelWidth, 540, panelWidth, 280, {}, {}}, *outcome.patch,
                outcome, rate);
    }
  } else if (patchPanel) {
    drawPatch(canvas, {80, 540, (Width - 200.0) / 2, 280, {}, {}}, *outcome.patch, outcome, rate);
  }
  return canvas.finish();
}

}  // namespace kestrav
