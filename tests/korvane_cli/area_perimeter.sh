#!/usr/bin/env bash
# Add/Refresh Area and Perimeter fields on a copy of the sample landscape,
# through korvane as a user runs it, and the table afterwards.
#   area_perimeter.sh KORVANE SAMPLE_FOLDER
set -euo pipefail
korvane=$1
sample=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for ext in shp shx dbf prj; do cp "$sample/landscape.$ext" "$work/"; done
chmod u+w "$work"/landscape.*
doc="$work/doc.json"
k() { "$korvane" --doc "$doc" "$@"; }
expect() {   # expect PATTERN TEXT
    grep -qE -- "$1" <<<"$2" || { printf 'expected /%s/ in:\n%s\n' "$1" "$2"; exit 1; }
}

k add "$work/landscape.shp" >/dev/null
out=$(k toc landscape)
expect '^selected landscape$' "$out"

printf 'answer Yes\n' >"$work/yes.kvs"
out=$(k run "Add/Refresh Area and Perimeter fields" --script "$work/yes.kvs" 2>&1)
expect 'Calculate Area and Perimeter for landscape\?' "$out"
if grep -q "Error report" <<<"$out"; then printf 'unexpected error report:\n%s\n' "$out"; exit 1; fi

# Every patch gets a positive area and perimeter, and the areas add up to the
# landscape's 2500 ha.
table=$(k show-table "$work/landscape.dbf")
awk -F'\t' '
  NR == 1 {
    for (i = 1; i <= NF; i++) col[$i] = i
    if (!("Area" in col) || !("Perimeter" in col)) { print "FAIL: no Area or Perimeter column: " $0; exit 1 }
    next
  }
  {
    rows++
    if (!($(col["Area"]) > 0) || !($(col["Perimeter"]) > 0)) { print "FAIL: row " rows ": " $0; bad = 1 }
    total += $(col["Area"])
  }
  END {
    if (bad) exit 1
    if (rows != 302) { print "FAIL: " rows " rows, want 302"; exit 1 }
    if (total < 24999000 || total > 25001000) { print "FAIL: total area " total ", want 25000000"; exit 1 }
  }' <<<"$table"

# A second run asks before overwriting; No to both leaves the table as it was.
printf 'answer Yes\nanswer No\nanswer No\n' >"$work/keep.kvs"
out=$(k run "Add/Refresh Area and Perimeter fields" --script "$work/keep.kvs" 2>&1)
expect 'Overwrite existing Area field\?' "$out"
expect 'Overwrite existing Perimeter field\?' "$out"
[ "$(k show-table "$work/landscape.dbf")" = "$table" ] || { echo "FAIL: the table changed after No"; exit 1; }
echo "area and perimeter: ok"
