// The coarse search's kernels. The single-lag kernels keep their one-thread-per-element form;
// the batched kernels form the rows of a whole batch of lags, and reduce its spectra, in one
// launch each, with the same element arithmetic.
// Every kernel is compiled for the largest block its launcher starts (__launch_bounds__):
// otherwise the compiler may give it more registers than such a block can hold on some chips
// (the batched rows took 96 a thread for Turing, where 1024 threads allow 64), and a launch that
// asks for too many fails without running.
#include <cuda_runtime.h>

#include <cfloat>

#include "backends/cuda/coarse_kernels.hpp"
#include "platform/gpu/chunked_launch.hpp"
#include "platform/gpu/grid_slices.hpp"
#include "platform/gpu/thread_index.cuh"
#include "stages/coarse/signal_maps.hpp"

namespace kestrav {
namespace {

// The lag products of a decimation group: value u is conj(first[u]) second[u].
template <class Sample>
struct GroupProducts {
  const Sample* first;
  const Sample* second;
  KESTRAV_HD float2 operator()(int u) const {
    return conjugateProduct(toFloat2(first[u]), toFloat2(second[u]));
  }
};

}  // namespace

template <class Sample>
__global__ void __launch_bounds__(LaunchBlockThreads)
    Sig_Conj(const Sample* a, const Sample* b, int offset, float2* out) {
  const int i = threadIndex();
  out[i] = conjugateProduct(toFloat2(a[i]), toFloat2(b[i + offset]));
}

// Block g sums group g of n values. The reduction block P may exceed the 1024 threads a block
// can have: then each thread takes the elements t, t + blockDim.x, ... of every stride.
__global__ void __launch_bounds__(LaunchBlockThreads)
    Complex_Comp_ex(int n, float2* data, float2* out) {
  float2* group = data + static_cast<std::int64_t>(blockIdx.x) * n;
  const int t = static_cast<int>(threadIdx.x);
  for (int s = reductionBlockOf(n); s > 0; s >>= 1) {
    for (int e = t; e < s && e + s < n; e += static_cast<int>(blockDim.x)) {
      group[e] = complexAdd(group[e], group[e + s]);
    }
    __syncthreads();
  }
  if (t == 0) out[blockIdx.x] = group[0];
}

__global__ void __launch_bounds__(LaunchBlockThreads) Sig_Abs_inout_dev(float2* data) {
  const int i = threadIndex();
  data[i] = powerOf(data[i]);
}

// Block (x, y) holds groupsPerBlock decimation groups (threadIdx.y) of lag lagBase + blockIdx.y,
// each reduced by threadsPerGroup threads (threadIdx.x): first within each thread, then across
// the group's threads in shared memory, stride by stride.
template <class Sample>
__global__ void __launch_bounds__(LaunchBlockThreads)
    Sig_Conj_Comp_batch_dev(const Sample* first, const Sample* second, int firstLag, int lagBase,
                            int decimation, int decimatedLength, std::int64_t groupBase,
                            float2* rows, std::int64_t rowLength) {
  __shared__ float2 parts[1024];
  const int threads = static_cast<int>(blockDim.x);
  const int t = static_cast<int>(threadIdx.x);
  float2* part = parts + threadIdx.y * blockDim.x;
  const std::int64_t group =
      groupBase + static_cast<std::int64_t>(blockIdx.x) * blockDim.y + threadIdx.y;
  const std::int64_t row = static_cast<std::int64_t>(lagBase) + blockIdx.y;
  const bool inRange = group < decimatedLength;

  float2 own{0.0f, 0.0f};
  if (inRange) {
    const std::int64_t start = group * decimation;
    const GroupProducts<Sample> products{first + start, second + start + firstLag + row};
    own = threadPartOfGroup(products, decimation, reductionBlockOf(decimation), threads, t);
  }
  part[t] = own;
  for (int s = threads / 2; s > 0; s >>= 1) {
    __syncthreads();
    if (t < s) part[t] = complexAdd(part[t], part[t + s]);
  }
  if (inRange && t == 0) rows[row * rowLength + group] = part[0];
}

namespace {

constexpr int PeakThreads = 256;

struct Strongest {
  std::int64_t index;
  float power;
};

// Of two bins the stronger; of equal powers the lower index.
__device__ Strongest stronger(Strongest a, Strongest b) {
  return b.power > a.power || (b.power == a.power && b.index < a.index) ? b : a;
}

}  // namespace

// Block r reduces row rowBase + r.
__global__ void __launch_bounds__(PeakThreads)
    Spectrum_Peak_batch_dev(const float2* rows, std::int64_t rowLength, int rowBase,
                            RowPeak* peaks) {
  __shared__ double sums[PeakThreads];
  __shared__ Strongest best[PeakThreads];
  const int t = static_cast<int>(threadIdx.x);
  const std::int64_t row = static_cast<std::int64_t>(rowBase) + blockIdx.x;
  const float2* spectrum = rows + row * rowLength;

  double sum = 0.0;
  Strongest own{INT64_MAX, -FLT_MAX};
  for (std::int64_t j = t; j < rowLength; j += PeakThreads) {
    const double x = spectrum[j].x;
    const double y = spectrum[j].y;
    sum += x * x + y * y;
    own = stronger(own, Strongest{j, powerOf(spectrum[j]).x});
  }
  sums[t] = sum;
  best[t] = own;
  for (int s = PeakThreads / 2; s > 0; s >>= 1) {
    __syncthreads();
    if (t < s) {
      sums[t] += sums[t + s];
      best[t] = stronger(best[t], best[t + s]);
    }
  }
  if (t == 0) peaks[row] = RowPeak{best[0].index, best[0].power, static_cast<float>(sqrt(sums[0]))};
}

void Sig_Conj(const short2* a, const short2* b, int offset, float2* out, int n) {
  for (const Launch& launch : chunkedLaunches(n)) {
    Sig_Conj<short2><<<launch.blocks, launch.threads>>>(a + launch.base, b + launch.base, offset,
                                                        out + launch.base);
  }
}

void Complex_Comp_ex(int n, float2* data, float2* out, int outputs) {
  if (n < 1) return;
  const int threads = std::min(reductionBlockOf(n), LaunchBlockThreads);
  for (const GridSlice& slice : gridSlices(outputs, 1)) {
    Complex_Comp_ex<<<slice.blocks, threads>>>(n, data + slice.first * n, out + slice.first);
  }
}

void Sig_Abs_inout(float2* data, int n) {
  for (const Launch& launch : chunkedLaunches(n)) {
    Sig_Abs_inout_dev<<<launch.blocks, launch.threads>>>(data + launch.base);
  }
}

namespace {

template <class Sample>
void launchLagRows(const Sample* first, const Sample* second, int firstLag, int lagCount,
                   int decimation, int decimatedLength, float2* rows, std::int64_t rowLength) {
  if (decimation < 1) return;
  const LagRowShape shape = lagRowShape(decimation);
  const dim3 block(static_cast<unsigned>(shape.threadsPerGroup),
                   static_cast<unsigned>(shape.groupsPerBlock));
  for (const GridSlice& lags : gridSlices(lagCount, 1)) {
    for (const GridSlice& groups : gridSlices(decimatedLength, shape.groupsPerBlock)) {
      const dim3 grid(static_cast<unsigned>(groups.blocks), static_cast<unsigned>(lags.blocks));
      Sig_Conj_Comp_batch_dev<Sample>
          <<<grid, block>>>(first, second, firstLag, static_cast<int>(lags.first), decimation,
                            decimatedLength, groups.first, rows, rowLength);
    }
  }
}

}  // namespace

void Sig_Conj_Comp_batch(const short2* first, const short2* second, int firstLag, int lagCount,
                         int decimation, int decimatedLength, float2* rows,
                         std::int64_t rowLength) {
  launchLagRows(first, second, firstLag, lagCount, decimation, decimatedLength, rows, rowLength);
}

void Sig_Conj_Comp_batch(const float2* first, const float2* second, int firstLag, int lagCount,
                         int decimation, int decimatedLength, float2* rows,
                         std::int64_t rowLength) {
  launchLagRows(first, second, firstLag, lagCount, decimation, decimatedLength, rows, rowLength);
}

void Spectrum_Peak_batch(const float2* rows, std::int64_t rowLength, int rowCount, RowPeak* peaks) {
  if (rowLength < 1) return;
  for (const GridSlice& slice : gridSlices(rowCount, 1)) {
    Spectrum_Peak_batch_dev<<<slice.blocks, PeakThreads>>>(rows, rowLength,
                                                           static_cast<int>(slice.first), peaks);
  }
}

int coarseKernelImageStatus() {
  cudaFuncAttributes attributes{};
  return static_cast<int>(cudaFuncGetAttributes(&attributes, Sig_Abs_inout_dev));
}

}  // namespace kestrav
