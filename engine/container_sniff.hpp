#pragma once
// Recognises files that hold a container rather than bare samples, by their first bytes.
#include <cstddef>
#include <string>

namespace kestrav {

// How many leading bytes the recognition looks at.
inline constexpr std::size_t SniffBytes = 512;

// What the bytes begin like ("a WAV file (RIFF)", "a tar archive (a SigMF archive?)", ...), or
// an empty string when they could be samples.
std::string containerKind(const unsigned char* bytes, std::size_t size);

}  // namespace kestrav
