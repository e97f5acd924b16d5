#pragma once
// Files the program writes beside its result text. A regular file is written whole to a temporary
// file in its directory and then renamed over the target, so that a failed run never leaves a
// partial file nor destroys what was there before. The path is written where it points: a
// symbolic link is followed and its target replaced, a FIFO or a device (/dev/stdout, /dev/null)
// is written directly, and anything else (a directory, a socket) is refused untouched.
#include <string>

namespace kestrav {

// Throws InputError when the path cannot be written (no such directory, no permission, not a
// file) and ResourceError when writing fails (disk full).
void writeFileAtomically(const std::string& path, const std::string& content, const char* what);

}  // namespace kestrav
