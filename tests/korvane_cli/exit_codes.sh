#!/usr/bin/env bash
# korvane as a command-line tool: each case runs korvane as a user would and
# checks its exit code (as the README lists them) and a line of its output.
# The stop messages of the dialogs exit 5; questions and information do not.
#   exit_codes.sh KORVANE SAMPLE_FOLDER TEST_DATA_FOLDER
set -uo pipefail
korvane=$1
sample=$2
testdata=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-exit-codes.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
bin=$(dirname "$korvane")
failures=0

# A private library folder (the vector library with its own Korvane.ini),
# so that the ini file and batch file belong to this test.
libs() {   # libs FOLDER [BATCH_FILE]: no BATCH_FILE, no Korvane.ini
  mkdir -p "$1"
  cp "$bin/libKorvane93.so" "$1/"
  [ $# -lt 2 ] || printf '[KorvaneBatch]\r\nLocation=%s\r\n' "$2" >"$1/Korvane.ini"
}
script() {   # script NAME LINE...: writes NAME.kvs
  local name=$1
  shift
  printf '%s\n' "$@" >"$work/$name.kvs"
}

# The map documents the cases start from.
"$korvane" --doc empty.json new >/dev/null
"$korvane" --doc land.json add "$sample/landscape.shp" >/dev/null
"$korvane" --doc nounits.json add "$testdata/lsm-landscape/landscape_polygons.shp" >/dev/null
libs nolibini
libs batchlibs "$work/no-such-batch.kv"
mkdir output
"$korvane" --doc table.json add "$sample/landscape.shp" >/dev/null
"$korvane" --doc table.json run "Spatial Statistics" --script "$sample/../scripts/spatial-stats.kvs" >/dev/null 2>&1
chmod a-w output/landscape-stats.dbf

layer=("choose lstLayers landscape" "choose cboClass FORTYPE")
script nolayer "click cmdOK"
script notable "${layer[@]}" "click cmdOK"
script run "${layer[@]}" "click txtOutputTableName" "file output/x.dbf" "click cmdOK"
script overwrite "${layer[@]}" "click txtOutputTableName" "file output/landscape-stats.dbf" \
  "click optOverwrite" "answer Yes" "click cmdOK"
script batchrun "click cmdRun"
script cancel "click cmdCancel"
script full "${layer[@]}" "click txtOutputTableName" "file full/x.dbf" "click cmdOK"
script banana "choose lstLayers landscape" "# a comment" "set chkHectares banana" "click cmdOK"
script nocontrol "click cmdNoSuch"
script noaction "frobnicate"
script noentry "choose lstLayers forest"
script nobutton "${layer[@]}" "click txtOutputTableName" "file output/landscape-stats.dbf" \
  "click optOverwrite" "answer Maybe"

# name | exit code | pattern (in stdout and stderr) | korvane's arguments
cases=(
  "version|0|^korvane [0-9]+\.[0-9]+\.[0-9]+$|--version"
  "help|0|Exit codes:|--help"
  "unknown option|1|--bogus|--bogus menu"
  "missing argument|1|command is required|run"
  "extra argument|1|not expected|--doc land.json status extra"
  "unknown command|2|no command \"No Such Thing\"|--doc land.json run No_Such_Thing"
  "missing script|2|cannot read the script|--doc land.json run About_Korvane --script none.kvs"
  "missing file|2|cannot read|--doc land.json add none.shp"
  "missing file named|2|cannot read none.tif: there is no such file|--doc land.json add none.tif"
  "unknown layer|2|no layer \"forest\"|--doc land.json toc forest"
  "missing table file|2|cannot read none.dbf: there is no such file, and no layer or table|--doc land.json show-table none.dbf"
  "empty map|3|needs a layer on the map.*|--doc empty.json run Spatial_Statistics"
  "no selected layer|3|korvane toc LAYER|--doc land.json run Make_Hexagon_Regions"
  "no second grid|3|it needs two grid layers on the map|--doc land.json run Intersect_(Combine)_Grids"
  "no layer chosen|5|A layer must first be chosen|--doc land.json run Spatial_Statistics --script nolayer.kvs"
  "no output table|5|No filename provided for output table|--doc land.json run Spatial_Statistics --script notable.kvs"
  "no Korvane.ini|5|Korvane.ini' could not be found|--libs nolibini --doc land.json run Spatial_Statistics --script notable.kvs"
  "missing batch file|5|no-such-batch.kv' could not be found.  Aborting.|--libs batchlibs --doc land.json run Set_and_Run_Batch_Processes --script batchrun.kvs"
  "table cannot be replaced|5|Cannot delete .*landscape-stats.dbf|--doc table.json run Spatial_Statistics --script overwrite.kvs"
  "document not saved|6|could not be saved .*the stored one is kept|--doc nofolder/doc.json add $sample/landscape.shp"
  "a run|0|100 - done\.$|--doc land.json run Spatial_Statistics --script run.kvs"
  "an information box|0|Map Units are unknown|--doc nounits.json run Spatial_Statistics --script cancel.kvs"
  "bad check box value|2|banana.kvs line 3 \(\"set chkHectares banana\"\): chkHectares takes 1 or 0|--doc land.json run Spatial_Statistics --script banana.kvs"
  "unknown control|2|nocontrol.kvs line 1 .*has no control \"cmdNoSuch\"|--doc land.json run Spatial_Statistics --script nocontrol.kvs"
  "unknown action|2|noaction.kvs line 1 .*unknown action \"frobnicate\"|--doc land.json run Spatial_Statistics --script noaction.kvs"
  "unknown entry|2|noentry.kvs line 1 .*lstLayers has no entry \"forest\"|--doc land.json run Spatial_Statistics --script noentry.kvs"
  "unknown button|2|nobutton.kvs line 6 .*no button \"Maybe\"|--doc table.json run Spatial_Statistics --script nobutton.kvs"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name want pattern args <<<"$c"
  read -ra argv <<<"$args"
  argv=("${argv[@]//_/ }")   # command captions are written with _ for blanks
  out=$("$korvane" "${argv[@]}" </dev/null 2>&1)
  rc=$?
  if [ "$rc" != "$want" ] || ! grep -qE -- "$pattern" <<<"$out"; then
    printf 'FAIL %s: exit %s (want %s), output:\n%s\n' "$name" "$rc" "$want" "$out"
    failures=$((failures + 1))
  fi
done

# -q draws no progress; the run still succeeds.
rm -f output/x.*
out=$("$korvane" -q --doc land.json run "Spatial Statistics" --script run.kvs </dev/null 2>&1)
rc=$?
if [ $rc != 0 ] || grep -q -- '- done\.' <<<"$out" || [ ! -f output/x.dbf ]; then
  printf 'FAIL quiet: exit %s, output:\n%s\n' "$rc" "$out"
  failures=$((failures + 1))
fi

# An output that could not be written exits 7 and names the user's file,
# never a temporary: the output folder is a full disk of its own (a private
# mount; passed over where this user cannot make one).
mkdir -p full
for size in 8k 40k; do
  out=$(unshare -m sh -c "mount -t tmpfs -o size=$size kvfull full || exit 77
    \"\$0\" -q --doc land.json run 'Spatial Statistics' --script full.kvs" "$korvane" </dev/null 2>&1)
  rc=$?
  [ $rc = 77 ] && break
  if [ $rc != 7 ] || grep -q 'kvtmp' <<<"$out" || ! grep -q 'full/' <<<"$out"; then
    printf 'FAIL full disk (%s): exit %s (want 7), output:\n%s\n' "$size" "$rc" "$out"
    failures=$((failures + 1))
  fi
done

((failures == 0)) && echo "exit codes: ok"
exit $((failures > 0))
