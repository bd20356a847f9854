#!/usr/bin/env bash
# Whether two builds give the same outputs on the command benchmarks'
# landscapes: every row is run once with each build's korvane in a folder
# of its own, and every file the runs leave (the outputs, the map document,
# the changed source layers) is compared byte for byte, dates masked (the
# .dbf header's date of last update, run dates and times in the text).
#   bench/commands/identical.sh BEFORE_BUILD AFTER_BUILD [ROWS...]
# ROWS default to every korvane row of run.sh. Exit 0 when all agree.
# KV_BENCH_CACHE names another folder for the landscapes (default
# AFTER_BUILD/bench-cache/commands).
set -euo pipefail
before=$(cd "$1" && pwd)
after=$(cd "$2" && pwd)
shift 2
build=$after
cache=${KV_BENCH_CACHE:-$after/bench-cache/commands}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/landscapes.sh"
. "$here/commands.sh"
want=${*:-$rows_all}
make_landscapes
work=$cache/identical
rc=0
for row in $want; do
    for side in before after; do
        [ $side = before ] && b=$before || b=$after
        dir=$work/$side/$row
        prepare "$row" "$dir" "$b/bin/korvane"
        (cd "$dir" && "$b/bin/korvane" -q run "$(caption "$row")" --script "$(script "$row")" >"$dir.log" 2>&1) ||
            echo "$row: the $side run exited with $?"
    done
    if python3 "$here/same_outputs.py" "$work/before/$row" "$work/after/$row"; then
        echo "$row: identical"
    else
        echo "$row: DIFFERENT"
        rc=1
    fi
done
exit $rc
