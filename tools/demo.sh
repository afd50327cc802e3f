#!/usr/bin/env bash
# The sample job: a session through the component, as the host platform
# runs one. Tables of three families (dBASE IV with MDX tags, Clipper with
# NTX files, FoxPro 2 with CDX tags), each with a memo file, are created;
# records with accented names are added, browsed by key and by record
# number, sought exactly and generically, modified and deleted; a duplicate
# of a unique key is refused, a lock held by another process is reported
# as a lock conflict, and the table is packed and reindexed. The engine-
# level verbs then check the files. Everything lives under BUILD-DIR/demo/
# (`make demo`: build-demo/demo/); the build tree needs only the qxdb target
# built (it brings the component and the VM module qxdb loads).
#
# usage: demo.sh [BUILD-DIR]   (default build-demo)
set -eu
build=${1:-build-demo}
if [ ! -x "$build/host/qxdb/qxdb" ]; then
  echo "demo: $build/host/qxdb/qxdb is not built (make demo builds it)" >&2
  exit 1
fi
qxdb="$(cd "$build" && pwd)/host/qxdb/qxdb"
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo/etc"
cd "$demo"

# The component's options file: duplicates of unique keys are refused,
# a deleted record's keys leave the indexes.
printf '[OPTION]\r\nDUPLICATESON=1\r\nDELETEINDEX=1\r\n' > etc/qxdbins.ini
export QX_SYSTEM_DIR="$PWD/etc"

step() { printf '\n### %s\n' "$*"; }
run() {
  local shown="\$ qxdb" arg
  for arg in "$@"; do
    case "$arg" in
      *[\ \"\'{}]*) shown+=" '${arg//\'/\'\\\'\'}'" ;;
      *) shown+=" $arg" ;;
    esac
  done
  echo "$shown"
  "$qxdb" "$@" || echo "(exit status $?)"
}

people=(
  '{"CODE":"A01","NAME":"Zoé Durand","CITY":"Lyon","SALARY":2450.5,"BIRTH":"19850312","NOTES":"Première embauche, à l'\''essai."}'
  '{"CODE":"A02","NAME":"Émile Zola","CITY":"Paris","SALARY":1902.25,"BIRTH":"18400402","NOTES":"«J'\''accuse…!» — L’Aurore"}'
  '{"CODE":"A03","NAME":"Françoise Hardy","CITY":"Paris","SALARY":3100,"BIRTH":"19440117","NOTES":""}'
  '{"CODE":"A04","NAME":"Jürgen Müller","CITY":"Köln","SALARY":2875.75,"BIRTH":"19790630","NOTES":"Übersetzer"}'
  '{"CODE":"A05","NAME":"Agnès Varda","CITY":"Bruxelles","SALARY":4200,"BIRTH":"19280530","NOTES":"Cinéma"}'
  '{"CODE":"A06","NAME":"Ada Lovelace","CITY":"London","SALARY":1843.5,"BIRTH":"18151210","NOTES":"First program"}'
)

for family in dbase4 clipper foxpro2; do
  table="$family.dbf"
  step "$family: a table with a memo and three keys (CODE unique)"
  run new "$table" --family "$family" --item CODE:text:3:unique \
    --item NAME:text:20:key --item CITY:text:15 --item SALARY:real8:7:2:key \
    --item BIRTH:date:0 --item NOTES:text_memo:0
  ls "${family}"* | tr '\n' ' '
  echo
  step "$family: six records added (every index kept in step)"
  for p in "${people[@]}"; do
    "$qxdb" add "$table" --json "$p" > /dev/null
  done
  echo "$ qxdb add $table --json '{...}'   (x ${#people[@]})"
  run read "$table" --record 1
done

step "The same keys through MDX tags and NTX files"
run browse dbase4.dbf --key NAME --limit 3
run find clipper.dbf --key NAME "Ad" --generic

table=foxpro2.dbf
step "Browse by key NAME (CDX tag), then by record number"
run browse "$table" --key NAME
run browse "$table"
step "Browse a key range and backwards, with a filter"
run browse "$table" --key SALARY --from 2000 --to 3500
run browse "$table" --key NAME --reverse --filter CITY=Paris

step "Seek: exact, generic, and a value that is not there"
run find "$table" --key NAME "Jürgen Müller"
run find "$table" --key NAME "Fr" --generic
run find "$table" --key NAME "Fr"

step "Modify a key value: Zola's name and salary"
run modify "$table" --record 2 --json '{"NAME":"Émile Zola-Martin","SALARY":2000}'
run browse "$table" --key NAME --limit 3

step "Delete record 4 (its keys go with it: DELETEINDEX=1)"
run remove "$table" --record 4
run browse "$table" --key NAME

step "A duplicate of the unique key CODE is refused (DUPLICATESON=1)"
run add "$table" --json '{"CODE":"A01","NAME":"Zoé Bis","CITY":"Nice"}'
run find "$table" --key CODE A01

step "Another process holds record 1: the write meets a lock conflict"
rm -f hold.in
mkfifo hold.in
"$qxdb" lock "$table" --record 1 < hold.in > hold.out &
holder=$!
exec 3> hold.in
until grep -q locked hold.out 2> /dev/null; do sleep 0.1; done
echo "(another process: qxdb lock $table --record 1 -> $(head -1 hold.out))"
run modify "$table" --record 1 --json '{"CITY":"Marseille"}'
exec 3>&-
wait "$holder"
echo "(the other process let go: $(tail -1 hold.out))"
run modify "$table" --record 1 --json '{"CITY":"Marseille"}'
rm -f hold.in hold.out

step "Pack and reindex, with progress"
run reindex "$table" --pack
run browse "$table"

step "The engine checks every index the session kept"
for tag in CODE NAME SALARY; do
  run check foxpro2.dbf foxpro2.cdx --tag "$tag"
  run check dbase4.dbf dbase4.mdx --tag "$tag"
done
for ntx in clipper_*.ntx; do run check clipper.dbf "$ntx"; done
