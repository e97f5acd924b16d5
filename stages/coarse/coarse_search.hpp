#pragma once
// The coarse cross-ambiguity search: for every lag of the delay window, the lag product
// conj(first[i]) * second[i + k], decimated by summing runs of D samples, transformed with an
// FFT of L points; the strongest bin gives the lag's frequency offset and level.
#include <cstdint>
#include <functional>
#include <span>

#include "platform/host/sample_segments.hpp"
#include "platform/host/vector_types.hpp"
#include "stages/coarse/lag_cell.hpp"

namespace kestrav {

// Told, from any thread, how many lags of the window the coarse search has finished.
using CoarseProgress = std::function<void(int lagsDone)>;

// The coarse search's input: the two loaded segments and the search's physical parameters.
struct CoarseRequest {
  // first: sampleCount samples; second: sampleCount + lagCount samples.
  SegmentSpans segments;
  int sampleCount = 0;  // N, as lowered by the loader
  int lagCount = 0;
  double sampleRate = 0.0;     // hertz
  double frequencySpan = 0.0;  // hertz; fixes the decimation
  CoarseProgress progress;     // optional; called now and then with the lags done so far
};

inline constexpr std::uint64_t BatchBudgetBytes = 419430400;  // 400 MiB of batch spectra

struct CoarseSizes {
  int decimation = 1;           // D
  double decimatedRate = 0.0;   // fs_dec = fs / D
  int decimatedLength = 0;      // M = floor(N / D); 0 means no lag can be evaluated
  std::uint64_t fftLength = 0;  // L: the smallest power of two not below M (0 when M is 0)
  int batchCount = 0;           // batches of lags; together they cover every lag
  int lagsPerBatch = 0;         // B
  int productGrid = 0;          // K = min(N / 1024, 65535), blocks of the GPU lag-product launch
  int reductionBlock = 1;       // P: the largest power of two not above D
  int chunkCount = 0;           // ceil(M / 65535): launches of the GPU decimation per lag
};

CoarseSizes deriveCoarseSizes(int sampleCount, double sampleRate, int lagCount,
                              double frequencySpan);

// Frequency of bin idx of an L-point spectrum at rate fs_dec: bins above L/2 are negative.
double binFrequency(std::uint64_t idx, std::uint64_t fftLength, double decimatedRate);
// 10 log10(L * peak / total): the peak-to-mean power ratio of the spectrum, with the peak power
// and the spectrum's Euclidean norm as single-precision values.
double lagLevel(float peakPower, float norm, std::uint64_t fftLength);

}  // namespace kestrav
