#!/usr/bin/env bash
# The checks of the GPU backend on a machine with an NVIDIA GPU, the CUDA toolkit, a C++
# compiler, CMake and ninja, but no network: unpacks the Debian packages that
# tools/fetch_gpu_dependencies.sh left in .gpu-deps/ into a private prefix, builds with CUDA,
# runs the GPU tests (ctest -L cuda: the kernels, the coarse search, the refinement and the
# chirp-z transform against the host, and the program end to end with --backend=cuda against
# --backend=host) and the GPU benchmark, and prints one summary table.
#
# Environment: KESTRAV_CUDA_ARCHITECTURES (default 90, the H100's and H200's; empty for the
# project's full list), KESTRAV_GPU_BUILD (default /tmp/kestrav-gpu-build), KESTRAV_GPU_PREFIX
# (default /tmp/kestrav-gpu-prefix), KESTRAV_GPU_DEPS (default .gpu-deps).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
deps=${KESTRAV_GPU_DEPS:-$root/.gpu-deps}
prefix=${KESTRAV_GPU_PREFIX:-/tmp/kestrav-gpu-prefix}
build=${KESTRAV_GPU_BUILD:-/tmp/kestrav-gpu-build}
architectures=${KESTRAV_CUDA_ARCHITECTURES-90}
jobs=$(nproc)
summary=()
failed=0

note() { summary+=("$(printf '%-34s | %s' "$1" "$2")"); }
elapsed() { echo "$((SECONDS - $1)) s"; }

# Unpacks every .deb without installing it: dpkg -x where dpkg exists, else ar and tar.
unpack() {
  local deb work
  mkdir -p "$prefix"
  for deb in "$deps"/*.deb; do
    [ -e "$deb" ] || { echo "no packages in $deps: run tools/fetch_gpu_dependencies.sh first"; return 1; }
    if command -v dpkg >/dev/null; then
      dpkg -x "$deb" "$prefix" || return 1
    else
      work=$(mktemp -d)
      (cd "$work" && ar x "$deb" && tar -xf data.tar.* -C "$prefix") || return 1
      rm -rf "$work"
    fi
  done
}

echo "== device"
if command -v nvidia-smi >/dev/null; then
  nvidia-smi --query-gpu=name,memory.total,driver_version --format=csv,noheader 2>&1 | head -4
else
  echo "(no nvidia-smi here)"
fi

echo "== dependencies from $deps into $prefix"
start=$SECONDS
if unpack; then
  note "dependencies" "unpacked $(ls "$deps"/*.deb | wc -l) packages ($(elapsed $start))"
else
  note "dependencies" "FAILED"
  failed=1
fi
libdir=$prefix/usr/lib/x86_64-linux-gnu
export LD_LIBRARY_PATH=$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}

echo "== build in $build"
start=$SECONDS
configure=(cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
           -DKESTRAV_WARNINGS_AS_ERRORS=OFF "-DCMAKE_PREFIX_PATH=$prefix/usr"
           "-DCMAKE_LIBRARY_PATH=$libdir" "-DCMAKE_INCLUDE_PATH=$prefix/usr/include")
[ -n "$architectures" ] && configure+=("-DCMAKE_CUDA_ARCHITECTURES=$architectures")
if "${configure[@]}" >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; false; }; then
  grep -E "kestrav:|FFTW3|GTest" "$build.configure.log"
  if cmake --build "$build" -j "$jobs" 2>&1 | tail -3 && [ -x "$build/bench/gpu_bench" ]; then
    note "build (CUDA ${architectures:-default})" "ok ($(elapsed $start))"
  else
    note "build" "FAILED (no CUDA backend or compile errors; see above)"
    failed=1
  fi
else
  note "configure" "FAILED"
  failed=1
fi

if [ -x "$build/bench/gpu_bench" ]; then
  echo "== the program loads the CUDA module"
  version=$("$build/app/kestrav" --version 2>&1 | grep '^GPU:')
  echo "$version"
  case "$version" in
    "GPU: none"*) note "CUDA module" "NOT LOADED: $version"; failed=1 ;;
    *) note "CUDA module" "loaded (${version#GPU: })" ;;
  esac

  echo "== ctest -L cuda"
  start=$SECONDS
  (cd "$build" && ctest -L cuda --output-on-failure -j 4 --timeout 300) | tee "$build.ctest.log" | tail -40
  tests=$(grep -E "tests passed|tests failed" "$build.ctest.log" | tail -1)
  skipped=$(grep -c "\*\*\*Skipped\|Not Run" "$build.ctest.log")
  grep -q "100% tests passed" "$build.ctest.log" || failed=1
  note "ctest -L cuda" "${tests:-no result} ($skipped skipped, $(elapsed $start))"
  grep -h "^note:" "$build"/Testing/Temporary/LastTest.log 2>/dev/null | sort -u | head -5

  echo "== GPU benchmark"
  start=$SECONDS
  if "$build/bench/gpu_bench" 5 | tee "$build.bench.log"; then
    note "gpu_bench" "ok ($(elapsed $start))"
  else
    note "gpu_bench" "FAILED: a check against the host did not hold ($(elapsed $start))"
    failed=1
  fi
fi

echo
echo "== summary"
printf '%s\n' "${summary[@]}"
[ -s "$build.bench.log" ] && cat "$build.bench.log"
exit $failed
