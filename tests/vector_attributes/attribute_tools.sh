#!/usr/bin/env bash
# The three attribute derivation commands through korvane, as a user runs
# them, on a copy of the sample landscape in a temporary folder (the
# committed sample is never written).
#   attribute_tools.sh KORVANE SAMPLE_FOLDER
set -euo pipefail
korvane=$1
sample=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for ext in shp shx dbf prj; do cp "$sample/landscape.$ext" "$work/"; done
chmod u+w "$work"/landscape.*
doc="$work/doc.json"
k() { "$korvane" --doc "$doc" "$@"; }
fail() { printf 'FAIL: %s\n' "$*"; exit 1; }
noreport() { if grep -q "Error report" <<<"$1"; then printf 'unexpected error report:\n%s\n' "$1"; exit 1; fi; }

k add "$work/landscape.shp" >/dev/null
k toc landscape >/dev/null

# Attribute Modelling: three entries into a field added from the Run button;
# the third tests what the second wrote.
cat >"$work/model.kvs" <<'KVS'
set txtAttributeValue 1
set txtQuery "[FORTYPE] = 'Pine'"
click cmdAdd
set txtAttributeValue 2
set txtQuery "[TYPECODE] >= 40"
click cmdAdd
set txtAttributeValue [HSI]*10+[TYPECODE]
set txtQuery "[HSI] = 2"
click cmdAdd
choose cboTargetField "<New Field>"
click cmdRun
set txtFieldName HSI
choose cboFieldType Double
set txtWidth 12
set txtDecimalPlaces 2
click cmdOK
click cmdCancel
KVS
out=$(k run "Attribute Modelling" --script "$work/model.kvs" 2>&1)
noreport "$out"
k show-table "$work/landscape.dbf" | awk -F'\t' '
  NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; if (!("HSI" in col)) { print "FAIL: no HSI"; exit 1 }; next }
  {
    t = $(col["TYPECODE"]); v = $(col["HSI"])
    want = t == 10 ? 1 : t >= 40 ? 20 + t : ""
    if ((want == "" && v != "") || (want != "" && v + 0 != want)) { print "FAIL: row " NR - 1 " TYPECODE " t " HSI " v " want " want; bad = 1 }
    rows++
  }
  END { if (bad || rows != 302) exit 1 }' || fail "attribute model"

# The query-set library outlives the command: a set saved in one run of
# korvane is there in the next, whose Save fills the animal box with both.
cat >"$work/save.kvs" <<'KVS'
set txtAttributeValue 7
set txtQuery "[TYPECODE] = 10"
click cmdAdd
click cmdSave
input Moose
click cmdCancel
KVS
out=$(k run "Attribute Modelling" --script "$work/save.kvs" 2>&1)
noreport "$out"
cat >"$work/load.kvs" <<'KVS'
set txtAttributeValue 1
set txtQuery "[TYPECODE] = 20"
click cmdAdd
click cmdSave
input Hare
click cmdRemoveAll
choose cboCritterBox Moose
click cmdLoad
choose cboTargetField HSI
click cmdRun
click cmdCancel
KVS
out=$(k run "Attribute Modelling" --script "$work/load.kvs" 2>&1)
noreport "$out"
k show-table "$work/landscape.dbf" | awk -F'\t' '
  NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
  $(col["TYPECODE"]) == 10 { n++; if ($(col["HSI"]) + 0 != 7) bad = 1 }
  END { if (bad || n == 0) exit 1 }' || fail "the saved set did not outlive its command"

# Parse Species Composition String on SPCOMP: one field per code, and each
# stand's shares add up to ten tenths.
printf 'answer Yes\nchoose lstDataSet SPCOMP\nclick OKButton\n' >"$work/species.kvs"
out=$(k run "Parse Species Composition String" --script "$work/species.kvs" 2>&1)
noreport "$out"
k show-table "$work/landscape.dbf" | awk -F'\t' '
  NR == 1 {
    for (i = 1; i <= NF; i++) { col[$i] = i; if ($i ~ /^(Pj|Pw|Pr|Sb|Bw|La|Bf|Po|Sw|Pb|Ce)$/) sp[i] = $i }
    if (length(sp) < 8) { print "FAIL: species fields missing: " $0; exit 1 }
    next
  }
  {
    sum = 0
    for (i in sp) sum += $i
    if (sum != 10) { print "FAIL: row " NR - 1 " " $(col["SPCOMP"]) " sums to " sum; bad = 1 }
  }
  END { if (bad) exit 1 }' || fail "species fields"

# Neighbourhood mean of TYPECODE within 600 m into a new field, against a
# brute-force computation over GEOS centroids.
printf '%s\n' 'choose lstDataSet TYPECODE' 'click OKButton' 'input 600' 'choose lstDataSet "<New Field>"' \
  'click OKButton' 'set txtFieldName NMEAN' 'choose cboFieldType Double' 'click cmdOK' >"$work/mean.kvs"
out=$(k run "Neighbourhood mean" --script "$work/mean.kvs" 2>&1)
noreport "$out"
ogr2ogr -f CSV "$work/centroids.csv" -dialect SQLite \
  -sql "SELECT ROWID AS oid, ST_X(ST_Centroid(geometry)) AS cx, ST_Y(ST_Centroid(geometry)) AS cy, TYPECODE AS v FROM landscape" \
  "$work/landscape.shp"
k show-table "$work/landscape.dbf" | awk -F'\t' 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "NMEAN") c = i; next } { print NR - 2 "\t" $c }' \
  >"$work/means.tsv"
awk -F'[,\t]' -v T=600 '
  FNR == 1 && NR == 1 { next }
  NR == FNR { gsub(/"/, ""); x[$1] = $2; y[$1] = $3; v[$1] = $4; n++; next }
  {
    id = $1; sum = 0; cnt = 0; near = 0
    for (j = 0; j < n; j++) {
      d = sqrt((y[id] - y[j]) ^ 2 + (x[id] - x[j]) ^ 2)
      if (d <= T) { sum += v[j]; cnt++ }
      if (d > T - 1e-6 && d < T + 1e-6) near = 1
    }
    if (near) next
    if (cnt == 0 || ($2 - sum / cnt) ^ 2 > 1e-12) { print "FAIL: feature " id " mean " $2 " want " sum / cnt; bad = 1 }
    checked++
  }
  END { if (bad || checked < 290) { print "checked " checked; exit 1 } }' "$work/centroids.csv" "$work/means.tsv" \
  || fail "neighbourhood means"

# The committed sample was only read.
cmp -s "$sample/landscape.dbf" "$work/landscape.dbf" && fail "the copy did not change"
echo "attribute tools: ok"
