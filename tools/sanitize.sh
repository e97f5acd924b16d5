#!/usr/bin/env bash
# Builds the whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer (host backend
# only) into build-sanitize/ and runs it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install_dependencies.sh"
cmake -S "$root" -B "$root/build-sanitize" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTRAV_SANITIZE=ON -DKESTRAV_ENABLE_CUDA=OFF -DKESTRAV_BUILD_BENCHMARKS=OFF \
  -DKESTRAV_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$root/build-sanitize"
cd "$root/build-sanitize"
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$(nproc)"
