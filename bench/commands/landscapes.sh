# The landscapes of the command benchmarks, made once into a cache folder
# (sourced by run.sh and identical.sh; needs $build and $cache):
#   classes10k.tif   10000² cells of 30 m, 14 clustered classes (the patch
#                    benchmark's grid)
#   standage10k.tif  10000², 6 clustered classes, on the same cells
#   clip.shp         three polygons over about half of the 10000² grid
#   clustered4000.tif 4000², 10 classes (the region benchmark's grid)
#   regions10.shp, regions999.shp  5 x 2 and 37 x 27 rectangles tiling it,
#                    numbered in REGIONID
#   clustered4000.flt the same grid for one fragstat run
#   grid1m.shp       1,000,000 polygons, 10 classes, ZONE 1..10 in bands of
#                    100,000 patches
landgen=$build/bin/kv_landgen
make_landscapes() {
    mkdir -p "$cache"
    "$landgen" raster "$cache" classes10k --side 10000 --classes 14 --seed 12 >/dev/null
    "$landgen" raster "$cache" standage10k --side 10000 --classes 6 --seed 77 >/dev/null
    "$landgen" raster "$cache" clustered4000 --side 4000 --classes 10 --seed 4042 >/dev/null
    prj=$cache/classes10k.prj
    [ -f "$prj" ] || gdalsrsinfo -o wkt1 "$cache/classes10k.tif" >"$prj"
    if [ ! -f "$cache/clip.shp" ]; then
        x0=600000 y0=5050000 s=300000
        {
            echo "WKT,ID"
            echo "\"POLYGON(($((x0+10000)) $((y0+10000)),$((x0+140000)) $((y0+20000)),$((x0+120000)) $((y0+150000)),$((x0+20000)) $((y0+130000)),$((x0+10000)) $((y0+10000))))\",1"
            echo "\"POLYGON(($((x0+160000)) $((y0+160000)),$((x0+290000)) $((y0+170000)),$((x0+280000)) $((y0+290000)),$((x0+150000)) $((y0+280000)),$((x0+160000)) $((y0+160000))))\",2"
            echo "\"POLYGON(($((x0+170000)) $((y0+20000)),$((x0+280000)) $((y0+60000)),$((x0+200000)) $((y0+130000)),$((x0+170000)) $((y0+20000))))\",3"
        } >"$cache/clip.csv"
        ogr2ogr -f "ESRI Shapefile" -a_srs "$prj" -oo GEOM_POSSIBLE_NAMES=WKT -oo KEEP_GEOM_COLUMNS=NO \
            "$cache/clip.shp" "$cache/clip.csv" -nln clip
    fi
    for grid in 5x2 37x27; do
        cols=${grid%x*} rows=${grid#*x} n=$((cols * rows))
        [ -f "$cache/regions$n.shp" ] && continue
        awk -v c="$cols" -v r="$rows" 'BEGIN {
            x0 = 600000; y0 = 5050000; side = 4000 * 30; print "WKT,REGIONID"; id = 0
            for (j = 0; j < r; ++j) for (i = 0; i < c; ++i) {
                xa = x0 + side * i / c; xb = x0 + side * (i + 1) / c
                ya = y0 + side * (r - j - 1) / r; yb = y0 + side * (r - j) / r
                printf "\"POLYGON((%.6f %.6f,%.6f %.6f,%.6f %.6f,%.6f %.6f,%.6f %.6f))\",%d\n", xa, ya, xa, yb, xb, yb, xb, ya, xa, ya, ++id
            } }' >"$cache/regions$n.csv"
        ogr2ogr -f "ESRI Shapefile" -a_srs "$prj" -oo GEOM_POSSIBLE_NAMES=WKT -oo KEEP_GEOM_COLUMNS=NO \
            -oo AUTODETECT_TYPE=YES "$cache/regions$n.shp" "$cache/regions$n.csv" -nln "regions$n"
    done
    [ -f "$cache/clustered4000.flt" ] ||
        gdal_translate -q -of EHdr -ot Float32 -a_nodata -9999 "$cache/clustered4000.tif" "$cache/clustered4000.flt"
    if [ ! -f "$cache/grid1m.shp" ]; then
        "$landgen" grid "$cache" grid1m_plain --patches 1000000 --classes 10 --seed 1 >/dev/null
        ogr2ogr -f "ESRI Shapefile" -dialect SQLite \
            -sql "SELECT *, CAST((PATCHID - 1) / 100000 + 1 AS INTEGER) AS ZONE FROM grid1m_plain" \
            "$cache/grid1m.shp" "$cache/grid1m_plain.shp" -nln grid1m
    fi
}
