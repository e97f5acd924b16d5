#pragma once
// Files the program writes beside its result text. Each is written whole to a temporary file in
// the same directory and then renamed over the target, so that a failed run never leaves a
// partial file nor destroys what was there before.
#include <string>

namespace kestrav {

// Throws InputError when the path cannot be written (no such directory, no permission) and
// ResourceError when writing fails (disk full).
void writeFileAtomically(const std::string& path, const std::string& content, const char* what);

}  // namespace kestrav
