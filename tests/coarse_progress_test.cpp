// The coarse search tells how far it has come: counts that only rise and end at every lag.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "tdc/coarse_search.hpp"
#include "tools/synthetic_pair.hpp"

namespace kestrav {
namespace {

TEST(CoarseProgress, EveryPathCountsUpToTheLastLag) {
  PairConfig config;
  config.sampleCount = 70000;
  const int lagCount = 150;
  const SamplePairInt16 pair = quantizePair(generatePair(config));
  const std::vector<short2> first(pair.first.begin(), pair.first.begin() + 60000);
  for (const auto search : {coarseSearchReference, coarseSearchHost}) {
    std::mutex lock;
    std::vector<int> reports;
    CoarseRequest request{first, pair.second, 60000, lagCount, 1e6, 16384.0,
                          [&](int done) {
                            std::lock_guard guard(lock);
                            reports.push_back(done);
                          }};
    std::vector<LagCell> cells(lagCount);
    search(request, cells);
    ASSERT_FALSE(reports.empty());
    // Workers report in any order; the largest count is every lag.
    EXPECT_EQ(*std::max_element(reports.begin(), reports.end()), lagCount);
    EXPECT_GT(*std::min_element(reports.begin(), reports.end()), 0);
  }
}

}  // namespace
}  // namespace kestrav
