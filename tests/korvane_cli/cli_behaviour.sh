#!/usr/bin/env bash
# korvane's own behaviour as a command-line tool: layers that share a name,
# scripts from standard input, no script without a terminal, read-only
# commands, documents of another version, control characters in names and
# script lines, a library that cannot be loaded, and a dialog printed once
# its activation has filled it.
#   cli_behaviour.sh KORVANE SAMPLE_FOLDER
set -euo pipefail
korvane=$1
sample=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-cli.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
bin=$(dirname "$korvane")
k() { "$korvane" --doc "$work/doc.json" "$@"; }
expect() {   # expect PATTERN TEXT
  grep -qE -- "$1" <<<"$2" || { printf 'expected /%s/ in:\n%s\n' "$1" "$2"; exit 1; }
}
refuse() {   # refuse PATTERN TEXT
  if grep -qE -- "$1" <<<"$2"; then printf 'unexpected /%s/ in:\n%s\n' "$1" "$2"; exit 1; fi
}
status_of() { set +e; "$@" >"$work/out" 2>&1; echo $? >"$work/rc"; set -e; }
copy_landscape() {   # copy_landscape FOLDER NAME
  mkdir -p "$1"
  for ext in shp shx dbf prj; do cp "$sample/landscape.$ext" "$1/$2.$ext"; done
}

# --- two layers of one name ---------------------------------------------------
copy_landscape a landscape
copy_landscape b landscape
k add a/landscape.shp >/dev/null 2>&1
out=$(k add b/landscape.shp 2>&1)
expect 'warning: the map holds 2 layers named "landscape" \(#1 landscape \(.*/b/landscape.shp\), #2 landscape \(.*/a/landscape.shp\)\); the dialogs .* use the first, #1' "$out"
status_of k toc landscape
[ "$(cat rc)" = 2 ] || { cat out; echo "an ambiguous name was taken"; exit 1; }
expect '2 layers are named "landscape"; name one by its position \(#N\) or its path' "$(cat out)"
expect '^  #2 landscape \(.*/a/landscape.shp\)$' "$(cat out)"
out=$(k toc '#2' 2>&1)
expect '^selected landscape$' "$out"
refuse 'warning' "$out"   # the shared name was told when it arose
out=$(k status 2>&1)
expect '^selected landscape \(#2\)$' "$out"
refuse 'warning' "$out"
expect '^#1 layer landscape \(feature, .*/b/landscape.shp\)$' "$out"
out=$(k toc "$work/b/./landscape.shp" 2>&1)
out=$(k status 2>&1)
expect '^selected landscape \(#1\)$' "$out"
out=$(k select a/landscape.shp "FORTYPE = 'Pine'" 2>&1)
expect '^landscape: [0-9]+ features selected$' "$out"
grep -q '"selection"' doc.json
# A script cannot pick one of two equal list entries by name, only by position.
printf 'choose lstLayers landscape\n' >dup.kvs
status_of k run "Spatial Statistics" --script dup.kvs
[ "$(cat rc)" = 2 ] || { cat out; echo "an ambiguous list entry was taken"; exit 1; }
expect 'lstLayers has several entries "landscape" \(#1, #2\); choose one by its position' "$(cat out)"
printf 'choose lstLayers #2\nshow\n' >pos.kvs
status_of k run "Spatial Statistics" --script pos.kvs
[ "$(cat rc)" = 0 ] || { cat out; echo "a list entry by position failed"; exit 1; }
expect 'lstLayers +ListBox +\{"landscape", \*"landscape"\}' "$(cat out)"

# --- read-only commands leave the document as it is ----------------------------
touch -d '2000-01-01' doc.json
before=$(sha256sum doc.json)
k status >/dev/null 2>&1
k menu >/dev/null 2>&1
k show-table '#1' >/dev/null 2>&1
k show-table "$sample/regions.dbf" >/dev/null 2>&1
[ "$before" = "$(sha256sum doc.json)" ] && [ "$(stat -c %Y doc.json)" = "$(date -d 2000-01-01 +%s)" ] \
  || { echo "a read-only command wrote the document"; exit 1; }
out=$(k show-table '#2' 2>&1)
expect '^FORTYPE' "$out"

# --- a document of another version is refused and left as it is -----------------
printf '{"korvaneDocument": 2, "maps": [], "future": "kept"}\n' >v2.json
cp v2.json v2.orig
for cmd in status "add $sample/landscape.shp" "toc landscape"; do
  set +e; out=$("$korvane" --doc v2.json $cmd 2>&1); rc=$?; set -e
  [ "$rc" = 2 ] || { echo "$out"; echo "$cmd on a version-2 document: exit $rc"; exit 1; }
  expect 'v2.json is a Korvane map document of version 2, which this korvane \(version 1\) does not read' "$out"
  cmp -s v2.json v2.orig || { echo "$cmd rewrote a version-2 document"; exit 1; }
done

# --- scripts from standard input; no script and no terminal ----------------------
out=$(printf 'show\nclick cmdOK\n' | "$korvane" --doc about.json run "About Korvane" --script - 2>&1)
expect '^> click cmdOK$' "$out"
refuse 'no actions are read' "$out"
set +e; printf 'click cmdNoSuch\n' | "$korvane" --doc about.json run "About Korvane" --script - >out 2>&1; rc=$?; set -e
[ "$rc" = 2 ] && expect 'standard input line 1 \("click cmdNoSuch"\)' "$(cat out)" || { cat out; exit 1; }
out=$("$korvane" --doc about.json run "About Korvane" </dev/null 2>&1 >/dev/null)
expect '^korvane: standard input is not a terminal and no --script was given: no actions are read' "$out"

# --- the dialog is printed after its activation filled it -----------------------
out=$(printf 'click cmdCancel\n' | "$korvane" --doc doc.json run "Spatial Statistics" --script - 2>&1)
first=$(awk '/^\[frmSpatialStat\]/ {n++} n == 1' <<<"$out")
expect 'lstLayers +ListBox +\{"landscape", "landscape"\}' "$first"
expect 'chkHectares +CheckBox +\[x\] State areas in hectares$' "$first"

# --- control characters are printed escaped ---------------------------------------
esc=$'\e'
copy_landscape c "red${esc}[31mname"
out=$("$korvane" --doc esc.json add "c/red${esc}[31mname.shp" 2>&1)
expect 'layer red\\x1b\[31mname \(feature' "$out"
out=$("$korvane" --doc esc.json status 2>&1)$(printf 'show\x07\n' | "$korvane" --doc esc.json run "Spatial Statistics" --script - 2>&1 || true)
expect '> show\\x07' "$out"
expect 'lstLayers +ListBox +\{"red\\x1b\[31mname"\}' "$out"
if grep -q "$esc" <<<"$out" || grep -q $'\a' <<<"$out"; then echo "a raw control character reached the output"; exit 1; fi
# A batch line with a control character, through the batch dialog's viewer.
mkdir libs
cp "$bin/libKorvane93.so" libs/
printf '[KorvaneBatch]\r\nLocation=%s\r\n' "$work/runs.kv" >libs/Korvane.ini
printf 'RunSpatialStats ArcMapHook, x\e]0;title\a, y\r\n' >runs.kv
out=$(printf 'click cmdView\n' | "$korvane" --libs libs --doc esc.json run "Set and Run Batch Processes" --script - 2>&1 || true)
expect 'RunSpatialStats ArcMapHook, x\\x1b\]0;title\\x07, y' "$out"
if grep -q "$esc" <<<"$out"; then echo "a raw control character of a batch line reached the output"; exit 1; fi

# --- a library that cannot be loaded is reported with the loader's message -----
mkdir broken
cp "$bin/libKorvane93.so" broken/
printf 'not a library' >broken/libBroken.so
out=$("$korvane" --libs broken --doc about.json menu 2>&1)
expect '^korvane: a library could not be loaded: libBroken.so: .*(invalid ELF header|file too short)' "$out"
expect 'About Korvane' "$out"
# A name shared later is told alone, not with one told before.
ks() { "$korvane" --doc "$work/shared.json" "$@"; }
copy_landscape c other
ks add a/landscape.shp >/dev/null 2>&1
ks add b/landscape.shp >/dev/null 2>&1
ks add c/other.shp >/dev/null 2>&1
out=$(ks add c/other.shp 2>&1)
expect 'warning: the map holds 2 layers named "other"' "$out"
refuse 'named "landscape"' "$out"
echo "cli behaviour: ok"
