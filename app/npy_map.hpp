#pragma once
// The coarse surface as a NumPy .npy file (format 1.0): a C-ordered float32 array of
// lagCount rows by L columns.
#include <cstdint>
#include <string>
#include <vector>

namespace kestrav {

// The file's bytes; throws InputError when `levels` is not rows x columns.
std::string formatNpy(const std::vector<float>& levels, std::uint64_t rows, std::uint64_t columns);

}  // namespace kestrav
