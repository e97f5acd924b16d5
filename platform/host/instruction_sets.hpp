#pragma once
// The vector instruction sets the host kernels are built for. AVX2 is the build's baseline; the
// AVX-512 kernels live in units of their own, compiled for it, and run only after a run-time
// check.
namespace kestrav {

enum class InstructionSet { Avx2, Avx512 };

// Whether this processor (and its operating system) can run the set.
bool instructionSetAvailable(InstructionSet set);
// AVX-512 where available, AVX2 otherwise.
InstructionSet widestInstructionSet();

}  // namespace kestrav
