#include "stages/coarse/ambiguity_probe.hpp"

#include <fftw3.h>

#include <climits>
#include <string>

#include "platform/host/errors.hpp"
#include "platform/host/fftw_plans.hpp"

namespace kestrav {

std::vector<Cell> transformPhases(std::vector<Cell> phases) {
  if (phases.size() > static_cast<std::size_t>(INT_MAX)) {
    throw ResourceError("too many images to compare");
  }
  if (phases.size() <= 1) return phases;
  auto* data = reinterpret_cast<fftw_complex*>(phases.data());
  fftw_plan raw = nullptr;
  {
    std::lock_guard lock(fftwPlannerLock());
    raw =
        fftw_plan_dft_1d(static_cast<int>(phases.size()), data, data, FFTW_FORWARD, FFTW_ESTIMATE);
  }
  if (raw == nullptr) throw ResourceError("cannot plan the comparison of images");
  const FftwPlan plan(raw);
  fftw_execute(plan.get());
  return phases;
}

std::vector<double> spectrumPower(std::span<const Cell> values, std::uint64_t L) {
  if (L > static_cast<std::uint64_t>(INT_MAX) || values.size() > L) {
    throw ResourceError("a spectrum of " + std::to_string(L) + " points cannot be formed");
  }
  auto row = makeFftwArray<Cell>(L, "one lag's spectrum");
  for (std::uint64_t j = 0; j < L; ++j) row[j] = j < values.size() ? values[j] : Cell{};
  fftw_plan raw = nullptr;
  {
    std::lock_guard lock(fftwPlannerLock());
    auto* data = reinterpret_cast<fftw_complex*>(row.get());
    raw = fftw_plan_dft_1d(static_cast<int>(L), data, data, FFTW_FORWARD, FFTW_ESTIMATE);
  }
  if (raw == nullptr) throw ResourceError("cannot plan one lag's spectrum");
  const FftwPlan plan(raw);
  fftw_execute(plan.get());
  std::vector<double> power(L);
  for (std::uint64_t j = 0; j < L; ++j) power[j] = std::norm(row[j]);
  return power;
}

}  // namespace kestrav
