#include "tdc/coarse_lanes.hpp"

#include <algorithm>

#include "tdc/signal_maps.hpp"

namespace kestrav {

bool instructionSetAvailable(InstructionSet set) {
  switch (set) {
    case InstructionSet::Avx2:
      return true;  // the build's baseline
    case InstructionSet::Avx512:
      // The run-time check also asks whether the operating system saves the wide registers.
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
             __builtin_cpu_supports("avx512dq");
  }
  return false;
}

InstructionSet widestInstructionSet() {
  static const InstructionSet widest = instructionSetAvailable(InstructionSet::Avx512)
                                           ? InstructionSet::Avx512
                                           : InstructionSet::Avx2;
  return widest;
}

int lagsPerLaneGroup(InstructionSet set) { return set == InstructionSet::Avx512 ? 32 : 16; }

LaneRecordings prepareLaneRecordings(const CoarseRequest& request, const CoarseSizes& sizes) {
  const std::size_t used =
      static_cast<std::size_t>(sizes.decimation) * static_cast<std::size_t>(sizes.decimatedLength);
  const std::size_t secondCount =
      static_cast<std::size_t>(request.sampleCount) + static_cast<std::size_t>(request.lagCount);
  const std::size_t padding = static_cast<std::size_t>(lagsPerLaneGroup(InstructionSet::Avx512));
  LaneRecordings recordings;
  recordings.first.resize(used);
  recordings.secondReal.assign(secondCount + padding, 0.0f);
  recordings.secondImag.assign(secondCount + padding, 0.0f);
  for (std::size_t i = 0; i < used; ++i) recordings.first[i] = toFloat2(request.first[i]);
  for (std::size_t i = 0; i < secondCount; ++i) {
    recordings.secondReal[i] = static_cast<float>(request.second[i].x);
    recordings.secondImag[i] = static_cast<float>(request.second[i].y);
  }
  return recordings;
}

void formLaneGroupRows(InstructionSet set, const LaneRecordings& recordings,
                       const CoarseSizes& sizes, int firstLag, int rowCount, float2* rows,
                       std::size_t rowStride) {
  LaneGroupJob job;
  job.first = recordings.first.data();
  job.secondReal = recordings.secondReal.data() + firstLag;
  job.secondImag = recordings.secondImag.data() + firstLag;
  job.decimation = sizes.decimation;
  job.decimatedLength = sizes.decimatedLength;
  job.rowCount = rowCount;
  job.rows = rows;
  job.rowStride = rowStride;
  if (set == InstructionSet::Avx512) {
    formLaneGroupAvx512(job);
  } else {
    formLaneGroupAvx2(job);
  }
  for (int r = 0; r < rowCount; ++r) {
    float2* row = rows + static_cast<std::size_t>(r) * rowStride;
    std::fill(row + sizes.decimatedLength, row + sizes.fftLength, float2{0.0f, 0.0f});
  }
}

}  // namespace kestrav
