#!/usr/bin/env bash
# Runs the steps of scripts/demo (not its install and build) from a fresh
# temporary folder and checks the table it prints: one row per forest type of
# the sample landscape, every column filled, and the class areas and patch
# counts that data/sample/README.md states.
#   spatial_stats_demo.sh REPOSITORY BIN_FOLDER
set -euo pipefail
root=$1
bin=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kv-demo-test.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
out="$tmp/demo.out"
if ! TMPDIR="$tmp" KORVANE_BIN="$bin" bash "$root/scripts/demo" >"$out" 2>&1; then
  cat "$out"
  echo "FAIL: scripts/demo ended with an error"
  exit 1
fi
if grep -q "Error report" "$out"; then
  cat "$out"
  echo "FAIL: an error report was shown"
  exit 1
fi
# The table: the lines after the show-table heading, up to the blank line.
table=$(awk '/^== korvane show-table output\/landscape-stats.dbf/ {on = 1; next} on && /^$/ {exit} on' "$out")
awk -F'\t' '
  NR == 1 {
    want = "Name RunDate Run Class AWMSI MSI MPAR MPFD AWMPFD TE ED MPE MPS NumP MedPS PSCoV PSSD TLA CA"
    n = split(want, names, " ")
    if (NF != n) { print "FAIL: " NF " columns, want " n ": " $0; bad = 1; exit }
    for (i = 1; i <= n; i++) {
      if ($i != names[i]) { print "FAIL: column " i " is " $i ", want " names[i]; bad = 1 }
      col[names[i]] = i
    }
    # Patches and areas (m2) of data/sample/README.md; the run states areas in hectares.
    patches["Pine"] = 39; area["Pine"] = 8339153.73
    patches["Black Spruce"] = 48; area["Black Spruce"] = 4786938.48
    patches["Birch"] = 56; area["Birch"] = 2393863.07
    patches["Aspen"] = 57; area["Aspen"] = 2575642.67
    patches["Mixed"] = 64; area["Mixed"] = 4427194.64
    patches["Wetland"] = 38; area["Wetland"] = 2477207.40
    next
  }
  {
    rows++
    if (NF != n) { print "FAIL: row " rows " has " NF " fields: " $0; bad = 1; next }
    for (i = 1; i <= NF; i++) if ($i == "") { print "FAIL: row " rows " column " i " is empty"; bad = 1 }
    c = $(col["Class"])
    if (!(c in patches)) { print "FAIL: unknown class " c; bad = 1; next }
    if (c in seen) { print "FAIL: class " c " twice"; bad = 1 }
    seen[c] = 1
    if ($(col["Name"]) != "landscape" || $(col["Run"]) != 1) { print "FAIL: header values of " c; bad = 1 }
    if ($(col["NumP"]) + 0 != patches[c]) { print "FAIL: " c " NumP " $(col["NumP"]) ", want " patches[c]; bad = 1 }
    d = $(col["CA"]) - area[c] / 10000
    if (d < -0.01 || d > 0.01) { print "FAIL: " c " CA " $(col["CA"]) ", want " area[c] / 10000; bad = 1 }
    d = $(col["TLA"]) - 2500
    if (d < -0.01 || d > 0.01) { print "FAIL: " c " TLA " $(col["TLA"]) ", want 2500"; bad = 1 }
  }
  END {
    if (rows != 6) { print "FAIL: " rows " rows, want 6"; bad = 1 }
    exit bad
  }' <<<"$table" || { cat "$out"; exit 1; }
# The grid table: one landscape row (Run 1) and one row per class (Run 2);
# class areas are the cell counts of data/sample/README.md at 10 m cells.
grid=$(awk '/^== korvane show-table output\/landscape-grid-stats.dbf/ {on = 1; next} on && /^$/ {exit} on' "$out")
awk -F'\t' '
  NR == 1 {
    for (i = 1; i <= NF; i++) col[$i] = i
    split("Name RunDate Run Class TLA CA ZLAND NUMP MPS PSCOV PSSD TE ED SDI SEI SHEI MNN MPI IJI TCA MCA", need, " ")
    for (k in need) if (!(need[k] in col)) { print "FAIL: grid table has no field " need[k] ": " $0; bad = 1 }
    cells["10"] = 83408; cells["20"] = 47882; cells["30"] = 23919
    cells["40"] = 25735; cells["50"] = 44268; cells["60"] = 24788
    next
  }
  {
    rows++
    c = $(col["Class"])
    if ($(col["Name"]) != "landscape.tif") { print "FAIL: grid row " rows " Name " $(col["Name"]); bad = 1 }
    if (c == "All") {
      if ($(col["Run"]) != 1) { print "FAIL: landscape row Run " $(col["Run"]); bad = 1 }
      d = $(col["TLA"]) - 2500
      if (d < -0.01 || d > 0.01) { print "FAIL: TLA " $(col["TLA"]) ", want 2500"; bad = 1 }
      if ($(col["SDI"]) == "") { print "FAIL: the landscape row has no SDI"; bad = 1 }
      next
    }
    if (!(c in cells)) { print "FAIL: unknown grid class " c; bad = 1; next }
    if ($(col["Run"]) != 2) { print "FAIL: class " c " Run " $(col["Run"]); bad = 1 }
    d = $(col["CA"]) - cells[c] / 100
    if (d < -0.01 || d > 0.01) { print "FAIL: class " c " CA " $(col["CA"]) ", want " cells[c] / 100; bad = 1 }
    seen++
  }
  END {
    if (rows != 7 || seen != 6) { print "FAIL: " rows " grid rows (" seen " classes), want 7 (6)"; bad = 1 }
    exit bad
  }' <<<"$grid" || { cat "$out"; exit 1; }
echo "PASS: one row per class, every column filled; the grid table holds the landscape and its six classes"
