// Labels beside their markers: crowded, stacked and edge-hugging anchors all get boxes that stay
// inside the frame and never overlap.
#include "app/label_layout.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace kestrav {
namespace {

TEST(LabelLayout, CrowdedAnchorsGetSeparateBoxesInsideTheFrame) {
  const LabelBox frame{80, 60, 880, 360};
  struct Case {
    const char* name;
    std::vector<LabelRequest> requests;
  };
  const auto same = [](double x, double y, int count) {
    return std::vector<LabelRequest>(static_cast<std::size_t>(count), {x, y, 260, 14});
  };
  std::vector<LabelRequest> row;
  std::vector<LabelRequest> column;
  for (int i = 0; i < 10; ++i) {
    row.push_back({100.0 + 8 * i, 200, 240, 14});
    column.push_back({500, 70.0 + 3 * i, 240, 14});
  }
  const Case cases[] = {
      {"ten on one point", same(500, 200, 10)},
      {"ten on the top right corner", same(960, 60, 10)},
      {"ten on the bottom left corner", same(80, 420, 10)},
      {"a tight row", row},
      {"a tight column at the top", column},
      {"one wider than the frame", {{500, 200, 2000, 14}, {500, 200, 200, 14}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<LabelBox> boxes = placeLabels(c.requests, frame);
    ASSERT_EQ(boxes.size(), c.requests.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      EXPECT_GE(boxes[i].x, frame.x - 1e-9);
      EXPECT_GE(boxes[i].y, frame.y - 1e-9);
      EXPECT_LE(boxes[i].x + boxes[i].width, frame.x + frame.width + 1e-9);
      EXPECT_LE(boxes[i].y + boxes[i].height, frame.y + frame.height + 1e-9);
      for (std::size_t j = 0; j < i; ++j)
        EXPECT_FALSE(overlaps(boxes[i], boxes[j])) << i << " " << j;
    }
  }
}

TEST(LabelLayout, AFreeLabelSitsJustAboveRightOfItsAnchor) {
  const std::vector<LabelBox> boxes = placeLabels({{300, 300, 100, 14}}, {0, 0, 1000, 600});
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NEAR(boxes[0].x, 306, 3.0);
  EXPECT_NEAR(boxes[0].y + boxes[0].height, 294, 3.0);
}

TEST(LabelLayout, WidthCountsCharactersNotBytes) {
  EXPECT_DOUBLE_EQ(labelWidth("\u00b5s", 10.0), labelWidth("us", 10.0));
  EXPECT_GT(labelWidth("#10 -70.000 us", 11.0), labelWidth("#1 0 us", 11.0));
}

}  // namespace
}  // namespace kestrav
