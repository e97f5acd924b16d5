#pragma once
// The launchers of the coarse search's kernels. Plain host declarations: they take and return
// device pointers but need no CUDA header, so tests written in C++ call them too.
#include <algorithm>
#include <cstdint>

#include "platform/host/vector_types.hpp"
#include "stages/coarse/signal_maps.hpp"

namespace kestrav {

// The lag product of one lag: out[i] = conj(a[i]) b[i + offset] for i < n.
void Sig_Conj(const short2* a, const short2* b, int offset, float2* out, int n);
// Decimation: out[g] = data[g n] + ... + data[g n + n - 1] in the block reduction's order, for
// g < outputs; the groups of data are overwritten with partial sums.
void Complex_Comp_ex(int n, float2* data, float2* out, int outputs);
// data[i] = (|data[i]|^2, 0) for i < n.
void Sig_Abs_inout(float2* data, int n);

// The block of the batched rows: one group of `threadsPerGroup` threads per decimated value
// (the reduction block, at most 1024 threads), groups stacked to about 256 threads a block.
struct LagRowShape {
  int threadsPerGroup = 1;
  int groupsPerBlock = 1;
};
inline LagRowShape lagRowShape(int decimation) {
  const int threads = std::min(reductionBlockOf(decimation), 1024);
  return {threads, std::max(1, 256 / threads)};
}

// The decimated rows of lags firstLag .. firstLag + lagCount - 1 in one pass: row z, which
// starts rowLength values after row z - 1, gets the decimatedLength sums of `decimation`
// consecutive lag products conj(first[i]) second[i + firstLag + z], each in the order of the
// single-lag decimation. Values decimatedLength .. rowLength - 1 of each row are not written.
void Sig_Conj_Comp_batch(const short2* first, const short2* second, int firstLag, int lagCount,
                         int decimation, int decimatedLength, float2* rows, std::int64_t rowLength);
// The same rows from float recordings.
void Sig_Conj_Comp_batch(const float2* first, const float2* second, int firstLag, int lagCount,
                         int decimation, int decimatedLength, float2* rows, std::int64_t rowLength);

// The strongest bin of one spectrum row and the row's Euclidean norm.
struct RowPeak {
  std::int64_t index = 0;  // the first bin of largest power
  float power = 0.0f;      // its power
  float norm = 0.0f;       // sqrt of the sum of |value|^2, accumulated in double
};
// peaks[r] for the rows r < rowCount, each rowLength values long.
void Spectrum_Peak_batch(const float2* rows, std::int64_t rowLength, int rowCount, RowPeak* peaks);

// The runtime status of looking up a kernel of this program on the current device: not success
// when the device cannot run the program's code.
int coarseKernelImageStatus();

}  // namespace kestrav
