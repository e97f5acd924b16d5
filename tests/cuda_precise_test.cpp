// The precise estimate's primitives on the GPU: a buffer refilled in place is read afresh, and
// the backend's primitives are the device's. (Against the direct sums and the host's:
// backend_parity_test.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <typeinfo>
#include <vector>

#include "backends/compute_backend.hpp"
#include "backends/cuda/precise_cuda.hpp"
#include "backends/host/host_paths.hpp"
#include "stages/precise/precise_maps.hpp"
#include "support/cuda_device.hpp"
#include "support/precise_direct_sums.hpp"

namespace kestrav {
namespace {

// A buffer refilled in place, at the same address and size, is a new recording: outside a hold
// the device reads it again, whether or not a hold came before.
TEST(CudaPrecisePrimitives, ABufferRefilledInPlaceIsReadAfresh) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const PreciseLayout layout = planPreciseLayout(700, 256);
  testing::TestSegments s = testing::randomSegments(700, 64, 64, 61);
  const auto device = makeCudaPrecisePrimitives();
  const auto host = makeHostPrecisePrimitives();
  std::vector<double2> got(static_cast<std::size_t>(layout.frameLength)), want(got.size());
  for (const unsigned seed : {62u, 63u, 64u}) {
    {
      const SegmentHold hold(*device);
      device->crossSpectrum(s.view(), layout, 0.01, FrameShape::Margined, got);
      host->crossSpectrum(s.view(), layout, 0.01, FrameShape::Margined, want);
      EXPECT_LT(testing::relativeDifference(got, want), 1e-13) << seed;
    }
    const testing::TestSegments fresh = testing::randomSegments(700, 64, 64, seed);
    std::copy(fresh.first.begin(), fresh.first.end(), s.first.begin());
    std::copy(fresh.secondStore.begin(), fresh.secondStore.end(), s.secondStore.begin());
    device->crossSpectrum(s.view(), layout, 0.01, FrameShape::Margined, got);
    host->crossSpectrum(s.view(), layout, 0.01, FrameShape::Margined, want);
    EXPECT_LT(testing::relativeDifference(got, want), 1e-13) << seed;
  }
}

TEST(CudaPreciseEstimate, TheBackendsPrimitivesAreTheDevices) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const auto cuda = makeBackend(BackendKind::Cuda);
  const auto host = makeBackend(BackendKind::Host);
  PrecisePrimitives& device = cuda->precisePrimitives();
  PrecisePrimitives& onHost = host->precisePrimitives();
  EXPECT_EQ(&device, &cuda->precisePrimitives()) << "one object for the backend's lifetime";
  EXPECT_NE(typeid(device), typeid(onHost));
}

}  // namespace
}  // namespace kestrav
