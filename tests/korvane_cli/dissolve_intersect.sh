#!/usr/bin/env bash
# Dissolve Polygons and Intersect Polygons through korvane as a user runs
# them, on copies of the sample: the tool dialogs filled in by scripts, the
# outputs read back with ogrinfo.
#   dissolve_intersect.sh KORVANE SAMPLE_FOLDER
set -euo pipefail
korvane=$(realpath "$1")
sample=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$sample"/landscape.* "$sample"/regions.* "$work"/
cd "$work"
doc="$work/doc.json"
k() { "$korvane" --doc "$doc" "$@"; }
fail() { echo "FAIL: $*"; exit 1; }
run() {   # run COMMAND SCRIPT-LINES...
  local cmd=$1; shift
  printf '%s\n' "$@" >"$work/run.kvs"
  local out
  out=$(k run "$cmd" --script "$work/run.kvs" 2>&1)
  if grep -q "Error report\|Message box" <<<"$out"; then printf 'unexpected message:\n%s\n' "$out"; exit 1; fi
  printf '%s\n' "$out"
}
count() { ogrinfo -so "$1.shp" "$1" | sed -n 's/^Feature Count: //p'; }
sql() { ogrinfo -q "$1.shp" -dialect sqlite -sql "$2" | sed -n 's/^  [^=]* = //p'; }

k add landscape.shp >/dev/null

# By FORTYPE, multipart chosen in the dialog: one feature per type with the
# README's area (Area is single precision).
run "Dissolve Polygons" "choose in_features landscape" "select dissolve_field FORTYPE" "click multi_part" \
  "set out_feature_class $work/bytype.shp" "click cmdOK" | grep -q "+ layer bytype" || fail "no bytype layer"
[ "$(count bytype)" = 6 ] || fail "bytype has $(count bytype) features"
k show-table bytype.dbf | awk -F'\t' '
  BEGIN { want["Pine"] = 8339153.73; want["Black Spruce"] = 4786938.48; want["Birch"] = 2393863.07
          want["Aspen"] = 2575642.67; want["Mixed"] = 4427194.64; want["Wetland"] = 2477207.40 }
  NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
  { d = $(col["Area"]) - want[$(col["FORTYPE"])]; if (d < -1 || d > 1) { print "FAIL: " $0; bad = 1 }; n++ }
  END { if (n != 6) bad = 1; exit bad }' || fail "bytype areas"

# The preset single parts: same-type patches never share an edge.
run "Dissolve Polygons" "choose in_features landscape" "select dissolve_field FORTYPE" \
  "set out_feature_class $work/parts.shp" "click cmdOK" >/dev/null
[ "$(count parts)" = 302 ] || fail "parts has $(count parts) features"

# No dissolve field: the whole 5 km x 5 km square, no holes.
run "Dissolve Polygons" "choose in_features landscape" "set out_feature_class $work/whole.shp" "click cmdOK" >/dev/null
[ "$(count whole)" = 1 ] || fail "whole has $(count whole) features"
[ "$(sql whole 'SELECT ST_NumInteriorRing(geometry) FROM whole')" = 0 ] || fail "whole has holes"
[ "$(k show-table whole.dbf | tail -1 | cut -f2)" = 25000000 ] || fail "whole: $(k show-table whole.dbf)"

# Area and Perimeter went into the results only.
for f in landscape regions; do cmp -s "$f.dbf" "$sample/$f.dbf" || fail "$f.dbf changed"; done
header=$(k show-table parts.dbf | sed -n 1p)
[ "$header" = "$(printf 'FORTYPE\tArea\tPerimeter')" ] || fail "parts has the fields $header"

# Landscape x regions: the pieces cover the overlap (the whole extent) and
# carry both inputs' attributes; no Area field is added.
k add regions.shp >/dev/null
run "Intersect Polygons" "select in_features landscape" "select in_features landscape regions" \
  "set out_feature_class $work/inter.shp" "click cmdOK" | grep -q "+ layer inter" || fail "no inter layer"
ogrinfo -so inter.shp inter | grep -q "^FORTYPE: .*" || fail "inter has no FORTYPE"
ogrinfo -so inter.shp inter | grep -q "^REGION: .*" || fail "inter has no REGION"
ogrinfo -so inter.shp inter | grep -q "^Area: " && fail "inter got an Area field"
total=$(sql inter 'SELECT SUM(ST_Area(geometry)) FROM inter')
awk -v t="$total" 'BEGIN { exit !(t > 24999999.9 && t < 25000000.1) }' || fail "inter covers $total"

# Every output opens with the sample's coordinate system.
for f in bytype parts whole inter; do
  ogrinfo -so "$f.shp" "$f" | grep -q 'NAD83 / UTM zone 17N' || fail "$f has no coordinate system"
done
echo "dissolve and intersect: ok"
