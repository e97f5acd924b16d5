// The plain reference: every lag on its own, one product buffer, one row and one transform.
#include <algorithm>
#include <vector>

#include "backends/reference/reference_paths.hpp"
#include "stages/coarse/coarse_row.hpp"
#include "stages/coarse/coarse_search.hpp"
#include "stages/coarse/signal_maps.hpp"

namespace kestrav {

void formDecimatedRowReference(const CoarseRequest& request, const CoarseSizes& sizes, int lag,
                               std::span<float2> products, std::span<float2> row) {
  const std::size_t groupLength = static_cast<std::size_t>(sizes.decimation);
  const std::size_t decimatedLength = static_cast<std::size_t>(sizes.decimatedLength);
  withSegments(request.segments, [&](auto first, auto second) {
    second = second.subspan(static_cast<std::size_t>(lag));
    for (std::size_t i = 0; i < groupLength * decimatedLength; ++i) {
      products[i] = conjugateProduct(toFloat2(first[i]), toFloat2(second[i]));
    }
  });
  for (std::size_t b = 0; b < decimatedLength; ++b) {
    row[b] = decimateGroup(&products[b * groupLength], sizes.decimation);
  }
  std::fill(row.begin() + static_cast<std::ptrdiff_t>(decimatedLength), row.end(), float2{});
}

void coarseSearchReference(const CoarseRequest& request, std::span<LagCell> cells) {
  const CoarseSizes sizes = startCoarseSearch(request, cells);
  if (sizes.fftLength == 0) return;

  const std::size_t fftLength = sizes.fftLength;
  std::vector<float2> products(static_cast<std::size_t>(sizes.decimation) *
                               static_cast<std::size_t>(sizes.decimatedLength));
  FftwArray<float2> row = makeFftwArray<float2>(fftLength, "the reference spectrum row");
  const FftwfPlan plan = planRowTransforms(fftLength, 1, row.get());
  const std::span<float2> rowValues(row.get(), fftLength);
  for (int lag = 0; lag < request.lagCount; ++lag) {
    formDecimatedRowReference(request, sizes, lag, products, rowValues);
    fftwf_execute(plan.get());
    cells[static_cast<std::size_t>(lag)] = evaluateSpectrum(rowValues, lag, sizes.decimatedRate);
    if (request.progress) request.progress(lag + 1);
  }
}

}  // namespace kestrav
