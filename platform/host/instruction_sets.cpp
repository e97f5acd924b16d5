#include "platform/host/instruction_sets.hpp"

namespace kestrav {

bool instructionSetAvailable(InstructionSet set) {
  switch (set) {
    case InstructionSet::Avx2:
      return true;
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

}  // namespace kestrav
