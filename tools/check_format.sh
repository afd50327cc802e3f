#!/usr/bin/env bash
# Fails when a tracked C++ file is not laid out as .clang-format says;
# lists the files and prints what clang-format would change in the first.
# `clang-format -i FILE` fixes a file.
set -u
cd "$(dirname "$0")/.."
fmt=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$fmt" ]; then
  echo "check_format: clang-format is not installed (make format-tools)" >&2
  exit 1
fi
bad=()
while IFS= read -r f; do
  "$fmt" --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done < <(git ls-files '*.h' '*.cc')
if [ ${#bad[@]} -gt 0 ]; then
  printf 'not formatted: %s\n' "${bad[@]}" >&2
  "$fmt" "${bad[0]}" | diff "${bad[0]}" - | head -40 >&2
  exit 1
fi
