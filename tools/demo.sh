#!/usr/bin/env bash
# The sample job: builds a directory of tables of several families with memo
# files under build/demo/ and runs qxdb over them.
set -eu
build=${1:-build}
qxdb="$build/host/qxdb/qxdb"
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo"

run() {
  echo "\$ qxdb $*"
  "$qxdb" "$@"
  echo
}

cat > "$demo/people.jsonl" <<'JSON'
{"NAME":"Ada Lovelace","CITY":"London","AGE":36,"SALARY":1843.5,"BIRTH":"18151210","ACTIVE":true,"NOTES":"First program,\r\nfor the Analytical Engine."}
{"NAME":"Émile Zola","CITY":"Paris","AGE":62,"SALARY":1902.25,"BIRTH":"18400402","ACTIVE":false,"NOTES":"J'accuse…!"}
{"NAME":"Grace Hopper","CITY":"Arlington","AGE":85,"SALARY":1992.0,"BIRTH":"19061209","ACTIVE":true,"NOTES":"COBOL"}
{"NAME":"Kurt Gödel","CITY":"Princeton","AGE":71,"BIRTH":"19060428","ACTIVE":null,"NOTES":""}
JSON

fields=(--field NAME:C:20 --field CITY:C:15 --field AGE:N:3 --field SALARY:N:10:2
        --field BIRTH:D:8 --field ACTIVE:L:1 --field NOTES:M:10)

# Table names stay within 8 characters: a dBASE IV memo header holds the
# base name in 8.
for dialect in dbase3 dbase4 foxpro2 clipper; do
  table="$demo/${dialect}.dbf"
  run create "$table" --dialect "$dialect" "${fields[@]}"
  echo "\$ qxdb import $table < people.jsonl"
  "$qxdb" import "$table" < "$demo/people.jsonl"
  echo
  run info "$table"
done

run dump "$demo/dbase3.dbf"
run delete "$demo/dbase3.dbf" 2
run dump "$demo/dbase3.dbf" --deleted
run pack "$demo/dbase3.dbf"
run dump "$demo/dbase3.dbf" --deleted
run dump "$demo/foxpro2.dbf" --codepage cp1252
run info "$demo/foxpro2.fpt"
run info "$demo/dbase4.dbt"
# Indexes: a dBASE III NDX, dBASE IV MDX tags.
run index "$demo/dbase3.dbf" "$demo/names.ndx" --expr "UPPER(NAME)"
run keys "$demo/names.ndx"
run seek "$demo/dbase3.dbf" "$demo/names.ndx" "GRACE"
run index "$demo/dbase4.dbf" "$demo/dbase4.mdx" --expr SALARY --tag SALARY
run index "$demo/dbase4.dbf" "$demo/dbase4.mdx" --expr BIRTH --tag BIRTH
run info "$demo/dbase4.mdx"
run dump "$demo/dbase4.dbf" --index "$demo/dbase4.mdx" --tag BIRTH
run check "$demo/dbase4.dbf" "$demo/dbase4.mdx" --tag SALARY
# Clipper NTX, FoxPro IDX (compact) and CDX tags.
run index "$demo/clipper.dbf" "$demo/salary.ntx" --expr SALARY
run keys "$demo/salary.ntx" --table "$demo/clipper.dbf"
run index "$demo/foxpro2.dbf" "$demo/city.idx" --expr CITY --compact
run info "$demo/city.idx"
run index "$demo/foxpro2.dbf" "$demo/foxpro2.cdx" --expr "UPPER(NAME)" --tag NAME
run index "$demo/foxpro2.dbf" "$demo/foxpro2.cdx" --expr BIRTH --tag BIRTH
run info "$demo/foxpro2.cdx"
run seek "$demo/foxpro2.dbf" "$demo/foxpro2.cdx" --tag BIRTH 19061209
echo "\$ qxdb import foxpro2.dbf --index foxpro2.cdx:NAME --index foxpro2.cdx:BIRTH < people.jsonl"
"$qxdb" import "$demo/foxpro2.dbf" --index "$demo/foxpro2.cdx:NAME" \
  --index "$demo/foxpro2.cdx:BIRTH" < "$demo/people.jsonl"
echo
run check "$demo/foxpro2.dbf" "$demo/foxpro2.cdx" --tag BIRTH
ls -l "$demo"
