#!/usr/bin/env bash
# The README's example commands, as written there, run from an empty folder
# outside the clone: every sh block after the set-up section, line by line,
# with KV naming a clone whose build/bin is the tested build.
#   readme_examples.sh REPOSITORY BIN_FOLDER
set -euo pipefail
root=$1
bin=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kv-readme.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/clone/build" "$tmp/work"
ln -s "$(cd "$bin" && pwd)" "$tmp/clone/build/bin"
ln -s "$root/data" "$tmp/clone/data"
export KV="$tmp/clone"
unset KORVANE_DOC
# The lines of the sh blocks after "## Set-up", comments and blank lines left out.
awk '/^## / { past = past || seen; seen = ($0 ~ /^## Set-up/) }
     /^```sh$/ { if (past) on = 1; next }
     /^```$/ { on = 0; next }
     on' "$root/README.md" | sed -e 's/[[:space:]]*#.*$//' -e '/^[[:space:]]*$/d' >"$tmp/commands"
[ "$(wc -l <"$tmp/commands")" -ge 8 ] || { cat "$tmp/commands"; echo "FAIL: too few example commands found"; exit 1; }
cd "$tmp/work"
while IFS= read -r line; do
  if ! bash -c "$line" </dev/null >"$tmp/out" 2>&1; then
    cat "$tmp/out"
    echo "FAIL: $line"
    exit 1
  fi
done <"$tmp/commands"
grep -q '^Name	RunDate	Run	Class' <(bash -c '"$KV/build/bin/korvane" show-table output/landscape-stats.dbf') \
  || { echo "FAIL: no table from the example run"; exit 1; }
gdalinfo patches.png | grep 'ColorInterp=Alpha' >/dev/null || { echo "FAIL: no picture from korvane draw"; exit 1; }
gdalinfo output/patches/landscape.tif | grep '<Name>Red</Name>' >/dev/null || { echo "FAIL: no colour columns in the patch raster"; exit 1; }
echo "README examples: ok ($(wc -l <"$tmp/commands") commands)"
