#!/usr/bin/env bash
# Installs the build into a scratch prefix and uses it as other people would: a CMake project
# with find_package(Kestrav), a C program built with pkg-config, the Debian packages' contents
# and dependencies, and the Python package installed with pip into a fresh virtual environment.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
"$build/tools/kestrav-synth" --first="$work/a.iq" --second="$work/b.iq" --samples=65536 \
  --rate=1000000 --delay-us=12.5 --offset-hz=300 --seed=5 >/dev/null
expect_result() {  # the delay within one sample, the offset within one coarse bin
  awk -v d="$1" -v f="$2" -v what="$3" '{ if ($1 < d - 1 || $1 > d + 1 || $2 < f - 2 || $2 > f + 2) {
    print what ": wrong result " $0 > "/dev/stderr"; exit 1 } }'
}

echo "== find_package(Kestrav)"
cmake -S "$source/tests/install/consumer" -B "$work/consumer" -G Ninja \
  "-DCMAKE_PREFIX_PATH=$prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
LD_LIBRARY_PATH=$prefix/lib "$work/consumer/consumer" "$work/a.iq" "$work/b.iq" 65536 1e6 100 |
  tee "$work/cmake.out" | expect_result 12.5 300 "CMake consumer"

echo "== pkg-config --cflags --libs kestrav"
flags=$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags --libs kestrav)
cc -o "$work/pc_consumer" "$source/tests/install/search_pair.c" $flags
LD_LIBRARY_PATH=$prefix/lib "$work/pc_consumer" "$work/a.iq" "$work/b.iq" 65536 1e6 100 |
  expect_result 12.5 300 "pkg-config consumer"
# Not piped: grep -q stops reading at the match, and objdump's SIGPIPE would fail the pipeline.
grep -q 'SONAME *libkestrav.so.0' <<<"$(objdump -p "$prefix/lib/libkestrav.so")" ||
  { echo "libkestrav.so has no SONAME libkestrav.so.0" >&2; exit 1; }

echo "== kestrav_search from C: the document the installed program prints"
cc -std=c99 -Wall -Werror -o "$work/json_consumer" "$source/tests/install/search_json.c" $flags
"$prefix/bin/kestrav" -m "$work/a.iq" -a "$work/b.iq" -s 65536 -f 1000000 -c 0 -r 100 -j 0 -t 15 \
  --json >"$work/program.json"
LD_LIBRARY_PATH=$prefix/lib "$work/json_consumer" "$work/a.iq" "$work/b.iq" 1e6 100 \
  >"$work/entry.json"
/usr/bin/python3 - "$work/program.json" "$work/entry.json" <<'PYTHON'
import json, sys
printed, returned = (json.load(open(path)) for path in sys.argv[1:3])
for document in (printed, returned):
    del document["timings_s"]
assert returned == printed, "kestrav_search and the program disagree"
PYTHON

echo "== pip install --no-build-isolation --no-index into a virtual environment"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
cp -r "$source/python" "$work/python"  # pip builds in the folder it is given: not the checkout
PIP_DISABLE_PIP_VERSION_CHECK=1 "$work/venv/bin/pip" install --quiet --no-build-isolation \
  --no-index "$work/python" >/dev/null
(cd "$work" && KESTRAV_LIBRARY=$prefix/lib/libkestrav.so.0 "$work/venv/bin/python" - \
  "$work/venv" "$work/a.iq" "$work/b.iq" "$work/program.json" <<'PYTHON'
import json, os, sys
import kestrav
venv, first, second, printed = sys.argv[1:5]
assert os.path.realpath(kestrav.__file__).startswith(os.path.realpath(venv)), kestrav.__file__
import kestrav.batch  # the campaign adapter ships with the package, importable without Dask
assert os.path.realpath(kestrav.batch.__file__).startswith(os.path.realpath(venv))
expected = json.load(open(printed))["results"]
results = kestrav.search(first, second, sample_rate=1e6, delay_window=100 * 0.000001)
assert len(results) == len(expected) > 0, (len(results), len(expected))
for got, want in zip(results, expected):
    pairs = [(got.delay, want["delay_s"]), (got.frequency_offset, want["frequency_offset_hz"]),
             (got.level, want["level_db"]), (got.precise_delay, want.get("precise_delay_s")),
             (got.precise_frequency_offset, want.get("precise_frequency_offset_hz")),
             (got.sigma_delay, want.get("sigma_delay_s")),
             (got.sigma_frequency_offset, want.get("sigma_frequency_offset_hz"))]
    assert all(a == b for a, b in pairs), pairs
assert results[0].sigma_delay is not None and results[0].sigma_delay > 0
assert kestrav.__version__ == kestrav.library_version()
PYTHON
)

echo "== the installed program finds nothing of CUDA it does not need"
"$prefix/bin/kestrav" --version | grep -q '^backends: reference, host'
"$prefix/bin/kestrav" -m "$work/a.iq" -a "$work/b.iq" -s 65536 -f 1000000 -c 0 -r 100 -j 0 -t 15 |
  grep -q '^[1-9]'
"$prefix/bin/kestrav-batch" --help | grep -q '^usage: kestrav-batch'

echo "== cpack -G DEB"
(cd "$build" && cpack -G DEB -B "$work/packages" >/dev/null)
deb=$(ls "$work"/packages/kestrav_*.deb)
grep -q libfftw3 <<<"$(dpkg-deb -f "$deb" Depends)" ||
  { echo "the kestrav package does not depend on FFTW" >&2; exit 1; }
contents=$(dpkg-deb -c "$deb")
grep -q './usr/bin/kestrav$' <<<"$contents"
grep -q './usr/bin/kestrav-batch$' <<<"$contents"
grep -q 'include/kestrav/kestrav.h' <<<"$contents"
if grep -q '^KESTRAV_HAVE_CUDA:INTERNAL=ON' "$build/CMakeCache.txt" 2>/dev/null ||
   [ -e "$build/lib/libkestrav-cuda.so" ]; then
  cuda_deb=$(ls "$work"/packages/kestrav-cuda_*.deb)
  grep -q 'libkestrav-cuda.so' <<<"$(dpkg-deb -c "$cuda_deb")"
fi
echo "install checks passed"
