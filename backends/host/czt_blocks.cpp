#include "backends/host/czt_blocks.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "backends/host/host_paths.hpp"
#include "platform/host/inplace_transform.hpp"
#include "platform/host/worker_threads.hpp"
#include "stages/fine/czt.hpp"
#include "stages/fine/czt_maps.hpp"
#include "stages/fine/signal_maps_double.hpp"

namespace kestrav {
namespace {

// e^{j n x} for n = 0 .. count - 1, from the ramp map with the opposite step.
void fillTurns(double2* turns, int count, double x) {
  for (int n = 0; n < count; ++n) turns[n] = cztRamp(n, -x);
}

}  // namespace

CztBlocks::CztBlocks(const double2* x, int N, int M, double step, double start)
    : N_(N), M_(M), step_(step) {
  // Blocks of m = L - N + 1 outputs with L the smallest power of two not below 2N: the
  // transforms stay short and still yield more outputs than there are inputs.
  const std::int64_t shortLength = cztFftLength(N, N + 1);
  const std::int64_t wholeLength = cztFftLength(N, M);
  fftLength_ = std::min(wholeLength, shortLength);
  blockLength_ = wholeLength <= shortLength ? M : static_cast<int>(shortLength - N + 1);
  blockCount_ = static_cast<int>((std::int64_t{M} + blockLength_ - 1) / blockLength_);
  blocksPerRun_ = std::max(1, static_cast<int>(std::ceil(std::sqrt(double(blockCount_)))));

  const int origin = N - 1;  // the element of k = 0
  const int chirpLength = N + std::max(blockLength_, N) - 1;
  chirp_.resize(static_cast<std::size_t>(chirpLength));
  for (int i = 0; i < chirpLength; ++i) chirp_[i] = cztChirp(i - origin, step, +1);

  const auto L = static_cast<std::size_t>(fftLength_);
  filter_ = makeFftwArray<double2>(L, "the chirp-z filter");
  FftwArray<double2> work = makeFftwArray<double2>(L, "the chirp-z work buffer");
  forward_ = planInPlaceTransforms(filter_.get(), fftLength_, 1, FFTW_FORWARD);
  inverse_ = planInPlaceTransforms(work.get(), fftLength_, 1, FFTW_BACKWARD);

  // The conjugate chirp over k = 1 - N .. m - 1, zero-padded and transformed. Dividing its
  // spectrum by L (a power of two: exact) scales every product exactly as dividing them would.
  const std::size_t filterLength = static_cast<std::size_t>(N) + blockLength_ - 1;
  for (std::size_t i = 0; i < filterLength; ++i) filter_[i] = double2{chirp_[i].x, -chirp_[i].y};
  std::fill(filter_.get() + filterLength, filter_.get() + L, double2{0.0, 0.0});
  transformInPlace(forward_, filter_.get());
  const auto scale = static_cast<double>(fftLength_);
  for (std::size_t i = 0; i < L; ++i) filter_[i] = divide(filter_[i], scale);

  weighted_.resize(static_cast<std::size_t>(N));
  for (int n = 0; n < N; ++n) {
    weighted_[n] = cztRamp(n, start);
    multiplyInPlace(weighted_[n], chirp_[origin + n]);
    multiplyInPlace(weighted_[n], x[n]);
  }
  fineTurns_.resize(static_cast<std::size_t>(blocksPerRun_) * N);
  for (int r = 0; r < blocksPerRun_; ++r) {
    fillTurns(&fineTurns_[static_cast<std::size_t>(r) * N], N,
              static_cast<double>(std::int64_t{r} * blockLength_) * step);
  }
}

int CztBlocks::outputsOf(int block) const {
  const std::int64_t first = std::int64_t{block} * blockLength_;
  return static_cast<int>(std::min<std::int64_t>(blockLength_, M_ - first));
}

CztBlocks::Workspace CztBlocks::makeWorkspace() const {
  Workspace workspace;
  workspace.work =
      makeFftwArray<double2>(static_cast<std::size_t>(fftLength_), "the chirp-z work buffer");
  workspace.coarseTurn.resize(static_cast<std::size_t>(N_));
  return workspace;
}

void CztBlocks::evaluate(int block, Workspace& workspace, double2* out) const {
  double2* work = workspace.work.get();
  if (block == 0) {
    std::copy(weighted_.begin(), weighted_.end(), work);
  } else {
    const int coarse = block / blocksPerRun_;
    const int fine = block % blocksPerRun_;
    if (workspace.coarseIndex != coarse) {
      fillTurns(workspace.coarseTurn.data(), N_,
                static_cast<double>(std::int64_t{coarse} * blocksPerRun_ * blockLength_) * step_);
      workspace.coarseIndex = coarse;
    }
    const double2* fineTurn = &fineTurns_[static_cast<std::size_t>(fine) * N_];
    for (int n = 0; n < N_; ++n) {
      work[n] = complexProduct(complexProduct(weighted_[n], workspace.coarseTurn[n]), fineTurn[n]);
    }
  }
  std::fill(work + N_, work + fftLength_, double2{0.0, 0.0});
  transformInPlace(forward_, work);
  for (std::int64_t i = 0; i < fftLength_; ++i) multiplyInPlace(work[i], filter_[i]);
  transformInPlace(inverse_, work);
  const int origin = N_ - 1;
  const int count = outputsOf(block);
  for (int k = 0; k < count; ++k) multiplyInto(out[k], work[origin + k], chirp_[origin + k]);
}

void cztInBlocks(const double2* x, int N, double2* out, int M, double step, double start) {
  if (N < 1 || M < 1) return;
  const CztBlocks zoom(x, N, M, step, start);
  const int workers = workerCountFor(zoom.blockCount());
  std::vector<CztBlocks::Workspace> workspaces;
  for (int w = 0; w < workers; ++w) workspaces.push_back(zoom.makeWorkspace());
  std::atomic<int> nextBlock{0};
  runOnWorkers(workers, [&](int w) {
    for (int block = nextBlock++; block < zoom.blockCount(); block = nextBlock++) {
      zoom.evaluate(block, workspaces[w], out + std::int64_t{block} * zoom.blockLength());
    }
  });
}

}  // namespace kestrav
