#include "app/label_layout.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrav {

double labelWidth(const std::string& text, double fontSize) {
  std::size_t characters = 0;
  for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) == 0x80 ? 0 : 1;
  return static_cast<double>(characters) * fontSize * 0.62;
}

bool overlaps(const LabelBox& a, const LabelBox& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

std::vector<LabelBox> placeLabels(const std::vector<LabelRequest>& requests, LabelBox frame) {
  constexpr double Step = 3.0;
  constexpr double Gap = 2.0;  // kept clear round every placed label
  std::vector<LabelBox> placed;
  std::vector<LabelBox> padded;
  for (const LabelRequest& request : requests) {
    const double width = std::min(request.width, frame.width);
    const double height = std::min(request.height, frame.height);
    // Preferred: just above and to the right of the anchor.
    const double preferredX = request.anchorX + 6.0;
    const double preferredY = request.anchorY - 6.0 - height;
    LabelBox best{std::clamp(preferredX, frame.x, frame.x + frame.width - width),
                  std::clamp(preferredY, frame.y, frame.y + frame.height - height), width, height};
    double bestCost = std::numeric_limits<double>::infinity();
    // Every position of a fine grid over the frame, the nearest free one wins.
    for (double y = frame.y; y + height <= frame.y + frame.height + 1e-9; y += Step) {
      for (double x = frame.x; x + width <= frame.x + frame.width + 1e-9; x += Step) {
        const double cost = std::hypot(x - preferredX, (y - preferredY) * 1.5);
        if (cost >= bestCost) continue;
        const LabelBox box{x, y, width, height};
        bool free = true;
        for (const LabelBox& other : padded) free = free && !overlaps(box, other);
        if (free) {
          best = box;
          bestCost = cost;
        }
      }
    }
    placed.push_back(best);
    padded.push_back({best.x - Gap, best.y - Gap, best.width + 2 * Gap, best.height + 2 * Gap});
  }
  return placed;
}

}  // namespace kestrav
