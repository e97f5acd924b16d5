#include "app/svg_canvas.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestrav {
namespace {

std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        // Control characters are not allowed in XML text.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
    }
  }
  return out;
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// A tick label with as many decimals as the tick spacing needs.
std::string tickLabel(double value, double step) {
  const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step))), 0, 9);
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, std::fabs(value) < step * 1e-9 ? 0.0 : value);
  return text;
}

}  // namespace

std::vector<double> niceTicks(AxisRange range, int count) {
  std::vector<double> ticks;
  const double span = range.high - range.low;
  if (!(span > 0.0) || !std::isfinite(span) || count < 1) return ticks;
  const double rough = span / count;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  const double fraction = rough / power;
  const double step = (fraction < 1.5   ? 1.0
                       : fraction < 3.5 ? 2.0
                       : fraction < 7.5 ? 5.0
                                        : 10.0) *
                      power;
  for (double tick = std::ceil(range.low / step) * step; tick <= range.high + step * 1e-9;
       tick += step) {
    ticks.push_back(tick);
  }
  return ticks;
}

SvgCanvas::SvgCanvas(int width, int height) : width_(width), height_(height) {}

double SvgCanvas::toPixelX(const Panel& panel, double x) {
  return panel.left + (x - panel.x.low) / (panel.x.high - panel.x.low) * panel.width;
}

double SvgCanvas::toPixelY(const Panel& panel, double y) {
  return panel.top + panel.height - (y - panel.y.low) / (panel.y.high - panel.y.low) * panel.height;
}

void SvgCanvas::axes(const Panel& panel, const std::string& xLabel, const std::string& yLabel) {
  const double right = panel.left + panel.width;
  const double bottom = panel.top + panel.height;
  body_ += "<rect x=\"" + number(panel.left) + "\" y=\"" + number(panel.top) + "\" width=\"" +
           number(panel.width) + "\" height=\"" + number(panel.height) +
           "\" fill=\"#fbfbfd\" stroke=\"#444\"/>\n";
  // Narrow panels get fewer ticks, so that their labels keep apart.
  const std::vector<double> xTicks =
      niceTicks(panel.x, std::clamp(static_cast<int>(panel.width / 70), 3, 8));
  const double xStep = xTicks.size() > 1 ? xTicks[1] - xTicks[0] : 1.0;
  for (const double tick : xTicks) {
    const double px = toPixelX(panel, tick);
    body_ += "<line x1=\"" + number(px) + "\" y1=\"" + number(panel.top) + "\" x2=\"" + number(px) +
             "\" y2=\"" + number(bottom) + "\" stroke=\"#e2e2e8\"/>\n";
    body_ += "<line x1=\"" + number(px) + "\" y1=\"" + number(bottom) + "\" x2=\"" + number(px) +
             "\" y2=\"" + number(bottom + 5) + "\" stroke=\"#444\"/>\n";
    text(px, bottom + 18, tickLabel(tick, xStep), 11, "middle");
  }
  const std::vector<double> yTicks = niceTicks(panel.y, 6);
  const double yStep = yTicks.size() > 1 ? yTicks[1] - yTicks[0] : 1.0;
  for (const double tick : yTicks) {
    const double py = toPixelY(panel, tick);
    body_ += "<line x1=\"" + number(panel.left) + "\" y1=\"" + number(py) + "\" x2=\"" +
             number(right) + "\" y2=\"" + number(py) + "\" stroke=\"#e2e2e8\"/>\n";
    body_ += "<line x1=\"" + number(panel.left - 5) + "\" y1=\"" + number(py) + "\" x2=\"" +
             number(panel.left) + "\" y2=\"" + number(py) + "\" stroke=\"#444\"/>\n";
    text(panel.left - 8, py + 4, tickLabel(tick, yStep), 11, "end");
  }
  text(panel.left + panel.width / 2, bottom + 38, xLabel, 13, "middle");
  const double labelX = panel.left - 52;
  const double labelY = panel.top + panel.height / 2;
  body_ += "<text x=\"" + number(labelX) + "\" y=\"" + number(labelY) +
           "\" font-family=\"sans-serif\" font-size=\"13\" text-anchor=\"middle\" fill=\"#222\" "
           "transform=\"rotate(-90 " +
           number(labelX) + " " + number(labelY) + ")\">" + escaped(yLabel) + "</text>\n";
}

void SvgCanvas::polyline(const Panel& panel, const std::vector<double>& xs,
                         const std::vector<double>& ys, const std::string& colour) {
  std::string points;
  const auto flush = [&] {
    if (!points.empty()) {
      body_ += "<polyline fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"1.2\" points=\"" +
               points + "\"/>\n";
    }
    points.clear();
  };
  for (std::size_t i = 0; i < xs.size() && i < ys.size(); ++i) {
    if (!std::isfinite(ys[i]) || !std::isfinite(xs[i])) {
      flush();
      continue;
    }
    const double y = std::clamp(ys[i], panel.y.low, panel.y.high);
    points += number(toPixelX(panel, xs[i])) + "," + number(toPixelY(panel, y)) + " ";
  }
  flush();
}

void SvgCanvas::horizontalLine(const Panel& panel, double y, const std::string& colour,
                               bool dashed) {
  if (!(y >= panel.y.low && y <= panel.y.high)) return;
  const double py = toPixelY(panel, y);
  body_ += "<line x1=\"" + number(panel.left) + "\" y1=\"" + number(py) + "\" x2=\"" +
           number(panel.left + panel.width) + "\" y2=\"" + number(py) + "\" stroke=\"" + colour +
           "\" stroke-width=\"1.2\"" + (dashed ? " stroke-dasharray=\"6 4\"" : "") + "/>\n";
}

void SvgCanvas::marker(const Panel& panel, double x, double y, const std::string& colour) {
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  body_ += "<circle cx=\"" + number(toPixelX(panel, x)) + "\" cy=\"" +
           number(toPixelY(panel, std::clamp(y, panel.y.low, panel.y.high))) +
           "\" r=\"4\" fill=\"" + colour + "\" stroke=\"#fff\"/>\n";
}

void SvgCanvas::text(double x, double y, const std::string& content, int size,
                     const std::string& anchor, const std::string& colour) {
  body_ += "<text x=\"" + number(x) + "\" y=\"" + number(y) +
           "\" font-family=\"sans-serif\" font-size=\"" + std::to_string(size) +
           "\" text-anchor=\"" + anchor + "\" fill=\"" + colour + "\">" + escaped(content) +
           "</text>\n";
}

void SvgCanvas::dataText(const Panel& panel, double x, double y, const std::string& content,
                         const std::string& colour) {
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  const double px = toPixelX(panel, x);
  // Labels near the right edge run leftwards so that they stay inside the picture.
  const bool leftwards = px > panel.left + panel.width * 0.7;
  text(px + (leftwards ? -8 : 8), toPixelY(panel, std::clamp(y, panel.y.low, panel.y.high)) - 6,
       content, 11, leftwards ? "end" : "start", colour);
}

void SvgCanvas::rect(double x, double y, double width, double height, const std::string& fill) {
  body_ += "<rect x=\"" + number(x) + "\" y=\"" + number(y) + "\" width=\"" + number(width) +
           "\" height=\"" + number(height) + "\" fill=\"" + fill + "\"/>\n";
}

void SvgCanvas::line(double x1, double y1, double x2, double y2, const std::string& colour) {
  body_ += "<line x1=\"" + number(x1) + "\" y1=\"" + number(y1) + "\" x2=\"" + number(x2) +
           "\" y2=\"" + number(y2) + "\" stroke=\"" + colour + "\" stroke-width=\"0.8\"/>\n";
}

std::string SvgCanvas::finish() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
         std::to_string(width_) + "\" height=\"" + std::to_string(height_) + "\" viewBox=\"0 0 " +
         std::to_string(width_) + " " + std::to_string(height_) + "\">\n" +
         "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n" + body_ + "</svg>\n";
}

}  // namespace kestrav
