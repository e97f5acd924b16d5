#pragma once
// The element a thread of a one-dimensional launch works on, before the launch's base offset.
#include <cuda_runtime.h>

namespace kestrav {

__device__ inline int threadIndex() {
  return static_cast<int>(blockIdx.x * blockDim.x + threadIdx.x);
}

}  // namespace kestrav
