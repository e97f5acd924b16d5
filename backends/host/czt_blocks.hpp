#pragma once
// A long chirp-z zoom as a run of short ones. Outputs k = j m .. j m + m - 1 form block j, itself
// a chirp-z transform of the same N points to m points that starts at start - j m step. The chirp
// and the filter spectrum depend only on N, m and the step, so every block shares them, and a
// block costs one forward and one inverse transform of a length that stays in cache: the zoom
// never has to be held whole. The input of block j is that of block 0 turned by
// e^{j n j m step}, the product of a coarse and a fine turn taken from small tables. A zoom that
// fits in one block is computed exactly as cztHost computes it.
#include <vector>

#include "platform/host/fftw_plans.hpp"
#include "platform/host/vector_types.hpp"

namespace kestrav {

class CztBlocks {
 public:
  // The zoom of the N points x (N >= 1, M >= 1) at the M angular frequencies start - k step.
  // Throws ResourceError when the shared arrays or the plans cannot be had.
  CztBlocks(const double2* x, int N, int M, double step, double start);

  int blockCount() const { return blockCount_; }
  // m: the outputs of every block but the last, which may have fewer.
  int blockLength() const { return blockLength_; }
  int outputsOf(int block) const;
  // Blocks j with the same coarse turn j / blocksPerRun: best evaluated one after another.
  int blocksPerRun() const { return blocksPerRun_; }

  // One worker's buffers: the transform's array and the coarse turn it last used.
  struct Workspace {
    FftwArray<double2> work;
    std::vector<double2> coarseTurn;
    int coarseIndex = -1;
  };
  Workspace makeWorkspace() const;

  // The outputs of block j into out[0 .. outputsOf(j) - 1]. Deterministic: the same block gives
  // the same values bit for bit on any worker.
  void evaluate(int block, Workspace& workspace, double2* out) const;

 private:
  int N_;
  int M_;
  double step_;
  long long fftLength_;
  int blockLength_;
  int blockCount_;
  int blocksPerRun_;
  std::vector<double2> chirp_;      // e^{j k^2 step / 2} for k = 1 - N .. max(m, N) - 1
  FftwArray<double2> filter_;       // spectrum of the conjugate chirp, divided by L
  std::vector<double2> weighted_;   // block 0's input x[n] e^{-j n start} e^{j n^2 step / 2}
  std::vector<double2> fineTurns_;  // row r: e^{j n r m step}, r < blocksPerRun
  FftwPlan forward_;
  FftwPlan inverse_;
};

}  // namespace kestrav
