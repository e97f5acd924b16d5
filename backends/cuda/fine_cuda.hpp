#pragma once
// The refinement on the GPU: the fine frequency estimate, then the fine delay estimate at the
// corrected offset, each zooming with the GPU's chirp-z transform. The estimates carry the same
// fields as the host's, with the same sizes and grids and the same behaviour at the edges (no
// correction below one block of 2048 samples or without a grid point, InputError for a zoom
// beyond the 32-bit range).
#include <cublas_v2.h>

#include "backends/compute_backend.hpp"

namespace kestrav {

// first and second are device arrays of request.sampleCount int16 samples (refineCuda also takes
// float recordings).
FineEstimate estimateFineFrequencyCuda(const short2* first, const short2* second,
                                       const FineRequest& request, cublasHandle_t handle);
FineEstimate estimateFineDelayCuda(const short2* first, const short2* second,
                                   const FineRequest& request, cublasHandle_t handle);

// Uploads the request's two segments, int16 or float pairs, and runs both estimates.
Refinement refineCuda(const FineRequest& request, cublasHandle_t handle);

}  // namespace kestrav
