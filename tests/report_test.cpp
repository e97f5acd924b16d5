#include "app/report.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace kestrav {
namespace {

TEST(Report, FixedThreeDecimalsInMicrosecondsHertzAndDecibels) {
  const std::vector<SearchResult> two{{0.00012345678, -12.3456, 23.456789}, {-0.0025, 0.5, 7.0}};
  EXPECT_EQ(formatResults(two), "2:123.457*-12.346*23.457+-2500.000*0.500*7.000+");
  EXPECT_EQ(formatResults(std::vector<SearchResult>{{0.0000015, 0.0, 0.0}}),
            "1:1.500*0.000*0.000+");
  EXPECT_EQ(formatResults(std::vector<SearchResult>{{1e-3, 1e9, 30.0}}),
            "1:1000.000*1000000000.000*30.000+");
}

TEST(Report, TenResultsEndWithTheTenthPlus) {
  const std::vector<SearchResult> ten(10, SearchResult{1e-6, 1.0, 2.0});
  const std::string text = formatResults(ten);
  EXPECT_EQ(text.substr(0, 3), "10:");
  EXPECT_EQ(text.back(), '+');
  EXPECT_EQ(std::count(text.begin(), text.end(), '+'), 10);
}

}  // namespace
}  // namespace kestrav
