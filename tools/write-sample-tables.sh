#!/usr/bin/env bash
# Writes one fixed set of tables into DIR with the qxdb command given (the
# Linux build's qxdb, or "wine .../qxdb.exe"): a dBASE IV table with its
# DBT memo, an NDX index and MDX tags; a Clipper table with NTX indexes; a
# FoxPro table with its FPT memo, IDX indexes (plain and compact) and CDX
# tags. Records are added before and after the indexes exist, and one is
# deleted, so the index files hold splits and updates, not only a build.
#
# usage: write-sample-tables.sh DIR QXDB-COMMAND...
set -euo pipefail
dir=$1
shift
qxdb=("$@")
mkdir -p "$dir"
cd "$dir"

records() {  # N FIRST: N records, numbered from FIRST
  local n=$1 first=$2 i
  for ((i = first; i < first + n; i++)); do
    printf '{"NAME":"Name %05d %s","AGE":%d,"NOTE":"memo of record %d: %s"}\n' \
      $(( (i * 7919) % 10007 )) "$(printf '%*s' $((i % 13)) '' | tr ' ' x)" \
      $(( (i * 31) % 97 )) "$i" "$(printf '%*s' $(( (i * 37) % 700 )) '' | tr ' ' m)"
  done
}

# dBASE IV: DBT memo, NDX, MDX.
"${qxdb[@]}" create d4.dbf --dialect dbase4 --field NAME:C:24 \
  --field AGE:N:3 --field NOTE:M:10 > /dev/null
records 300 1 | "${qxdb[@]}" import d4.dbf > /dev/null
"${qxdb[@]}" index d4.dbf d4name.ndx --expr NAME > /dev/null
"${qxdb[@]}" index d4.dbf d4.mdx --expr NAME --tag NAME > /dev/null
"${qxdb[@]}" index d4.dbf d4.mdx --expr AGE --tag AGE > /dev/null
records 200 301 | "${qxdb[@]}" import d4.dbf --index d4name.ndx \
  --index d4.mdx:NAME --index d4.mdx:AGE > /dev/null
"${qxdb[@]}" delete d4.dbf 17 > /dev/null

# Clipper: NTX.
"${qxdb[@]}" create cl.dbf --dialect clipper --field NAME:C:24 \
  --field AGE:N:3 > /dev/null
records 300 1 | sed 's/,"NOTE":"[^"]*"//' | "${qxdb[@]}" import cl.dbf > /dev/null
"${qxdb[@]}" index cl.dbf clname.ntx --expr NAME > /dev/null
"${qxdb[@]}" index cl.dbf clage.ntx --expr AGE --descending > /dev/null
records 200 301 | sed 's/,"NOTE":"[^"]*"//' |
  "${qxdb[@]}" import cl.dbf --index clname.ntx --index clage.ntx > /dev/null

# FoxPro 2: FPT memo, IDX (plain and compact), CDX.
"${qxdb[@]}" create fp.dbf --dialect foxpro2 --field NAME:C:24 \
  --field AGE:N:3 --field NOTE:M:10 > /dev/null
records 300 1 | "${qxdb[@]}" import fp.dbf > /dev/null
"${qxdb[@]}" index fp.dbf fpname.idx --expr NAME > /dev/null
"${qxdb[@]}" index fp.dbf fpage.idx --expr AGE --compact > /dev/null
"${qxdb[@]}" index fp.dbf fp.cdx --expr NAME --tag NAME > /dev/null
"${qxdb[@]}" index fp.dbf fp.cdx --expr AGE --tag AGE --unique > /dev/null
records 200 301 | "${qxdb[@]}" import fp.dbf --index fpname.idx \
  --index fpage.idx --index fp.cdx:NAME --index fp.cdx:AGE > /dev/null
"${qxdb[@]}" delete fp.dbf 42 > /dev/null
