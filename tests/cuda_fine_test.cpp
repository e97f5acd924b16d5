// The refinement and the chirp-z transform on the GPU: the transform against the direct sum and
// the host's, and the refinement's boundaries. (Its estimates against the host's:
// backend_parity_test.)
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "backends/compute_backend.hpp"
#include "backends/cuda/czt_cuda.hpp"
#include "backends/cuda/fine_cuda.hpp"
#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "platform/host/errors.hpp"
#include "stages/fine/czt.hpp"
#include "support/cuda_device.hpp"
#include "support/generated_pairs.hpp"
#include "support/zoom_points.hpp"

namespace kestrav {
namespace {

using testing::DeviceArray;
constexpr double Pi = std::numbers::pi;

using testing::randomPoints;
using testing::relativeError;

std::vector<double2> cztOnDevice(const std::vector<double2>& x, int M, double step, double start) {
  const DeviceArray<double2> input(x);
  DeviceArray<double2> out(static_cast<std::size_t>(M));
  cztCuda(input.get(), static_cast<int>(x.size()), out.get(), M, step, start);
  return out.download();
}

TEST(CudaCzt, AgreesWithTheDirectSum) {
  SKIP_WITHOUT_CUDA_DEVICE();
  struct Case {
    const char* name;
    int N, M;
    double step, start;
  };
  const Case cases[] = {
      {"the forward DFT", 1000, 1000, -2.0 * Pi / 1000, 0.0},
      {"more outputs than inputs", 64, 300, -0.01, 0.3},
      {"fewer outputs than inputs", 4096, 499, -2.0 * Pi / (1024 * 499), -Pi / 1024},
      {"one output", 4096, 1, -0.25, 0.7},
      {"one input", 1, 50, -0.1, 0.2},
      {"step zero", 100, 20, 0.0, 0.5},
      {"prime N", 127, 131, -2.0 * Pi / 131, 1.0},
      {"transforms of 8192 at M = 4097", 4096, 4097, -2.0 * Pi / (1024 * 4097), -Pi / 1024},
      {"rising band of a narrow zoom", 2048, 3001, -2.0 * Pi / (2048 * 1000.0), -0.004},
  };
  for (const Case& c : cases) {
    const std::vector<double2> x = randomPoints(c.N, 5);
    std::vector<double2> want(static_cast<std::size_t>(c.M));
    cztReference(x.data(), c.N, want.data(), c.M, c.step, c.start);
    // The host's Bluestein reaches 1e-13; the device's sine and cosine are within 2 ulp.
    EXPECT_LT(relativeError(cztOnDevice(x, c.M, c.step, c.start), want, x), 2e-13) << c.name;
  }
}

TEST(CudaCzt, ReadsOnlyTheInputAndWritesOnlyTheFirstMOutputs) {
  SKIP_WITHOUT_CUDA_DEVICE();
  constexpr int Guard = 8;
  const double2 sentinel{-12345.5, 6789.25};
  for (const auto& [N, M] :
       {std::pair{100, 37}, std::pair{37, 100}, std::pair{0, 10}, std::pair{10, 0}}) {
    const std::vector<double2> x = randomPoints(N + Guard, 3);
    const DeviceArray<double2> input(x);
    DeviceArray<double2> out(std::vector<double2>(static_cast<std::size_t>(M + Guard), sentinel));
    cztCuda(input.get(), N, out.get(), M, -0.05, 0.1);
    const std::vector<double2> after = input.download();
    EXPECT_EQ(std::memcmp(after.data(), x.data(), x.size() * sizeof(double2)), 0);
    const std::vector<double2> written = out.download();
    for (int k = 0; k < M + Guard; ++k) {
      const bool untouched = written[k].x == sentinel.x && written[k].y == sentinel.y;
      EXPECT_EQ(untouched, k >= M || N < 1) << "N " << N << " M " << M << " k " << k;
    }
  }
}

// n = 2048 at 1 MHz: 19531250 zoom points, transforms of 2^25 points, about 1.6 GB of device
// buffers. Checked against the host's Bluestein, the direct sum being out of reach.
TEST(CudaCzt, TheLongestZoomOfTheFrequencyEstimate) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const int N = 2048, M = 19531250;
  const double step = -2.0 * Pi / (static_cast<double>(M) * 1024.0);
  const double start = -2.0 * Pi / 1024.0;
  const std::vector<double2> x = randomPoints(N, 9);
  std::vector<double2> host(static_cast<std::size_t>(M));
  cztHost(x.data(), N, host.data(), M, step, start);
  EXPECT_LT(relativeError(cztOnDevice(x, M, step, start), host, x), 1e-10);
}

TEST(CudaCzt, TransformsBeyondTheGpusThirtyTwoBitLengthsAreAResourceError) {
  // 2048 + 2^30 - 1 points need transforms of 2^31: refused before any device work.
  EXPECT_THROW(cztCuda(nullptr, 2048, nullptr, 1 << 30, -1e-9, 0.0), ResourceError);
}

TEST(CudaRefinement, NoCorrectionBelowOneBlockAndZoomsBeyondThirtyTwoBitsAreInputErrors) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const auto backend = makeBackend(BackendKind::Cuda);
  const testing::GeneratedPair pair =
      testing::generatedPair(testing::oneEmitter(2048, 1e6, 0.0, 0.0, 10.0, 13));
  const Refinement none = backend->refine(
      FineRequest{PointerPair<short2>{pair.first.data(), pair.second.data()}, 2047, 1e6});
  for (const FineEstimate& estimate : {none.frequency, none.delay}) {
    EXPECT_EQ(estimate.correction, 0.0);
    EXPECT_EQ(estimate.zoomIndex, -1);
  }
  // 2e9 Hz asks for 3.9e10 frequency points, as the host refuses too.
  try {
    backend->refine(
        FineRequest{PointerPair<short2>{pair.first.data(), pair.second.data()}, 2048, 2e9});
    ADD_FAILURE() << "a zoom beyond 32 bits must be an input error";
  } catch (const InputError& error) {
    EXPECT_NE(std::string(error.what()).find("fine frequency zoom"), std::string::npos);
  }
}

// Without a grid point the estimates return before any device work, as on the host.
TEST(CudaRefinement, NoCorrectionWithoutAGridPoint) {
  const FineRequest narrowBand{{}, 2048, 0.05};
  const FineRequest shortWindow{{}, 2048, 5e9};
  for (const FineEstimate& estimate :
       {estimateFineFrequencyCuda(nullptr, nullptr, narrowBand, nullptr),
        estimateFineDelayCuda(nullptr, nullptr, shortWindow, nullptr)}) {
    EXPECT_EQ(estimate.correction, 0.0);
    EXPECT_EQ(estimate.zoomIndex, -1);
  }
}

}  // namespace
}  // namespace kestrav
