#!/bin/sh
# Whole-program runs of fragstat on landscape files, beside the plain read of
# the same file, GRASS r.clump -d (patch labelling with diagonals; installed by
# bench/fragstat/setup.sh) and (optionally) a baseline fragstat, all in the
# same run:
#   bench/fragstat/run.sh BUILD_DIR WORK_DIR [BASELINE_FRAGSTAT] [SIDES...]
# Each line: program, landscape, nndist, wall s, CPU s (user + sys), peak RSS MiB;
# after each nndist y run, the same-class patch pairs (from the `.class` NP
# column) that the proximity index takes at the default radius, and their
# rate per CPU second. r.clump's line times the labelling alone (the import
# into a temporary GRASS location is not counted).
# Runs of the new program are capped at 2 GiB of address space (ulimit -v), so
# that they cannot lean on the machine's RAM. SIDES default to
# "1000 4000 10000 fine2828 40000 50000"; fineN is a landscape of many small
# patches. Files above 10000² are removed after their runs; nndist y is run up
# to 10000². Set NO_GRASS=1 to leave r.clump out.
set -eu
build=$1
work=$2
baseline=${3:-}
shift 2; [ $# -gt 0 ] && shift
sides=${*:-"1000 4000 10000 fine2828 40000 50000"}
mkdir -p "$work"
gen="$build/bin/fragstat_landfile"
new="$build/bin/fragstat"
measure() {  # label capped|uncapped cmd...
    label=$1; shift
    out=$(mktemp)
    if ( [ "$1" = capped ] && ulimit -v 2097152; shift; /usr/bin/time -f "%e %U %S %M" -o "$out" "$@" >/dev/null 2>&1 ); then
        rc=0
    else
        rc=$?
    fi
    awk -v l="$label" -v rc=$rc '{ printf "%-44s wall %8.2f  cpu %8.2f  rss %8.1f MiB%s\n", l, $1, $2 + $3, $4 / 1024, rc ? "  (exit " rc ")" : "" }' "$out"
    cpu=$(awk '{ print $2 + $3 }' "$out")
    rm -f "$out"
}
clump() {  # label file
    [ "${NO_GRASS:-}" = 1 ] || ! command -v grass >/dev/null 2>&1 && return 0
    out=$(mktemp)
    grass --tmp-location XY --exec sh -c "r.in.gdal -o input='$2' output=l --quiet >/dev/null 2>&1 && g.region raster=l &&
        /usr/bin/time -f '%e %U %S %M' -o '$out' r.clump -d input=l output=c --quiet" >/dev/null 2>&1 || true
    awk -v l="$1" '{ printf "%-44s wall %8.2f  cpu %8.2f  rss %8.1f MiB\n", l, $1, $2 + $3, $4 / 1024 }' "$out"
    rm -f "$out"
}
uptime
for s in $sides; do
    case $s in fine*) n=${s#fine}; fine=--fine ;; *) n=$s; fine= ;; esac
    f="$work/l$s"
    [ -f "$f.flt" ] || "$gen" write "$f" "$n" $fine
    measure "plain read $s" uncapped "$gen" read "$f.flt"
    clump "r.clump -d $s" "$f.flt"
    for nn in n y; do
        [ "$nn" = y ] && [ "$n" -gt 10000 ] && continue
        rm -f "$work"/out.*
        measure "fragstat $s nndist $nn" capped "$new" "$f.flt" "$work/out" 30 30 7 "$n" "$n" -9999 '$' '$' '$' '$' 1 y 1000000000 $nn NO '$'
        [ "$nn" = y ] && awk -v cpu="$cpu" 'NR == 1 { for (i = 1; i <= NF; ++i) if ($i == "NP") c = i; next }
                              { p += $c * ($c - 1) / 2 } END { printf "  same-class pairs %.4g, %.3g per CPU second\n", p, p / cpu }' "$work/out.class"
        if [ -n "$baseline" ]; then
            rm -f "$work"/base.*
            measure "baseline $s nndist $nn" uncapped timeout 600 "$baseline" "$f.flt" "$work/base" 30 30 7 "$n" "$n" -9999 '$' '$' '$' '$' 1 y 1000000000 $nn NO '$'
        fi
    done
    case $n in 1000|4000|10000|2828) ;; *) rm -f "$f.flt" "$f.hdr" ;; esac
done
uptime
