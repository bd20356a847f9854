#!/usr/bin/env bash
# Spatial Statistics (by Regions) from the sample scripts, in a fresh folder
# with copies of the sample: the region statistics table, the cross-tabs and
# the join shapefile, which ogrinfo opens with the regions' polygons, their
# coordinate system and the cross-tab columns; then with the response grid,
# appended, into Join1 with the mean stand age.
#   region_stats.sh KORVANE SAMPLE_FOLDER SCRIPT_FOLDER
set -euo pipefail
korvane=$1
sample=$2
scripts=$3
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kv-region-stats.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
cp "$sample"/landscape.tif* "$sample"/standage.tif* "$sample"/regions.* .
mkdir output
fail() { echo "FAIL: $*"; exit 1; }
k() { "$korvane" --doc "$tmp/doc.json" "$@"; }
k add landscape.tif >/dev/null
k add standage.tif >/dev/null
k add regions.shp >/dev/null
k run "Spatial Statistics (by Regions)" --script "$scripts/region-stats.kvs" >run1.out 2>&1 || { cat run1.out; fail "run"; }
grep -q "Error report" run1.out && { cat run1.out; fail "an error report"; }
grep -q "+ layer Regions analysis of landscape.tif (Value) by regions" run1.out || { cat run1.out; fail "no new layer"; }
# Five regions, a landscape row and six class rows each.
rows=$(k show-table output/region-stats.dbf | tail -n +2 | wc -l)
[ "$rows" -eq 35 ] || fail "$rows rows in the region statistics table"
# The regions' class areas add up to the grid's (834.08 ha of class 10).
sum=$(k show-table "output/SStatsByRgns--ClassAreaCrosstab.dbf" | awk -F'\t' 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "Class-10") c = i; next } { s += $c } END { printf "%.2f", s }')
[ "$sum" = "834.08" ] || fail "class 10 sums to $sum ha"
info=$(ogrinfo -so -al output/Join.shp)
for want in "Geometry: Polygon" "Feature Count: 5" "NAD83 / UTM zone 17N" "REGION: String" "Class-10: Real (30.2)" "Class-60: Real (30.2)"; do
  grep -qF "$want" <<<"$info" || { echo "$info"; fail "ogrinfo lacks $want"; }
done
grep -qE "^(Class-All|Name|RunDate|Run|OID_|REGION_1):" <<<"$info" && { echo "$info"; fail "a dropped field is there"; }
# With the response grid, appended: runs 6 to 10, the join Join1 with Mean.
k run "Spatial Statistics (by Regions)" --script "$scripts/region-stats-response.kvs" >run2.out 2>&1 || { cat run2.out; fail "response run"; }
grep -q "Error report" run2.out && { cat run2.out; fail "an error report"; }
grep -q "alias Mean = MeanResponse" run2.out || { cat run2.out; fail "no MeanResponse alias"; }
# The cross-tabs are added to the map again, and said so as the first time.
for t in HistogramTable ClassAreaCrosstab TotalEdgeCrosstab; do
  grep -q "^+ table SStatsByRgns--$t " run2.out || { cat run2.out; fail "the second $t is not reported"; }
done
info=$(ogrinfo -so -al output/Join1.shp)
for want in "Feature Count: 5" "NAD83 / UTM zone 17N" "Mean: Real"; do
  grep -qF "$want" <<<"$info" || { echo "$info"; fail "ogrinfo lacks $want"; }
done
last=$(k show-table output/region-stats.dbf | awk -F'\t' 'NR > 1 && $3 > m { m = $3 } END { print m }')
[ "$last" = "10" ] || fail "the last run is $last"
echo "region statistics: ok"
