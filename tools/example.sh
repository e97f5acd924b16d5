#!/usr/bin/env bash
# Builds, generates the example pair with a known delay and frequency offset, searches it, and
# prints the truth beside the result.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$root/build/tools/kestrav-synth" --first="$work/first.iq" --second="$work/second.iq" \
  --samples=262144 --rate=1000000 --delay-us=123.4567 --offset-hz=-1234.5678 --snr-db=20 \
  --seed=1 | tee "$work/truth.txt"
command=$(sed -n 's/^search: kestrav //p' "$work/truth.txt")
echo "running: kestrav $command"
# shellcheck disable=SC2086  # the printed command line is split into its words on purpose
result=$("$root/build/app/kestrav" $command)
echo "result:  ${result:-(no result)}"
echo "(count:delay us*frequency offset Hz*level dB+ for each result, strongest first)"
