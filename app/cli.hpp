#pragma once
// The whole command-line program as a function: argv in; the result text, the diagnostics and
// the exit status out. main() is this function on the process's own streams.
#include <cstdio>

namespace kestrav {

class ComputeBackend;

// `backendOverride`, when given, runs the search in place of the backend the options name.
int runCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err,
                   ComputeBackend* backendOverride = nullptr);

}  // namespace kestrav
