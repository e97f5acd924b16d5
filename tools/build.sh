#!/usr/bin/env bash
# Configures and builds into build/ (warnings are errors). Extra arguments go to CMake.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install_dependencies.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKESTRAV_WARNINGS_AS_ERRORS=ON "$@" >/dev/null
cmake --build "$root/build"
