#pragma once
// Element arithmetic is written once and compiled for both the host and the device.
#if defined(__CUDACC__)
#define KESTRAV_HD __host__ __device__ inline
#else
#define KESTRAV_HD inline
#endif
