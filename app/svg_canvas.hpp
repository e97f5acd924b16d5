#pragma once
// Drawing into an SVG document: data-space axes with ticks and labels, polylines, markers and
// text, with every text escaped.
#include <string>
#include <vector>

namespace kestrav {

struct AxisRange {
  double low = 0.0;
  double high = 1.0;
};

// Tick positions 1, 2 or 5 times a power of ten apart, about `count` of them inside the range.
std::vector<double> niceTicks(AxisRange range, int count);

class SvgCanvas {
 public:
  SvgCanvas(int width, int height);
  // A plotting area at (left, top) of the given size in pixels, mapping x and y ranges.
  struct Panel {
    double left, top, width, height;
    AxisRange x, y;
  };
  void axes(const Panel& panel, const std::string& xLabel, const std::string& yLabel);
  // A line through the points; points whose y is not finite break the line.
  void polyline(const Panel& panel, const std::vector<double>& xs, const std::vector<double>& ys,
                const std::string& colour);
  void horizontalLine(const Panel& panel, double y, const std::string& colour, bool dashed);
  void marker(const Panel& panel, double x, double y, const std::string& colour);
  void text(double x, double y, const std::string& content, int size, const std::string& anchor,
            const std::string& colour = "#222");
  void dataText(const Panel& panel, double x, double y, const std::string& content,
                const std::string& colour);
  // A filled rectangle and a line, in pixels.
  void rect(double x, double y, double width, double height, const std::string& fill);
  void line(double x1, double y1, double x2, double y2, const std::string& colour);
  // Where a data point lands, in pixels.
  static double pixelX(const Panel& panel, double x) { return toPixelX(panel, x); }
  static double pixelY(const Panel& panel, double y) { return toPixelY(panel, y); }
  std::string finish();

 private:
  static double toPixelX(const Panel& panel, double x);
  static double toPixelY(const Panel& panel, double y);
  std::string body_;
  int width_;
  int height_;
};

}  // namespace kestrav
