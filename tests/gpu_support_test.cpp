// The host side of the GPU support: the launch rule and the status names and message.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/gpu/chunked_launch.hpp"
#include "platform/gpu/gpu_status.hpp"
#include "platform/gpu/grid_slices.hpp"

namespace kestrav {
namespace {

TEST(ChunkedLaunch, Examples) {
  const struct {
    int n;
    std::vector<Launch> launches;
  } cases[] = {
      {0, {}},
      {-5, {}},
      {1, {{0, 1, 1}}},
      {512, {{0, 1, 512}}},
      {3000, {{2048, 1, 952}, {0, 2, 1024}}},
      {4096, {{0, 4, 1024}}},
      {1024 * 65535, {{0, 65535, 1024}}},
      {67107841, {{0, 65535, 1024}, {67107840, 1, 1}}},
      {67108864, {{0, 65535, 1024}, {67107840, 1, 1024}}},
      {67108864 + 1500, {{0, 65535, 1024}, {67109888, 1, 476}, {67107840, 2, 1024}}},
  };
  for (const auto& c : cases) EXPECT_EQ(chunkedLaunches(c.n), c.launches) << c.n;
}

// Whatever n is, the launches cover 0 .. n-1 exactly once with at most 65535 blocks each.
TEST(ChunkedLaunch, CoversEveryElementOnce) {
  for (const int n : {1, 1023, 1025, 65535, 65536, 1024 * 65535 - 1, 1024 * 65535 + 1023,
                      3 * 1024 * 65535 + 7, 2147483647}) {
    long long next = 0;
    long long covered = 0;
    for (const Launch& launch : chunkedLaunches(n)) {
      EXPECT_GE(launch.blocks, 1);
      EXPECT_LE(launch.blocks, LaunchMaxBlocks);
      EXPECT_LE(launch.threads, LaunchBlockThreads);
      const long long count = static_cast<long long>(launch.blocks) * launch.threads;
      if (launch.base == next) next += count;
      covered += count;
    }
    EXPECT_EQ(covered, n) << n;
  }
}

TEST(GridSlices, AtMost65535BlocksALaunchCoveringEveryItem) {
  const struct {
    std::int64_t count;
    int perBlock;
    std::vector<GridSlice> slices;
  } cases[] = {
      {0, 4, {}},
      {-1, 1, {}},
      {1, 1, {{0, 1}}},
      {10, 4, {{0, 3}}},
      {65535, 1, {{0, 65535}}},
      {65536, 1, {{0, 65535}, {65535, 1}}},
      {4 * 65535 + 5, 4, {{0, 65535}, {4 * 65535, 2}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(gridSlices(c.count, c.perBlock), c.slices) << c.count << " / " << c.perBlock;
  }
  // Items beyond 32 bits: the slices tile the blocks, and the last reaches past the end by
  // less than a block.
  const std::int64_t count = 3'000'000'001LL;
  std::int64_t next = 0;
  for (const GridSlice& slice : gridSlices(count, 256)) {
    EXPECT_EQ(slice.first, next);
    EXPECT_LE(slice.blocks, LaunchMaxBlocks);
    next += std::int64_t{slice.blocks} * 256;
  }
  EXPECT_GE(next, count);
  EXPECT_LT(next - count, 256);
}

TEST(GpuStatusNames, RuntimeTable) {
  const struct {
    int code;
    const char* name;
  } cases[] = {
      {0, "cudaSuccess"},
      {2, "cudaErrorMemoryAllocation"},
      {51, "cudaErrorPeerAccessNotEnabled"},
      {52, "<unknown>"},
      {53, "<unknown>"},
      {54, "cudaErrorDeviceAlreadyInUse"},
      {79, "cudaErrorInvalidGraphicsContext"},
      {80, "<unknown>"},
      {126, "<unknown>"},
      {127, "cudaErrorStartupFailure"},
      {128, "<unknown>"},
      {9999, "<unknown>"},
      {10000, "cudaErrorApiFailureBase"},
      {10001, "<unknown>"},
      {-1, "<unknown>"},
  };
  for (const auto& c : cases) EXPECT_STREQ(RuntimeStatusName(c.code), c.name) << c.code;
  int named = 0;
  for (int code = -10; code <= 20000; ++code) named += RuntimeStatusName(code)[0] != '<';
  EXPECT_EQ(named, 80);
}

// The linked runtime numbers many codes differently from the table: its own name wins where it
// has one, and the table's stands in for the codes it does not know.
TEST(GpuStatusNames, TheLinkedRuntimesNameWinsWhereItKnowsTheCode) {
  const struct {
    int code;
    const char* linked;
    const char* name;
  } cases[] = {
      {1, "cudaErrorInvalidValue", "cudaErrorInvalidValue"},  // the table says MissingConfiguration
      {2, "cudaErrorMemoryAllocation", "cudaErrorMemoryAllocation"},
      {80, "unrecognized error code", "<unknown>"},
      {127, "unrecognized error code", "cudaErrorStartupFailure"},
      {127, nullptr, "cudaErrorStartupFailure"},
      {-1, "unrecognized error code", "<unknown>"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(linkedRuntimeStatusName(c.code, c.linked), c.name) << c.code;
  }
}

TEST(GpuStatusNames, FftTable) {
  EXPECT_STREQ(FftStatusName(0), "CUFFT_SUCCESS");
  EXPECT_STREQ(FftStatusName(2), "CUFFT_ALLOC_FAILED");
  EXPECT_STREQ(FftStatusName(15), "CUFFT_LICENSE_ERROR");
  EXPECT_STREQ(FftStatusName(16), "<unknown>");
  EXPECT_STREQ(FftStatusName(-1), "<unknown>");
}

void resetMarker() { std::fputs("reset\n", stderr); }

// One line naming the call site, code and name, after whatever was written before it (flushed),
// then the device reset and status 1.
TEST(GpuStatusDeathTest, AFailedCheckPrintsOneLineResetsAndExitsWithOne) {
  setDeviceResetHook(resetMarker);
  EXPECT_EXIT(
      {
        std::fputs("partial", stderr);  // buffered in the same way as standard output
        failGpuCall("czt", 269, 2, RuntimeStatusName(2));
      },
      ::testing::ExitedWithCode(1),
      "^partialCUDA error at czt:269 code=2\\(cudaErrorMemoryAllocation\\) \nreset\n$");
  EXPECT_EXIT(failGpuCall("tdc", 118, -1, RuntimeStatusName(-1)), ::testing::ExitedWithCode(1),
              "^CUDA error at tdc:118 code=-1\\(<unknown>\\) \nreset\n$");
  setDeviceResetHook(nullptr);
}

}  // namespace
}  // namespace kestrav
