#!/usr/bin/env bash
# The conventions a GIS user expects of every program: --version prints the
# version and --help the usage on standard output, both with exit 0; and a
# file added a second time is listed as a new layer.
#   conventions.sh BIN_FOLDER SAMPLE_FOLDER
set -uo pipefail
bin=$1
sample=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kv-conv.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
for program in korvane fragstat hex; do
  for case in "--version|^$program [0-9]+\.[0-9]+\.[0-9]+$" "--help|[Uu]sage"; do
    option=${case%%|*} want=${case#*|}
    "$bin/$program" "$option" >"$tmp/out" 2>"$tmp/err"
    rc=$?
    [ "$rc" -eq 0 ] || fail "$program $option exits $rc: $(cat "$tmp/err")"
    grep -Eq "$want" "$tmp/out" || fail "$program $option prints on standard output: $(cat "$tmp/out")"
  done
done
cd "$tmp"
export KORVANE_DOC="$tmp/doc.json"
for round in 1 2; do
  "$bin/korvane" add "$sample/landscape.tif" >"$tmp/out" 2>"$tmp/err" || fail "add, round $round"
  grep -q '^+ layer landscape.tif ' "$tmp/out" || fail "add, round $round, lists no new layer: $(cat "$tmp/out")"
done
echo "conventions: ok"
