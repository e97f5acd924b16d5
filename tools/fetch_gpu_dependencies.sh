#!/usr/bin/env bash
# Downloads, here, the Debian 12 packages that the build needs on a GPU machine without network
# access (FFTW, GoogleTest, Google Benchmark) into .gpu-deps/. tests/gpu/check.sh unpacks them
# there into a private prefix; the machine brings the CUDA toolkit, a C++ compiler, CMake and
# ninja itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
packages=(libfftw3-dev libfftw3-single3 libfftw3-double3 libgtest-dev libbenchmark-dev
          libbenchmark1debian nlohmann-json3-dev)
mkdir -p "$root/.gpu-deps"
cd "$root/.gpu-deps"
rm -f ./*.deb
if ! apt-get download "${packages[@]}"; then
  # The package lists may be missing or stale on a fresh machine.
  apt-get update -qq
  apt-get download "${packages[@]}"
fi
ls -l ./*.deb
