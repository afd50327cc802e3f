#!/usr/bin/env bash
# Runs every benchmark program built under build/bench and prints its JSON.
set -eu
build=${1:-build}
found=0
for b in "$build"/bench/qx_bench_*; do
  [ -x "$b" ] || continue
  found=1
  "$b"
done
[ $found -eq 1 ] || echo "bench: no benchmark programs yet"
