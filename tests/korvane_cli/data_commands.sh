#!/usr/bin/env bash
# korvane's data commands chained across invocations through one document.
set -euo pipefail
korvane=$1
sample=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
doc="$work/doc.json"
k() { "$korvane" --doc "$doc" "$@"; }
expect() {   # expect PATTERN TEXT
    grep -qE -- "$1" <<<"$2" || { printf 'expected /%s/ in:\n%s\n' "$1" "$2"; exit 1; }
}

out=$(k add "$sample/landscape.shp")
expect '^\+ layer landscape \(feature, .*landscape.shp\)$' "$out"
expect '^~ map units metres \(9\)$' "$out"

out=$(k add "$sample/regions.dbf")
expect '^\+ table regions' "$out"

out=$(k select landscape "FORTYPE = 'Pine'")
expect '^landscape: [0-9]+ features selected$' "$out"
n=$(grep -oE '[0-9]+' <<<"$out")
[ "$n" -gt 0 ]

# A text field compared with an unquoted value is refused; the selection stays.
if k select landscape "FORTYPE = Pine" 2>"$work/err"; then exit 1; fi
expect 'Invalid where clause' "$(cat "$work/err")"
out=$(k status)
expect '^#1 layer landscape' "$out"
grep -q "\"selection\"" "$doc"

out=$(k toc landscape)
expect '^selected landscape$' "$out"
out=$(k status)
expect '^selected landscape \(#1\)$' "$out"

out=$(k show-table "$sample/regions.dbf")
expect '^REGION	REGIONID' "$out"
expect '^North	1' "$out"
echo "data commands: ok"
