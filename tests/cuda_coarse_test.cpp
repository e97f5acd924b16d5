// The coarse search on the GPU where there is nothing to find: an all-zero row and too few
// samples for a decimation run. (Its cells against the reference's: backend_parity_test.)
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "backends/compute_backend.hpp"
#include "stages/coarse/coarse_search.hpp"
#include "support/cuda_device.hpp"
#include "support/generated_pairs.hpp"

namespace kestrav {
namespace {

struct Recordings {
  std::vector<short2> first, second;
};

TEST(CudaCoarseSearch, AnAllZeroRowHasNoLevelAndTooFewSamplesLeaveTheCellsZero) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const auto backend = makeBackend(BackendKind::Cuda);
  Recordings silent{std::vector<short2>(4096, short2{0, 0}),
                    std::vector<short2>(4099, short2{3, -4})};
  std::vector<LagCell> cells(3);
  backend->coarseSearch(testing::coarseRequestFor(silent, 4096, 20000.0, 3), cells);
  for (const LagCell& cell : cells) {
    EXPECT_EQ(cell.frequencyOffset, 0.0);
    EXPECT_TRUE(std::isnan(cell.level));
  }
  // 100 samples at 2.048 MHz are fewer than one decimation run of 125.
  Recordings few{std::vector<short2>(100, short2{1, 1}), std::vector<short2>(103, short2{1, 1})};
  std::vector<LagCell> untouched(3, LagCell{5, 6.0, 7.0});
  backend->coarseSearch(testing::coarseRequestFor(few, 100, 2048000.0, 3), untouched);
  for (const LagCell& cell : untouched) {
    EXPECT_EQ(cell.lagIndex, 0);
    EXPECT_EQ(cell.level, 0.0);
  }
}

}  // namespace
}  // namespace kestrav
