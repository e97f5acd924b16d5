#pragma once
// The lane kernel, written once over a vector type and instantiated by one unit per instruction
// set. Those units are compiled for their own set, so this header holds nothing but templates over
// the unit's own vector type and calls nothing inline from elsewhere: no function compiled for
// AVX-512 can be picked by the linker for code that must run with AVX2 alone.
//
// A vector type provides Type, Lanes, RegisterDepth and broadcast, load, store, add, sub, mul and
// fmadd, each one instruction that rounds once.
#include <cstddef>

#include "backends/host/coarse_lanes.hpp"

namespace kestrav::lane_kernel {

// Two vectors of lanes: the real and imaginary parts of one partial sum for every lag of a group.
template <class Vec>
struct Node {
  typename Vec::Type re[2];
  typename Vec::Type im[2];
};

template <class Vec>
[[gnu::always_inline]] inline Node<Vec> add(const Node<Vec>& a, const Node<Vec>& b) {
  Node<Vec> sum;
  for (int v = 0; v < 2; ++v) {
    sum.re[v] = Vec::add(a.re[v], b.re[v]);
    sum.im[v] = Vec::add(a.im[v], b.im[v]);
  }
  return sum;
}

// One chunk of samples as floats: the first recording interleaved, the second split.
struct Inputs {
  const float* first;
  const float* secondReal;
  const float* secondImag;
  int decimation;      // D
  int reductionBlock;  // P, the largest power of two not above D
};

// conj(first[i]) second[i + lane] for every lane, rounded as the scalar lag product: the real
// part a fused multiply-add onto the rounded a.y b.y, the imaginary part the difference of two
// rounded products.
template <class Vec>
[[gnu::always_inline]] inline Node<Vec> product(const Inputs& in, std::ptrdiff_t i) {
  const typename Vec::Type ax = Vec::broadcast(&in.first[2 * i]);
  const typename Vec::Type ay = Vec::broadcast(&in.first[2 * i + 1]);
  Node<Vec> node;
  for (int v = 0; v < 2; ++v) {
    const typename Vec::Type bx = Vec::load(in.secondReal + i + v * Vec::Lanes);
    const typename Vec::Type by = Vec::load(in.secondImag + i + v * Vec::Lanes);
    node.re[v] = Vec::fmadd(ax, bx, Vec::mul(ay, by));
    node.im[v] = Vec::sub(Vec::mul(ax, by), Vec::mul(ay, bx));
  }
  return node;
}

// The decimation tree of one group of D products starting at `base`. Node (t, s) is the sum of
// the elements t, t + s, t + 2s, ... below P once the device's reduction has reached stride s:
// node (t, s) = node (t, 2s) + node (t + s, 2s), and node (t, P) is element t with element t + P
// folded onto it when t + P < D. A subtree of fixed depth stays in registers.
template <class Vec, int Depth>
[[gnu::always_inline]] inline Node<Vec> subtree(const Inputs& in, std::ptrdiff_t base, int t,
                                                int stride) {
  if constexpr (Depth == 0) {
    Node<Vec> node = product<Vec>(in, base + t);
    if (t + in.reductionBlock < in.decimation) {
      node = add<Vec>(node, product<Vec>(in, base + t + in.reductionBlock));
    }
    return node;
  } else {
    const Node<Vec> low = subtree<Vec, Depth - 1>(in, base, t, 2 * stride);
    const Node<Vec> high = subtree<Vec, Depth - 1>(in, base, t + stride, 2 * stride);
    return add<Vec>(low, high);
  }
}

// Internal to each unit, like the templates over the unit's own vector type.
static inline int reverseBits(int value, int bits) {
  int reversed = 0;
  for (int b = 0; b < bits; ++b) reversed |= ((value >> b) & 1) << (bits - 1 - b);
  return reversed;
}

// Outputs gathered in lane order before they are written out row by row.
inline constexpr int TileOutputs = 8;

// The decimation tree's value for every lane at `count` consecutive outputs, the first at
// sample `base` of the chunk, into tile rows 0 .. count - 1. The tree's top levels (above the
// register subtrees) run over the subtree roots in bit-reversed order, where the device's pairs
// are neighbours, with a binary-counter stack.
template <class Vec, int Depth>
[[gnu::always_inline]] inline void formTile(const Inputs& in, std::ptrdiff_t base, int count,
                                            int upperLevels, float (*tileRe)[2 * Vec::Lanes],
                                            float (*tileIm)[2 * Vec::Lanes]) {
  const int roots = 1 << upperLevels;
  Node<Vec> stack[32];
  for (int o = 0; o < count; ++o, base += in.decimation) {
    Node<Vec> sum;
    if (upperLevels == 0) {
      sum = subtree<Vec, Depth>(in, base, 0, 1);
    } else {
      int top = 0;
      for (int r = 0; r < roots; ++r) {
        Node<Vec> node = subtree<Vec, Depth>(in, base, reverseBits(r, upperLevels), roots);
        for (int pairs = r; pairs & 1; pairs >>= 1) node = add<Vec>(stack[--top], node);
        stack[top++] = node;
      }
      sum = stack[0];
    }
    for (int v = 0; v < 2; ++v) {
      Vec::store(&tileRe[o][v * Vec::Lanes], sum.re[v]);
      Vec::store(&tileIm[o][v * Vec::Lanes], sum.im[v]);
    }
  }
}

// Samples start .. start + samples - 1 of the first recording interleaved, and of the second
// `reach` samples split into real and imaginary parts, zero past its `secondAvailable`. Float
// samples are copied as they are. Internal to each unit, like reverseBits.
template <class Sample>
static void convertSamples(const Sample* firstSamples, const Sample* secondSamples,
                           std::ptrdiff_t secondAvailable, std::ptrdiff_t start,
                           std::ptrdiff_t samples, std::ptrdiff_t reach, float* first,
                           float* secondReal, float* secondImag) {
  for (std::ptrdiff_t i = 0; i < samples; ++i) {
    first[2 * i] = static_cast<float>(firstSamples[start + i].x);
    first[2 * i + 1] = static_cast<float>(firstSamples[start + i].y);
  }
  const std::ptrdiff_t left = secondAvailable - start;
  const std::ptrdiff_t available = left < reach ? left : reach;
  for (std::ptrdiff_t i = 0; i < available; ++i) {
    secondReal[i] = static_cast<float>(secondSamples[start + i].x);
    secondImag[i] = static_cast<float>(secondSamples[start + i].y);
  }
  for (std::ptrdiff_t i = available; i < reach; ++i) {
    secondReal[i] = 0.0f;
    secondImag[i] = 0.0f;
  }
}

// The samples of outputs first .. first + count - 1 as floats, and of the second recording the
// lanes' reach beyond them, zero past its end.
template <class Vec>
Inputs convertChunk(const LaneGroupJob& job, int reductionBlock, int firstOutput, int count) {
  const std::ptrdiff_t start = static_cast<std::ptrdiff_t>(firstOutput) * job.decimation;
  const std::ptrdiff_t samples = static_cast<std::ptrdiff_t>(count) * job.decimation;
  const std::ptrdiff_t reach = samples + 2 * Vec::Lanes;
  const std::ptrdiff_t chunkCapacity =
      static_cast<std::ptrdiff_t>(job.chunkOutputs) * job.decimation;
  float* first = job.scratch;
  float* secondReal = first + 2 * chunkCapacity;
  float* secondImag = secondReal + chunkCapacity + 2 * Vec::Lanes;
  withSegments(job.segments, [&](const auto* firstSamples, const auto* secondSamples) {
    convertSamples(firstSamples, secondSamples, job.secondAvailable, start, samples, reach, first,
                   secondReal, secondImag);
  });
  return Inputs{first, secondReal, secondImag, job.decimation, reductionBlock};
}

template <class Vec, int Depth>
void formRows(const LaneGroupJob& job, int reductionBlock, int upperLevels) {
  constexpr int Lanes = 2 * Vec::Lanes;
  alignas(64) float tileRe[TileOutputs][Lanes];
  alignas(64) float tileIm[TileOutputs][Lanes];
  for (int c0 = 0; c0 < job.decimatedLength; c0 += job.chunkOutputs) {
    const int chunk =
        job.decimatedLength - c0 < job.chunkOutputs ? job.decimatedLength - c0 : job.chunkOutputs;
    const Inputs in = convertChunk<Vec>(job, reductionBlock, c0, chunk);
    for (int t0 = 0; t0 < chunk; t0 += TileOutputs) {
      const int count = chunk - t0 < TileOutputs ? chunk - t0 : TileOutputs;
      formTile<Vec, Depth>(in, static_cast<std::ptrdiff_t>(t0) * job.decimation, count, upperLevels,
                           tileRe, tileIm);
      for (int lane = 0; lane < job.rowCount; ++lane) {
        float2* row = job.rows + static_cast<std::size_t>(lane) * job.rowStride + c0 + t0;
        for (int o = 0; o < count; ++o) row[o] = float2{tileRe[o][lane], tileIm[o][lane]};
      }
    }
  }
}

template <class Vec>
void formLaneGroup(const LaneGroupJob& job) {
  int levels = 0;  // log2 P
  while ((2 << levels) <= job.decimation) ++levels;
  const int reductionBlock = 1 << levels;
  constexpr int MaxDepth = Vec::RegisterDepth;
  static_assert(MaxDepth >= 0 && MaxDepth <= 6);
  const int depth = levels < MaxDepth ? levels : MaxDepth;
  const int upperLevels = levels - depth;
  switch (depth) {
    case 0:
      formRows<Vec, 0>(job, reductionBlock, upperLevels);
      break;
    case 1:
      if constexpr (MaxDepth >= 1) formRows<Vec, 1>(job, reductionBlock, upperLevels);
      break;
    case 2:
      if constexpr (MaxDepth >= 2) formRows<Vec, 2>(job, reductionBlock, upperLevels);
      break;
    case 3:
      if constexpr (MaxDepth >= 3) formRows<Vec, 3>(job, reductionBlock, upperLevels);
      break;
    case 4:
      if constexpr (MaxDepth >= 4) formRows<Vec, 4>(job, reductionBlock, upperLevels);
      break;
    case 5:
      if constexpr (MaxDepth >= 5) formRows<Vec, 5>(job, reductionBlock, upperLevels);
      break;
    default:
      if constexpr (MaxDepth >= 6) formRows<Vec, 6>(job, reductionBlock, upperLevels);
      break;
  }
}

}  // namespace kestrav::lane_kernel
