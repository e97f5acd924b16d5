#pragma once
// The lane kernel, written once over a vector type and instantiated by one unit per instruction
// set. Those units are compiled for their own set, so this header holds nothing but templates over
// the unit's own vector type and calls nothing inline from elsewhere: no function compiled for
// AVX-512 can be picked by the linker for code that must run with AVX2 alone.
//
// A vector type provides Type, Lanes, RegisterDepth and broadcast, load, store, add, sub, mul and
// fmadd, each one instruction that rounds once.
#include <cstddef>

#include "tdc/coarse_lanes.hpp"

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

struct Inputs {
  const float2* first;
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
  const typename Vec::Type ax = Vec::broadcast(&in.first[i].x);
  const typename Vec::Type ay = Vec::broadcast(&in.first[i].y);
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

inline int reverseBits(int value, int bits) {
  int reversed = 0;
  for (int b = 0; b < bits; ++b) reversed |= ((value >> b) & 1) << (bits - 1 - b);
  return reversed;
}

// Outputs gathered in lane order before they are written out row by row.
inline constexpr int TileOutputs = 8;

// Every decimated output of the group: the tree's top levels (above the register subtrees) run
// over the subtree roots in bit-reversed order, where the device's pairs are neighbours, with a
// binary-counter stack.
template <class Vec, int Depth>
void formRows(const LaneGroupJob& job, const Inputs& in, int upperLevels) {
  constexpr int Lanes = 2 * Vec::Lanes;
  const int roots = 1 << upperLevels;
  alignas(64) float tileRe[TileOutputs][Lanes];
  alignas(64) float tileIm[TileOutputs][Lanes];
  Node<Vec> stack[32];
  for (int b0 = 0; b0 < job.decimatedLength; b0 += TileOutputs) {
    const int count =
        job.decimatedLength - b0 < TileOutputs ? job.decimatedLength - b0 : TileOutputs;
    for (int o = 0; o < count; ++o) {
      const std::ptrdiff_t base = static_cast<std::ptrdiff_t>(b0 + o) * job.decimation;
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
    for (int lane = 0; lane < job.rowCount; ++lane) {
      float2* row = job.rows + static_cast<std::size_t>(lane) * job.rowStride + b0;
      for (int o = 0; o < count; ++o) row[o] = float2{tileRe[o][lane], tileIm[o][lane]};
    }
  }
}

template <class Vec>
void formLaneGroup(const LaneGroupJob& job) {
  int levels = 0;  // log2 P
  while ((2 << levels) <= job.decimation) ++levels;
  const Inputs in{job.first, job.secondReal, job.secondImag, job.decimation, 1 << levels};
  constexpr int MaxDepth = Vec::RegisterDepth;
  static_assert(MaxDepth >= 0 && MaxDepth <= 6);
  const int depth = levels < MaxDepth ? levels : MaxDepth;
  const int upperLevels = levels - depth;
  switch (depth) {
    case 0: formRows<Vec, 0>(job, in, upperLevels); break;
    case 1: if constexpr (MaxDepth >= 1) formRows<Vec, 1>(job, in, upperLevels); break;
    case 2: if constexpr (MaxDepth >= 2) formRows<Vec, 2>(job, in, upperLevels); break;
    case 3: if constexpr (MaxDepth >= 3) formRows<Vec, 3>(job, in, upperLevels); break;
    case 4: if constexpr (MaxDepth >= 4) formRows<Vec, 4>(job, in, upperLevels); break;
    case 5: if constexpr (MaxDepth >= 5) formRows<Vec, 5>(job, in, upperLevels); break;
    default: if constexpr (MaxDepth >= 6) formRows<Vec, 6>(job, in, upperLevels); break;
  }
}

}  // namespace kestrav::lane_kernel
