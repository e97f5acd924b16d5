#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where they are missing.
set -euo pipefail
packages=(cmake ninja-build g++ libfftw3-dev libgtest-dev libbenchmark-dev nlohmann-json3-dev
  librsvg2-bin python3 python3-numpy libsndfile1-dev
  pkg-config dpkg-dev file binutils python3-venv python3-setuptools python3-pip
  slurm-wlm python3-distributed ${KESTRAV_EXTRA_PACKAGES:-})
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing: ${missing[*]}"
  # Daemons that come with packages (slurmd, slurmctld, munge) must not start on install: the
  # tests start their own, with their own configuration, and a start that fails for want of one
  # would fail the install. Where the machine has no policy saying so, one is set for the install.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null
    $sudo chmod 755 /usr/sbin/policy-rc.d
    trap '$sudo rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
