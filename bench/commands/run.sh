#!/usr/bin/env bash
# The user's commands end to end, each beside its peer in the same run,
# interleaved, REPEATS times (default 3); the table gives medians of wall
# time and of peak resident memory:
#   bench/commands/run.sh BUILD_DIR [REPEATS] [ROWS...]
# ROWS (default all): patch (Create Patch Theme from Grid, 10000², beside
# GRASS r.clump -d), clip (Clip Grids to Polygon Theme, 10000², beside
# gdalwarp -cutline), combine (Intersect (Combine) Grids, 10000², beside
# GRASS r.cross), regions (Spatial Statistics (by Regions) of a 4000² grid
# by 10 and by 999 regions tiling it, beside one fragstat run over the whole
# grid; the fixed cost per region is (t(999) - t(10)) / 989), vector
# (Analysis by Regions of 1,000,000 patches in 10 regions, beside Spatial
# Statistics of the same layer). Landscapes are made once under
# BUILD_DIR/bench-cache/commands, or KV_BENCH_CACHE (bench/patch/setup.sh
# installs GRASS).
# korvane runs with -q, so that drawing progress costs nothing.
#
# On the 8-core development machine (a virtual one, where page faults and
# process starts are dear), three interleaved runs, load average 3.1 before:
#   patch 4.46 s, 370 MiB      r.clump -d 6.37 s, 43 MiB
#   clip 3.53 s, 206 MiB       gdalwarp -cutline 8.14 s, 865 MiB
#   combine 3.99 s, 204 MiB    r.cross 7.99 s, 36 MiB
#   regions10 1.96 s, regions999 25.19 s (23.5 ms more per region; one
#   fragstat start on a region's cut alone takes about 10 ms there),
#   one fragstat run over the grid 0.22 s
#   Analysis by Regions 16.04 s    Spatial Statistics 1.21 s; since Analysis
#   by Regions reads its layer once (a later run, load average 3.9 before):
#   Analysis by Regions 1.33 s, 100 MiB   Spatial Statistics 1.18 s, 104 MiB
#   and since the patch theme's copies keep GDAL's block cache small (five
#   interleaved runs, load average 14.8 before, 11.4 after):
#   patch 4.85 s, 248 MiB      r.clump -d 6.64 s, 43 MiB
# After the direct cut and side-by-side fragstat runs (load average 1.7
# before): regions10 1.22 s, regions999 8.16 s, 7.0 ms more per region
# (the old build in the same session: 24.8 ms); fragstat 0.14 s. With
# fragstat linked statically and a region's query reading no shapes, three
# runs interleaved with the old build (load average 2.3 before, 2.1 after):
#   regions10 1.32 s, regions999 5.17 s: 3.9 ms more per region
#   (the old build: 2.02 s and 25.41 s, 23.7 ms)
# What is left is mostly the making of a process, which this machine does
# one at a time: a static program that does nothing takes 1.4-1.8 ms a
# start even from eight starters at once, fragstat on a region's cut
# 2.8-2.9 ms.
set -euo pipefail
build=$(cd "$1" && pwd)
repeats=${2:-3}
shift; [ $# -gt 0 ] && shift
want=${*:-"patch clip combine regions vector"}
cache=${KV_BENCH_CACHE:-$build/bench-cache/commands}
work=$cache/runs
here=$(cd "$(dirname "$0")" && pwd)
. "$here/landscapes.sh"
. "$here/commands.sh"
make_landscapes
kv=$build/bin/korvane

rows=()
for w in $want; do
    case $w in
        patch) rows+=(patch r.clump) ;;
        clip) rows+=(clip gdalwarp) ;;
        combine) rows+=(combine r.cross) ;;
        regions) rows+=(regions10 regions999 fragstat) ;;
        vector) rows+=(regions-vector spatial-stats) ;;
    esac
done

grassdb=$cache/grassdb
grass_ready() {
    command -v grass >/dev/null 2>&1 || return 1
    [ -f "$grassdb/imported" ] && return 0
    rm -rf "$grassdb"; mkdir -p "$grassdb"
    grass -c "$cache/classes10k.tif" "$grassdb/loc" -e >"$cache/grass-setup.log" 2>&1
    grass "$grassdb/loc/PERMANENT" --exec r.in.gdal input="$cache/classes10k.tif" output=classes >>"$cache/grass-setup.log" 2>&1
    grass "$grassdb/loc/PERMANENT" --exec r.in.gdal input="$cache/standage10k.tif" output=standage >>"$cache/grass-setup.log" 2>&1
    touch "$grassdb/imported"
}

# One run of a row: prints "seconds peak_kib" (or "- -" when it failed).
timed() {  # label cmd...
    local t; t=$(mktemp)
    if /usr/bin/time -f "%e %M" -o "$t" "$@" >"$work/last.log" 2>&1; then tail -n1 "$t"; else echo "- -"; fi
    rm -f "$t"
}
once() {
    local row=$1 dir=$work/$1
    case $row in
        r.clump)
            grass_ready || { echo "- -"; return; }
            local t; t=$(mktemp)
            grass "$grassdb/loc/PERMANENT" --exec /usr/bin/time -f "%e %M" -o "$t" \
                r.clump -d input=classes output=clumps --overwrite --quiet >"$work/last.log" 2>&1 && tail -n1 "$t" || echo "- -"
            rm -f "$t" ;;
        r.cross)
            grass_ready || { echo "- -"; return; }
            local t; t=$(mktemp)
            grass "$grassdb/loc/PERMANENT" --exec /usr/bin/time -f "%e %M" -o "$t" \
                r.cross input=classes,standage output=crossed --overwrite --quiet >"$work/last.log" 2>&1 && tail -n1 "$t" || echo "- -"
            rm -f "$t" ;;
        gdalwarp)
            rm -rf "$dir"; mkdir -p "$dir"
            timed gdalwarp -q -cutline "$cache/clip.shp" -co TILED=YES -co COMPRESS=DEFLATE "$cache/classes10k.tif" "$dir/clipped.tif" ;;
        fragstat)
            rm -rf "$dir"; mkdir -p "$dir"
            timed "$build/bin/fragstat" "$cache/clustered4000.flt" "$dir/out" 30 30 7 4000 4000 -9999 '$' '$' '$' '$' 1 y 1000000000 n NO '$' ;;
        *)
            prepare "$row" "$dir" "$kv"
            (cd "$dir" && timed "$kv" -q run "$(caption "$row")" --script "$(script "$row")") ;;
    esac
}

mkdir -p "$work"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
declare -A secs peaks
for ((i = 1; i <= repeats; ++i)); do
    for row in "${rows[@]}"; do
        read -r s k < <(once "$row")
        secs[$row]+="$s "
        peaks[$row]+="$k "
        echo "run $i $row: $s s, $k KiB" >&2
    done
done
median() { tr ' ' '\n' | grep -v '^$' | grep -v '^-$' | sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
echo "load average before: $load_before"
printf "%-16s %10s %12s   %s\n" row "median s" "peak MiB" "runs (s)"
for row in "${rows[@]}"; do
    m=$(echo "${secs[$row]}" | median)
    p=$(echo "${peaks[$row]}" | median)
    [ "$p" = - ] || p=$(awk -v k="$p" 'BEGIN { printf "%.0f", k / 1024 }')
    printf "%-16s %10s %12s   %s\n" "$row" "$m" "$p" "${secs[$row]}"
done
if [[ -n ${secs[regions999]:-} && -n ${secs[regions10]:-} ]]; then
    a=$(echo "${secs[regions999]}" | median) b=$(echo "${secs[regions10]}" | median)
    awk -v a="$a" -v b="$b" 'BEGIN { printf "fixed cost per region: %.2f ms\n", (a - b) / 989 * 1000 }'
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
