// The refinement and the chirp-z transform on the GPU. The transform against the direct sum; the
// two estimates against the host's on the same generated pairs, field for field: the same zoom
// sizes and grids, the strongest point within one grid point (two FFT paths may split a near
// tie), and the powers around it to the rounding of double precision.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "stages/fine/czt.hpp"
#include "backends/cuda/czt_cuda.hpp"
#include "backends/compute_backend.hpp"
#include "platform/host/errors.hpp"
#include "support/cuda_device.hpp"
#include "support/zoom_points.hpp"
#include "backends/cuda/fine_cuda.hpp"
#include "backends/host/host_paths.hpp"
#include "backends/reference/reference_paths.hpp"
#include "tools/synthetic_pair.hpp"

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

struct Pair {
  std::vector<short2> first, second;
};

Pair generated(int n, double fs, double delay, double offsetHz, unsigned seed) {
  PairConfig config;
  config.sampleCount = n;
  config.sampleRate = fs;
  config.emitters = {Emitter{delay, offsetHz, 0.0}};
  config.snrDb = 10.0;
  config.seed = seed;
  SamplePairInt16 pair = quantizePair(generatePair(config));
  return {std::move(pair.first), std::move(pair.second)};
}

// One estimate on the GPU against the host's: the fixed grid step is `fixedStep`.
void expectSameEstimate(const FineEstimate& gpu, const FineEstimate& host, double fixedStep,
                        const std::string& what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(gpu.zoomPoints, host.zoomPoints);
  EXPECT_EQ(gpu.gridStart, host.gridStart);
  EXPECT_EQ(gpu.gridStep, host.gridStep);
  EXPECT_LE(std::abs(gpu.zoomIndex - host.zoomIndex), 1);
  EXPECT_NEAR(gpu.correction, host.correction, fixedStep * 1.000001);
  ASSERT_EQ(gpu.trace.empty(), host.trace.empty());
  if (host.trace.empty()) return;
  // The powers around the maximum, at the zoom points both traces hold.
  double peak = 0.0;
  for (const double power : host.trace) peak = std::max(peak, power);
  int compared = 0;
  for (std::size_t i = 0; i < gpu.trace.size(); ++i) {
    const long long k = gpu.traceFirst + static_cast<long long>(i) - host.traceFirst;
    if (k < 0 || k >= static_cast<long long>(host.trace.size())) continue;
    EXPECT_NEAR(gpu.trace[i], host.trace[static_cast<std::size_t>(k)], 1e-9 * peak)
        << "point " << k;
    ++compared;
  }
  EXPECT_GE(compared, static_cast<int>(host.trace.size()) - 1);
}

TEST(CudaRefinement, BothEstimatesAsTheHostGivesThem) {
  SKIP_WITHOUT_CUDA_DEVICE();
  struct Case {
    const char* name;
    int n;
    double fs, delay, offsetHz, candidateErrorHz;
  };
  const Case cases[] = {
      {"1M samples at 1 MHz", 1048576, 1e6, 0.4e-6, 1234.5678, 0.37},
      {"4096 samples at 1 MHz: a zoom of 9765625 points", 4096, 1e6, -0.3e-6, -250.0, 2.0},
      {"2048 samples at 1 MHz: the longest zoom", 2048, 1e6, 0.1e-6, 10.0, 3.0},
      {"a last partial block at 10 kHz", 4096 + 100, 1e4, 3e-5, 1234.0, -0.5},
  };
  const auto backend = makeBackend(BackendKind::Cuda);
  for (const Case& c : cases) {
    const Pair pair = generated(c.n, c.fs, c.delay, c.offsetHz, 12);
    FineRequest request{PointerPair<short2>{pair.first.data(), pair.second.data()}, c.n, c.fs,
                        c.offsetHz + c.candidateErrorHz, 6};
    const Refinement gpu = backend->refine(request);
    const FineEstimate hostFrequency = estimateFineFrequency(request, cztHost);
    FineRequest corrected = request;
    corrected.frequencyOffset += hostFrequency.correction;
    const FineEstimate hostDelay = estimateFineDelay(corrected, cztHost);
    expectSameEstimate(gpu.frequency, hostFrequency, 0.0001, std::string(c.name) + ", frequency");
    expectSameEstimate(gpu.delay, hostDelay, 1e-9, std::string(c.name) + ", delay");
  }
}

TEST(CudaRefinement, NoCorrectionBelowOneBlockAndZoomsBeyondThirtyTwoBitsAreInputErrors) {
  SKIP_WITHOUT_CUDA_DEVICE();
  const auto backend = makeBackend(BackendKind::Cuda);
  const Pair pair = generated(2048, 1e6, 0.0, 0.0, 13);
  const PointerPair<short2> segments{pair.first.data(), pair.second.data()};
  const Refinement none = backend->refine(FineRequest{segments, 2047, 1e6});
  for (const FineEstimate& estimate : {none.frequency, none.delay}) {
    EXPECT_EQ(estimate.correction, 0.0);
    EXPECT_EQ(estimate.zoomIndex, -1);
  }
  // 2e9 Hz asks for 3.9e10 frequency points, as the host refuses too.
  try {
    backend->refine(FineRequest{segments, 2048, 2e9});
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
