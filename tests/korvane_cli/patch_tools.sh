#!/usr/bin/env bash
# The grid patch tools through korvane and the shipped form scripts: patch
# rasters of the sample grid (8 and 4 neighbours, the second under the next
# free name), their unique-value renderer in the document, the sample grid
# clipped to the regions that tile it and combined with the stand-age grid;
# every output opens in gdalinfo with its coordinate system and value table,
# and the sample folder is left as it was.
#   patch_tools.sh KORVANE SAMPLE_FOLDER SCRIPT_FOLDER
set -euo pipefail
korvane=$1
sample=$2
scripts=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p output/patches
k() { "$korvane" --doc "$work/doc.json" "$@"; }
expect() {   # expect PATTERN TEXT
    grep -qE -- "$1" <<<"$2" || { printf 'expected /%s/ in:\n%s\n' "$1" "$2"; exit 1; }
}
opens() {   # opens RASTER ROWS: gdalinfo sees its coordinate system and a value table of ROWS rows
    local info
    info=$(gdalinfo "$1")
    expect 'ID\["EPSG",26917\]\]$' "$info"
    expect "<GDALRasterAttributeTable" "$info"
    [ "$(grep -c '<Row index=' <<<"$info")" -eq "$2" ] || { echo "$1: not $2 rows in its table"; exit 1; }
}
before=$(ls -la --time-style=+%s "$sample" | md5sum)

k add "$sample/landscape.tif" >/dev/null
k toc landscape.tif >/dev/null
out=$(k run "Create Patch Theme from Grid" --script "$scripts/patch-8n.kvs")
expect '^\+ layer landscape.tif by OldValue \(raster, .*output/patches/landscape.tif\)$' "$out"
k toc landscape.tif >/dev/null
out=$(k run "Create Patch Theme from Grid" --script "$scripts/patch-4n.kvs")
expect '^\+ layer landscape.tif by OldValue \(raster, .*output/patches/landscape_1.tif\)$' "$out"
status=$(k status)
expect 'renderer unique values of OldValue: 6 classes' "$status"
expect '^    #[0-9a-f]{6} 10$' "$status"
rows8=$(grep -E '^raster landscape.tif by OldValue: .*patches/landscape.tif.vat.dbf' <<<"$status" | sed -E 's/.*\(([0-9]+) rows\)$/\1/')
rows4=$(grep -E '^raster landscape.tif by OldValue: .*patches/landscape_1.tif.vat.dbf' <<<"$status" | sed -E 's/.*\(([0-9]+) rows\)$/\1/')
[ "$rows4" -gt "$rows8" ] || { echo "4 neighbours make no more patches ($rows4) than 8 ($rows8)"; exit 1; }
opens output/patches/landscape.tif "$rows8"
opens output/patches/landscape_1.tif "$rows4"
# The renderer is kept in the document file.
grep -q '"type": "uniqueValue"' "$work/doc.json" || { echo "no renderer in the document"; exit 1; }

k add "$sample/regions.shp" >/dev/null
out=$(k run "Clip Grids to Polygon Theme" --script "$scripts/clip-regions.kvs")
expect '^\+ layer landscape-regions.tif \(raster' "$out"
opens output/landscape-regions.tif 6
cells=$(ogrinfo -q -sql 'SELECT SUM(Count) FROM "landscape-regions.tif.vat"' output/landscape-regions.tif.vat.dbf | sed -nE 's/.*= ([0-9]+)$/\1/p')
[ "$cells" = 250000 ] || { echo "the clip kept $cells cells, not 250000"; exit 1; }

k add "$sample/standage.tif" >/dev/null
out=$(k run "Intersect (Combine) Grids" --script "$scripts/combine-standage.kvs")
expect '^\+ layer landscape-standage.tif \(raster' "$out"
info=$(gdalinfo output/landscape-standage.tif)
expect '<FieldDefn index="2">' "$info"
expect '<Name>landscape</Name>' "$info"
expect '<Name>standage</Name>' "$info"
[ "$(ls -la --time-style=+%s "$sample" | md5sum)" = "$before" ] || { echo "the sample folder changed"; exit 1; }
echo "patch tools: ok"
