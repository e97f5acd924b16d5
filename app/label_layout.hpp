#pragma once
// Places text labels beside their anchors so that no two overlap and all stay inside a frame.
#include <string>
#include <vector>

namespace kestrav {

struct LabelBox {
  double x = 0.0;  // left, pixels
  double y = 0.0;  // top, pixels
  double width = 0.0;
  double height = 0.0;
};

struct LabelRequest {
  double anchorX = 0.0;  // the point the label names, pixels
  double anchorY = 0.0;
  double width = 0.0;  // the label's size, pixels
  double height = 0.0;
};

// The width in pixels a label of this text takes at the font size (an average sans-serif
// advance; UTF-8 continuation bytes do not count).
double labelWidth(const std::string& text, double fontSize);

// Boxes for the labels, in request order: each as near its anchor's upper right as it can go
// without overlapping an earlier one, inside `frame`. Earlier requests get the nearer places.
std::vector<LabelBox> placeLabels(const std::vector<LabelRequest>& requests, LabelBox frame);

// Whether two boxes share any area.
bool overlaps(const LabelBox& a, const LabelBox& b);

}  // namespace kestrav
