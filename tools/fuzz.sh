#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for FUZZ_SECONDS
# (default 60) from the seed corpus in tests/fuzz/corpus. Any finding fails the run; its input
# is kept in build-fuzz/findings/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-60}
KESTRAV_EXTRA_PACKAGES="clang libclang-rt-14-dev" "$root/tools/install_dependencies.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKESTRAV_FUZZ=ON -DKESTRAV_ENABLE_CUDA=OFF -DKESTRAV_BUILD_TESTS=OFF \
  -DKESTRAV_BUILD_BENCHMARKS=OFF -DKESTRAV_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$root/build-fuzz"
findings="$root/build-fuzz/findings"
mkdir -p "$findings"
status=0
for target in option_parser_fuzz command_line_fuzz sample_loader_fuzz recording_fuzz \
  batch_inputs_fuzz; do
  corpus=$(mktemp -d)
  log="$root/build-fuzz/$target.log"
  if ASAN_OPTIONS=allocator_may_return_null=1 "$root/build-fuzz/tests/fuzz/$target" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$findings/$target-" "$corpus" "$root/tests/fuzz/corpus/$target" \
      >"$log" 2>&1; then
    summary=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
    echo "$target: ${summary:-done}"
  else
    echo "$target: FINDING (see $log and $findings)"
    tail -30 "$log"
    status=1
  fi
  rm -rf "$corpus"
done
exit $status
