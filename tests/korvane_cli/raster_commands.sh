#!/usr/bin/env bash
# Rasters through korvane: the sample grid with its shipped table (nothing
# written beside it), rasters written by MakePermanentRaster as GeoTIFF,
# IMAGINE and GRID, a float raster, and the document reopening them.
set -euo pipefail
korvane=$1
sample=$2
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
doc="$work/doc.json"
k() { "$korvane" --doc "$doc" "$@"; }
expect() {   # expect PATTERN TEXT
    grep -qE -- "$1" <<<"$2" || { printf 'expected /%s/ in:\n%s\n' "$1" "$2"; exit 1; }
}

before=$(ls -la --time-style=+%s "$sample" | md5sum)
out=$(k add "$sample/landscape.tif")
expect '^\+ layer landscape.tif \(raster, .*landscape.tif\)$' "$out"
expect '^~ map units metres \(9\)$' "$out"
out=$(k status)
expect '^raster landscape.tif: 500 x 500 cells, cell size 10 x 10, Int16, value table .*landscape.tif.vat.dbf \(6 rows\)$' "$out"
[ "$(ls -la --time-style=+%s "$sample" | md5sum)" = "$before" ] || { echo "the sample folder changed"; exit 1; }

# Selecting the raster layer enables the patch-theme command.
k toc landscape.tif >/dev/null
expect 'Create Patch Theme from Grid +enabled' "$(k menu)"

# Rasters written by the grid library, opened again with their tables.
"$KV_MAKE_RASTERS" "$sample/standage.tif" "$work/out"
for name in ages.tif ages.img ages; do
    out=$(k add "$work/out/$name")
    expect "^\+ layer $name \(raster" "$out"
done
out=$(k status)
expect '^raster ages.tif: 500 x 500 cells, cell size 10 x 10, Int16, value table .*ages.tif.vat.dbf \(5 rows\)$' "$out"
expect '^raster ages.img: .*value table .*ages.img.vat.dbf \(5 rows\)$' "$out"
expect '^raster ages: .*value table .*ages/ages.tif.vat.dbf \(5 rows\)$' "$out"

# A float raster opens but has no value table.
out=$(k add "$work/out/float.tif")
expect '^\+ layer float.tif' "$out"
expect '^raster float.tif: 4 x 3 cells, .*Float32, floating-point cells: no value table$' "$(k status)"

# A raster in a read-only folder: its table is built in memory, nothing is written there.
mkdir "$work/ro"
cp "$work/out/int.tif" "$work/ro/int.tif"
chmod a-w "$work/ro"
out=$(k add "$work/ro/int.tif")
expect '^\+ layer int.tif' "$out"
expect '^raster int.tif: .*value table .*korvane-scratch.*int.tif.vat.dbf \(3 rows\)$' "$(k status)"
[ ! -e "$work/ro/int.tif.vat.dbf" ]
echo "raster commands: ok"
