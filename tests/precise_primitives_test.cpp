// The precise estimate around its primitives: the holds on every way out, the layout and taper.
// (Every backend's primitives against the direct sums: backend_parity_test.)
#include "stages/precise/precise_primitives.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "stages/precise/precise_estimate.hpp"
#include "stages/precise/precise_maps.hpp"
#include "support/precise_direct_sums.hpp"

namespace kestrav {
namespace {

// Passes the calls on to the host's primitives, noting the holds around them; throws at call
// `failingCall` (counting from 1) when asked.
class HoldRecorder final : public PrecisePrimitives {
 public:
  void crossSpectrum(const PreciseSegments& segments, const PreciseLayout& layout, double cycles,
                     FrameShape shape, std::span<double2> spectrum) override {
    note();
    host_->crossSpectrum(segments, layout, cycles, shape, spectrum);
  }
  void delayedProductRuns(const PreciseSegments& segments, const PreciseLayout& layout,
                          double cycles, double delaySamples, std::span<const double> rootWeight,
                          std::span<double2> runs) override {
    note();
    host_->delayedProductRuns(segments, layout, cycles, delaySamples, rootWeight, runs);
  }
  void holdSegments() override { ++holds; }
  void releaseSegments() override {
    --holds;
    ++releases;
  }

  int failingCall = 0;
  int calls = 0, callsOutsideAHold = 0, holds = 0, releases = 0;

 private:
  void note() {
    ++calls;
    if (holds == 0) ++callsOutsideAHold;
    if (calls == failingCall) throw std::runtime_error("a failing transform");
  }
  std::unique_ptr<PrecisePrimitives> host_ = makeHostPrecisePrimitives();
};

// A device keeps the segments between the calls of one estimate and frees them when it ends,
// whether it ends normally or by an exception.
TEST(PreciseEstimate, HoldsTheSegmentsThroughEveryCallAndReleasesThemOnEveryWayOut) {
  testing::TestSegments s = testing::randomSegments(4096, 64, 64, 9);
  std::copy(s.first.begin(), s.first.end(), s.secondStore.begin() + 64);
  const PreciseRequest request{
      PointerPair<short2>{s.first.data(), s.secondAtLag()}, 4096, 64, 64, 1e6, 0, 0, 0, {}};
  for (const int failingCall : {0, 2}) {
    HoldRecorder recorder;
    recorder.failingCall = failingCall;
    if (failingCall == 0) {
      estimatePrecisely(request, recorder);
      EXPECT_GE(recorder.calls, 3);
    } else {
      EXPECT_THROW(estimatePrecisely(request, recorder), std::runtime_error);
    }
    EXPECT_EQ(recorder.callsOutsideAHold, 0) << failingCall;
    EXPECT_EQ(recorder.holds, 0) << failingCall;
    EXPECT_EQ(recorder.releases, 1) << failingCall;
  }
}

// Frames tile the first segment: every sample sits in exactly one block position, and every
// frame position lands in a run.
TEST(PreciseLayout, BlocksTileTheSegmentAndRunsCoverEveryFrame) {
  for (const int n : {1, 255, 256, 4096, 65408, 65409, 262144, 4194304}) {
    const PreciseLayout layout = planPreciseLayout(n);
    EXPECT_GE(static_cast<long long>(layout.blockCount) * layout.blockLength, n) << n;
    EXPECT_LT(static_cast<long long>(layout.blockCount - 1) * layout.blockLength, n) << n;
    EXPECT_LE(layout.blockLength + 2 * layout.margin, layout.frameLength) << n;
    EXPECT_EQ(layout.blockLength % layout.runLength, 0) << n;
    EXPECT_EQ(runIndex(layout, 0, 0), 0) << n;
    EXPECT_EQ(runIndex(layout, layout.blockCount - 1, layout.frameLength - 1), layout.runCount - 1)
        << n;
  }
}

TEST(PreciseMaps, TaperEasesBothEndsSymmetrically) {
  const PreciseLayout layout = planPreciseLayout(8192);
  ASSERT_EQ(layout.taperLength, 256);
  for (int i = 0; i < layout.taperLength; ++i) {
    EXPECT_DOUBLE_EQ(firstTaper(i, layout), firstTaper(8191 - i, layout)) << i;
    EXPECT_GT(firstTaper(i + 1, layout), firstTaper(i, layout)) << i;
    // Raised cosine: a sample and its mirror about the taper's middle sum to one.
    EXPECT_NEAR(firstTaper(i, layout) + firstTaper(layout.taperLength - 1 - i, layout), 1.0, 1e-15);
  }
  EXPECT_EQ(firstTaper(layout.taperLength, layout), 1.0);
  EXPECT_EQ(firstTaper(4096, layout), 1.0);
}

}  // namespace
}  // namespace kestrav
