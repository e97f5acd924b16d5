#pragma once
// How a GPU path fails, one rule for every unit:
// - A runtime or cuFFT call at a fixed site, a GpuSite of its unit's table, goes through GpuCheck:
//   a status other than success prints "CUDA error at <label>:<line> code=<code>(<name>) " on
//   standard error, resets the device and ends the process with status 1. The label names the
//   unit ("tdc" or "czt") and the line is the site's fixed number, whatever line the call
//   occupies here; both are part of the program's behaviour.
// - A cuFFT or cuBLAS call without a fixed site, whose failure would leave a result that cannot be
//   read (a plan not made, a transform not run, no handle, no index), throws ResourceError
//   through throwOnFftFailure or throwOnBlasFailure; so does work beyond the device path's 32-bit
//   lengths. The caller reports it, and the host backend may still do the work.
// - A request the device path cannot serve as asked (a layout not planned, arrays too small)
//   throws InputError.
// - A runtime status discarded at its call on a search path (static_cast<void>) is read by the
//   next launch check: the runtime keeps a failed call's status until cudaGetLastError takes it.
//   Destructors free without a check, and only while an exception unwinds.
#include <cublas_api.h>
#include <cuda_runtime_api.h>
#include <cufft.h>

#include <span>
#include <string>

#include "platform/host/errors.hpp"

namespace kestrav {

inline constexpr const char* TdcLabel = "tdc";
inline constexpr const char* CztLabel = "czt";

// A checked call's place in the messages: its unit's label and its fixed number.
struct GpuSite {
  const char* label;
  int line;
};

// True when every site of the table carries the label and no number repeats.
constexpr bool isSiteTable(std::span<const GpuSite> sites, const char* label) {
  for (std::size_t i = 0; i < sites.size(); ++i) {
    if (sites[i].label != label || sites[i].line < 1) return false;
    for (std::size_t j = i + 1; j < sites.size(); ++j) {
      if (sites[i].line == sites[j].line) return false;
    }
  }
  return true;
}

void GpuCheck(cudaError_t status, const char* label, int line);
void GpuCheck(cufftResult status, const char* label, int line);
inline void GpuCheck(cudaError_t status, GpuSite site) { GpuCheck(status, site.label, site.line); }
inline void GpuCheck(cufftResult status, GpuSite site) { GpuCheck(status, site.label, site.line); }

// Throw ResourceError "the GPU cannot <what> (cuFFT status <code>)" on a failure; the cuBLAS form
// likewise.
void throwOnFftFailure(cufftResult status, const std::string& what);
void throwOnBlasFailure(cublasStatus_t status, const std::string& what);

}  // namespace kestrav
