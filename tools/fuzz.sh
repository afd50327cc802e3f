#!/usr/bin/env bash
# Runs the libFuzzer targets that `make fuzz` builds, each for SECONDS:
#
#   tools/fuzz.sh SECONDS [TARGET...]     (default: every target)
#
# Per target: the seeds are made afresh in build-fuzz/seeds/<target>/ (the
# files the engine writes, from the target itself, plus the real files of
# ../shared/fixtures/real/ of its kind); the corpus the fuzzer grows lives
# in build-fuzz/corpus/<target>/ and is kept between runs; crash, leak,
# timeout and out-of-memory inputs go to build-fuzz/findings/<target>/ and
# the run's log to build-fuzz/logs/<target>.log. Prints the executions of
# each target; fails when any target found something.
# QX_FUZZ_BUILD names another build tree; QX_FUZZ_JOBS > 1 runs that many
# fuzzing processes per target (libFuzzer's -jobs/-workers).
set -u
cd "$(dirname "$0")/.."
seconds="${1:?usage: tools/fuzz.sh SECONDS [TARGET...]}"
shift
build="${QX_FUZZ_BUILD:-build-fuzz}"
jobs="${QX_FUZZ_JOBS:-1}"
fixtures="$(pwd)/../shared/fixtures/real"
all=(fuzz_dbf fuzz_dbt fuzz_fpt fuzz_ndx fuzz_mdx fuzz_ntx fuzz_idx fuzz_cdx
     fuzz_expr fuzz_date fuzz_ini fuzz_key_formula)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

# Longest input per target: a few KB to 64 KB as fits the format.
max_len() {
  case "$1" in
    fuzz_dbf|fuzz_dbt|fuzz_fpt|fuzz_mdx|fuzz_cdx) echo 65536 ;;
    fuzz_ndx|fuzz_ntx|fuzz_idx) echo 32768 ;;
    fuzz_ini) echo 4096 ;;
    fuzz_expr|fuzz_key_formula) echo 512 ;;
    fuzz_date) echo 64 ;;
  esac
}

# Copies the real files of pattern (case ignored) into dir.
copy_real() {
  local dir="$1" pattern="$2" f
  [ -d "$fixtures" ] || return 0
  while IFS= read -r f; do
    cp "$f" "$dir/real-$(echo "${f#"$fixtures"/}" | tr '/' '_')"
  done < <(find "$fixtures" -type f -iname "$pattern" -size -1024k)
}

# A data file seed is the table followed by its memo file (as fuzz_dbf
# splits its input).
copy_real_tables() {
  local dir="$1" f base memo out
  [ -d "$fixtures" ] || return 0
  while IFS= read -r f; do
    out="$dir/real-$(echo "${f#"$fixtures"/}" | tr '/' '_')"
    cp "$f" "$out"
    base="${f%.*}"
    memo="$(find "$(dirname "$f")" -maxdepth 1 -type f \
      \( -iname "$(basename "$base").dbt" -o -iname "$(basename "$base").fpt" \) | head -1)"
    [ -n "$memo" ] && cat "$memo" >> "$out"
  done < <(find "$fixtures" -type f -iname '*.dbf' -size -1024k)
}

# Key expressions of the real indexes, one seed each.
copy_real_expressions() {
  local dir="$1"
  [ -d "$fixtures" ] || return 0
  python3 - "$fixtures" "$dir" <<'PY'
import json, pathlib, sys
root, out = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
seen = set()
for info in root.glob("*/expected/*.info.json"):
    try:
        data = json.loads(info.read_text())
    except Exception:
        continue
    def walk(node):
        if isinstance(node, dict):
            for key, value in node.items():
                if "expression" in key and isinstance(value, str) and value:
                    seen.add(value)
                else:
                    walk(value)
        elif isinstance(node, list):
            for value in node:
                walk(value)
    walk(data)
for n, text in enumerate(sorted(seen)):
    (out / f"real-{n}").write_text(text, encoding="latin-1", errors="replace")
PY
}

mkdir -p "$build/corpus" "$build/seeds" "$build/findings" "$build/logs" \
  "$build/fuzz-work"
failed=()
for t in "${targets[@]}"; do
  bin="$build/tests/fuzz/$t"
  if [ ! -x "$bin" ]; then
    echo "fuzz: $bin is missing (make fuzz)" >&2
    failed+=("$t")
    continue
  fi
  bin="$(cd "$(dirname "$bin")" && pwd)/$t"
  seeds="$(pwd)/$build/seeds/$t"
  corpus="$(pwd)/$build/corpus/$t"
  findings="$(pwd)/$build/findings/$t"
  log="$(pwd)/$build/logs/$t.log"
  rm -rf "$seeds"
  mkdir -p "$seeds" "$corpus" "$findings"
  # The targets' working directories (inputs written as files), on tmpfs
  # when there is one; removed after the target's run.
  tmp_base=/dev/shm
  [ -d "$tmp_base" ] || tmp_base="${TMPDIR:-/tmp}"
  QX_FUZZ_TMP="$(mktemp -d "$tmp_base/qx-fuzz-$t.XXXXXX")"
  export QX_FUZZ_TMP
  # Index builds sort through a work file of the current directory.
  (cd "$build/fuzz-work" && QX_FUZZ_WRITE_SEEDS="$seeds" "$bin") >/dev/null 2>&1 ||
    echo "fuzz: $t could not write its seeds" >&2
  case "$t" in
    fuzz_dbf) copy_real_tables "$seeds" ;;
    fuzz_dbt) copy_real "$seeds" '*.dbt' ;;
    fuzz_fpt) copy_real "$seeds" '*.fpt'; copy_real "$seeds" '*.sct'
              copy_real "$seeds" '*.dct' ;;
    fuzz_ndx) copy_real "$seeds" '*.ndx' ;;
    fuzz_mdx) copy_real "$seeds" '*.mdx' ;;
    fuzz_ntx) copy_real "$seeds" '*.ntx' ;;
    fuzz_idx) copy_real "$seeds" '*.idx' ;;
    fuzz_cdx) copy_real "$seeds" '*.cdx'; copy_real "$seeds" '*.dcx' ;;
    fuzz_expr) copy_real_expressions "$seeds" ;;
  esac
  parallel=()
  # Parallel runs log to fuzz-<n>.log in the working directory.
  rm -f "$build"/fuzz-work/fuzz-*.log
  [ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
  start=$(date +%s)
  (cd "$build/fuzz-work" && "$bin" -max_total_time="$seconds" -timeout=5 \
    -rss_limit_mb=1024 -max_len="$(max_len "$t")" -print_final_stats=1 \
    -artifact_prefix="$findings/" "${parallel[@]}" "$corpus" "$seeds") \
    >"$log" 2>&1
  status=$?
  elapsed=$(( $(date +%s) - start ))
  rm -rf "$QX_FUZZ_TMP"
  execs="$(grep -h 'stat::number_of_executed_units' "$log" "$build"/fuzz-work/fuzz-*.log 2>/dev/null |
           awk '{ s += $2 } END { print s + 0 }')"
  if [ $status -ne 0 ]; then
    echo "fuzz: $t FOUND SOMETHING after $execs executions in ${elapsed}s (status $status); see $log and $findings/"
    grep -m3 -E 'ERROR|runtime error|property broken|Test unit written' "$log" | sed 's/^/  /'
    failed+=("$t")
  else
    echo "fuzz: $t $execs executions in ${elapsed}s, corpus $(ls "$corpus" | wc -l) inputs"
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings or failures in: ${failed[*]}" >&2
  exit 1
fi
