#!/usr/bin/env bash
# The checks of the GPU backend on a machine with an NVIDIA GPU, the CUDA toolkit, a C++
# compiler, CMake and ninja, but no network: unpacks the Debian packages that
# tools/fetch_gpu_dependencies.sh left in .gpu-deps/ into a private prefix, builds with CUDA,
# runs the GPU tests (ctest -L cuda: the kernels, the coarse search, the refinement and the
# chirp-z transform against the host, and the program end to end with --backend=cuda against
# --backend=host), a campaign shard with backend cuda against the same on the host, and the GPU
# benchmark, and prints one summary table.
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

# The example campaign planned twice, its search block naming cuda and then host, each run as one
# shard: every job must end alike on both, the GPU's values within the last digit the program
# prints (1 ns, 1 mHz, 0.001 dB), as the end-to-end test holds the program to.
batch_parity() {
  local batch=$build/batch/kestrav-batch scene=$build/tools/kestrav-scene work backend status=0
  if [ ! -x "$batch" ] || [ ! -x "$scene" ] || ! command -v python3 >/dev/null; then
    echo "kestrav-batch, kestrav-scene or python3 missing"
    return 1
  fi
  work=$(mktemp -d)
  "$scene" --out "$work/scene" >/dev/null || status=1
  for backend in cuda host; do
    [ $status -eq 0 ] || break
    python3 -c 'import json, sys
campaign = json.load(open(sys.argv[1]))
campaign["search"]["backend"] = sys.argv[2]
json.dump(campaign, open(sys.argv[3], "w"))' "$work/scene/campaign.json" "$backend" \
      "$work/scene/$backend.json" &&
      "$batch" plan "$work/scene/$backend.json" >"$work/$backend.jsonl" 2>/dev/null &&
      "$batch" run "$work/$backend.jsonl" --shard 0/1 --out "$work/$backend" || status=1
  done
  [ $status -eq 0 ] && python3 - "$work/cuda" "$work/host" <<'COMPARE' || status=1
import glob, json, sys
def results(folder):
    lines = {}
    for name in sorted(glob.glob(folder + "/shard-*.jsonl")):
        for line in open(name):
            record = json.loads(line)
            lines[record["id"]] = record
    return lines
gpu, host = results(sys.argv[1]), results(sys.argv[2])
tolerance = {"delay_s": 1e-9, "frequency_offset_hz": 1e-3, "level_db": 1e-3}
problems = [] if gpu.keys() == host.keys() and gpu else ["the two runs hold different jobs"]
for key in sorted(gpu.keys() & host.keys()):
    a, b = gpu[key], host[key]
    if (a["backend"], b["backend"]) != ("cuda", "host"):
        problems.append(f"{key}: ran on {a['backend']} and {b['backend']}")
    if a["status"] != b["status"]:
        problems.append(f"{key}: status {a['status']} on the GPU, {b['status']} on the host")
    pairs = [(a["best"], b["best"])] + list(zip(a["candidates"], b["candidates"]))
    if (a["best"] is None) != (b["best"] is None):
        problems.append(f"{key}: a best result on one backend only")
    if len(a["candidates"]) != len(b["candidates"]):
        problems.append(f"{key}: {len(a['candidates'])} candidates on the GPU, "
                        f"{len(b['candidates'])} on the host")
    for index, (x, y) in enumerate(pair for pair in pairs if pair[0] and pair[1]):
        for field, limit in tolerance.items():
            if abs(x[field] - y[field]) > limit * 1.0001:
                problems.append(f"{key} [{index}]: {field} {x[field]!r} on the GPU, "
                                f"{y[field]!r} on the host")
        if x.get("class") != y.get("class"):
            problems.append(f"{key} [{index}]: class {x.get('class')} and {y.get('class')}")
print(f"{len(gpu)} jobs compared, {len(problems)} differences")
print("\n".join(problems[:20]))
sys.exit(1 if problems else 0)
COMPARE
  rm -rf "$work"
  return $status
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

  echo "== a campaign shard with backend cuda against the host"
  start=$SECONDS
  if batch_parity; then
    note "campaign shard, cuda vs host" "same results ($(elapsed $start))"
  else
    note "campaign shard, cuda vs host" "FAILED (see above; $(elapsed $start))"
    failed=1
  fi

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
