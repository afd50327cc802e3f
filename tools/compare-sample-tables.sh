#!/usr/bin/env bash
# Compares two sets of tables written by write-sample-tables.sh byte for
# byte. Only the date stamps may differ: bytes 1..3 of a DBF header (date of
# last update) and of an MDX header (date of creation), and bytes 44..46 of
# an MDX header (date of the last reindex). Offsets are 0-based.
#
# usage: compare-sample-tables.sh DIR-A DIR-B
set -uo pipefail
a=$1
b=$2
status=0
names_a=$(cd "$a" && ls | sort)
names_b=$(cd "$b" && ls | sort)
if [ "$names_a" != "$names_b" ]; then
  echo "compare-sample-tables: the file sets differ:" >&2
  diff <(echo "$names_a") <(echo "$names_b") >&2
  status=1
fi
for name in $names_a; do
  [ -f "$b/$name" ] || continue
  case "${name,,}" in
    *.dbf) allowed=" 1 2 3 " ;;
    *.mdx) allowed=" 1 2 3 44 45 46 " ;;
    *) allowed=" " ;;
  esac
  # cmp -l: 1-based offsets and both bytes of every difference.
  diffs=$(cmp -l "$a/$name" "$b/$name" 2>&1 | awk -v ok="$allowed" '
    /EOF/ { print; next }
    { off = $1 - 1; if (index(ok, " " off " ") == 0) printf "0x%x ", off }')
  if [ -n "$diffs" ]; then
    echo "compare-sample-tables: $name differs at ${diffs:0:200}" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "compare-sample-tables: $(echo $names_a | wc -w) files identical (date stamps aside)"
exit $status
