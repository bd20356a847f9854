#!/usr/bin/env bash
# korvane draw of a 10000 x 10000 patch raster at 1600x1200, end to end,
# beside GDAL's gdal_translate -outsize 1600 1200 -r nearest to PNG on the
# same raster. Times are wall-clock seconds, peak memory the maximum
# resident set (/usr/bin/time). The raster is the sample's patch raster
# (made here with the README's patch example) enlarged by nearest
# neighbour to 10000 x 10000 cells (tiled, DEFLATE), with its value table
# and renderer.
#   bench/draw/run.sh [BIN_FOLDER]   (default build/bin)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:-$root/build/bin}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-draw-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
export KORVANE_DOC="$work/doc.json"
k="$bin/korvane"
"$k" -q add "$root/data/sample/landscape.tif" >/dev/null
mkdir -p output/patches
"$k" -q toc landscape.tif >/dev/null
"$k" -q run "Create Patch Theme from Grid" --script "$root/data/scripts/patch-8n.kvs" >/dev/null
gdal_translate -q -outsize 10000 10000 -r nearest -co TILED=YES -co COMPRESS=DEFLATE -co BIGTIFF=IF_SAFER \
  output/patches/landscape.tif big.tif
cp output/patches/landscape.tif.vat.dbf big.tif.vat.dbf
# The document with only the patch layer, on the big raster.
python3 - "$KORVANE_DOC" "$work/big.tif" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
m = d["maps"][0]
m["layers"] = [l for l in m["layers"] if "renderer" in l]
m["layers"][0]["path"] = sys.argv[2]
json.dump(d, open(sys.argv[1], "w"))
PY
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for i in 1 2 3; do
  /usr/bin/time -f "korvane draw: %e s, peak %M KiB" "$k" -q draw out.png --size 1600x1200 >/dev/null
  /usr/bin/time -f "gdal_translate: %e s, peak %M KiB" gdal_translate -q -of PNG -outsize 1600 1200 -r nearest big.tif peer.png
done
