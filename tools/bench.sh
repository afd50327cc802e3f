#!/usr/bin/env bash
# Runs every benchmark program built under BUILD-DIR/bench and prints its JSON;
# then, when Harbour is installed (HARBOUR_PREFIX, default /opt/harbour),
# builds its hbbench and runs ours and Harbour's side by side
# (tools/bench_vs_harbour.py, QX_BENCH_ROUNDS rounds, default 3).
#
# usage: bench.sh [BUILD-DIR]   (default build-bench, a tree configured with
#        -DQX_BUILD_BENCH=ON, as `make bench` makes it)
set -eu
build=${1:-build-bench}
if [ ! -d "$build/bench" ]; then
  echo "bench: no $build/bench: configure that tree with" \
    "-DQX_BUILD_BENCH=ON and build it (make bench does, in build-bench)" >&2
  exit 1
fi
root=$(cd "$(dirname "$0")/.." && pwd)
shared=${QX_SHARED_DIR:-$root/../shared}
hbmk2=${HARBOUR_PREFIX:-/opt/harbour}/bin/hbmk2
hbbench="$build/bench/hbbench"

if [ -x "$hbmk2" ] && [ -f "$shared/tools/harbour/hbbench.prg" ]; then
  if [ ! -x "$hbbench" ] || [ "$shared/tools/harbour/hbbench.prg" -nt "$hbbench" ]; then
    (cd "$build/bench" &&
      "$hbmk2" -q -gtcgi "$shared/tools/harbour/hbbench.prg" -ohbbench \
        > hbbench.log 2>&1) || { cat "$build/bench/hbbench.log" >&2; exit 1; }
  fi
  # The driver benchmark compares its key-order figures with Harbour's too.
  export QX_BENCH_HBBENCH=$(cd "$build/bench" && pwd)/hbbench
else
  hbbench=""
  echo "bench: Harbour is not installed (make peers): no side-by-side figures" >&2
fi

found=0
for b in "$build"/bench/qx_bench_*; do
  [ -x "$b" ] || continue
  found=1
  "$b"
done
[ $found -eq 1 ] || echo "bench: no benchmark programs yet"

if [ -n "$hbbench" ]; then
  python3 "$root/tools/bench_vs_harbour.py" "$build" "$hbbench" \
    "${QX_BENCH_ROUNDS:-3}"
fi
