#!/usr/bin/env bash
# Spatial Statistics (FragStats Interface) through korvane, as a user runs it
# from a form script, on copies of the two sample grids: landscape.tif by its
# Value and standage.tif by its class field AGECLASS, landscape and class
# level, Select All. Every metric field of the table must hold fragstat's own
# .land/.class value to the field's two decimals, under the field name of the
# rename map, for fragstat run on its own on the same grid with the same
# parameters (the grid converted by gdal_translate, not by korvane).
#   grid_stats_fragstat.sh KORVANE FRAGSTAT SAMPLE_FOLDER
set -euo pipefail
korvane=$1
fragstat=$2
sample=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-gridcli.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$sample"/landscape.tif* "$sample"/standage.tif* .

# compare GRID CLASS_FIELD CLASS_NAMES: CLASS_NAMES is "value=name;..." or
# empty when the classes are the values themselves.
compare() {
  local grid=$1 field=$2 names=$3 base=${1%.tif}
  local doc="$work/$base.json"
  "$korvane" --doc "$doc" add "$grid" >/dev/null
  printf '%s\n' "choose lstLayers $grid" "choose cboClass $field" "click chkLandscape" "click cmdSelectAll" \
    "click chkVerbose" "click txtOutputTableName" "file $base-stats.dbf" "click cmdOK" "click cmdCancel" >"$base.kvs"
  local log
  log=$("$korvane" --doc "$doc" run "Spatial Statistics (FragStats Interface)" --script "$base.kvs" 2>&1) ||
    { echo "$log"; echo "FAIL: the run on $grid ended with an error"; exit 1; }
  grep -q "Grid spatial statistics was successful." <<<"$log" || { echo "$log"; echo "FAIL: $grid: no success"; exit 1; }
  "$korvane" --doc "$doc" show-table "$base-stats.dbf" >"$base.tsv"

  # fragstat alone: cell size 10 (also the buffer distance), float grid,
  # NoData -9999, boundary influence 1, 8 neighbours, the dialog's MPI
  # threshold, nearest-neighbour distances on, no patch file.
  gdal_translate -q -of EHdr -ot Float32 "$grid" "own-$base.flt"
  "$fragstat" "$work/own-$base.flt" "$work/own-$base" 10 10 7 500 500 -9999 '$' '$' '$' '$' 1 y 1000000 y NO '$' \
    2>"own-$base.err" || { cat "own-$base.err"; echo "FAIL: fragstat alone on $grid"; exit 1; }

  awk -F'\t' -v names="$names" -v grid="$grid" '
    BEGIN {
      # The rename map: fragstat column -> field; SIDI is stored in SHEI and SHEI in SEI.
      split("%LAND=ZLAND C%LAND=C_LAND SIDI=SHEI MCA2=MCA CACV2=CACOV CASD2=CASD TA=TLA NP=NUMP PSCV=PSCOV SHDI=SDI SHEI=SEI", pairs, " ")
      for (i in pairs) { split(pairs[i], kv, "="); rename[kv[1]] = kv[2] }
      n = split(names, list, ";")
      for (i = 1; i <= n; i++) { split(list[i], kv, "="); className[kv[1]] = kv[2] }
    }
    # fragstat own files: one header, then data lines (blank-separated).
    FILENAME ~ /\.(land|class)$/ {
      file = FILENAME ~ /\.land$/ ? "land" : "class"
      m = split($0, tok, " ")
      if (tok[1] == "LID") { for (i = 1; i <= m; i++) head[file, i] = tok[i]; width[file] = m; next }
      if (m == 0) next
      key = file == "land" ? "All" : tok[2] in className ? className[tok[2]] : tok[2]
      if (key in seen) { print "FAIL: " grid ": fragstat row " key " twice"; bad = 1 }
      seen[key] = file
      for (i = 2; i <= m; i++) {
        c = head[file, i]
        if (c == "TYPE") continue
        f = c in rename ? rename[c] : c
        own[key, f] = tok[i]
      }
      next
    }
    # The table as show-table prints it: a header line, then tab-separated rows.
    FNR == 1 {
      for (i = 1; i <= NF; i++) field[i] = $i
      nf = NF
      for (i = 1; i <= NF; i++) if ($i == "SIDI") { print "FAIL: " grid ": a field SIDI"; bad = 1 }
      next
    }
    {
      rows++
      key = $4
      if (!(key in seen)) { print "FAIL: " grid ": table row " key " is not in fragstat output"; bad = 1; next }
      if ($3 != (seen[key] == "land" ? 1 : 2)) { print "FAIL: " grid ": row " key " Run " $3; bad = 1 }
      done[key] = 1
      for (i = 5; i <= nf; i++) {
        f = field[i]
        if (!((key, f) in own)) {
          if ($i != "") { print "FAIL: " grid ": " key " " f " is " $i " but fragstat has no such value"; bad = 1 }
          continue
        }
        t = own[key, f]
        if (t == ".") {
          if ($i != "") { print "FAIL: " grid ": " key " " f " is " $i ", fragstat did not compute it"; bad = 1 }
        } else {
          d = $i - t
          if ($i == "" || d < -0.00501 || d > 0.00501) { print "FAIL: " grid ": " key " " f " is " $i ", fragstat " t; bad = 1 }
          compared++
        }
      }
    }
    END {
      for (k in seen) if (!(k in done)) { print "FAIL: " grid ": fragstat row " k " not in the table"; bad = 1 }
      if (compared < rows * 20) { print "FAIL: " grid ": only " compared " values compared over " rows " rows"; bad = 1 }
      exit bad
    }' "own-$base.land" "own-$base.class" "$base.tsv" || { cat "$base.tsv"; exit 1; }
}

compare landscape.tif Value ""
compare standage.tif AGECLASS "1=Regeneration;2=Young;3=Immature;4=Mature;5=Old Growth"
echo "grid statistics through korvane: ok"
