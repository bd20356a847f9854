#!/usr/bin/env bash
# scripts/demo passes the build's progress through to the user: with a
# stand-in build that prints progress lines, they appear in the demo's output.
#   demo_progress.sh REPOSITORY
set -euo pipefail
root=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kv-demo-progress.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/repo/scripts"
cp "$root/scripts/demo" "$tmp/repo/scripts/demo"
printf '#!/bin/sh\nexit 0\n' >"$tmp/repo/scripts/setup"
printf '#!/bin/sh\necho "[1/2] Building CXX object a.o"\necho "[2/2] Linking CXX executable bin/korvane"\n' \
  >"$tmp/repo/scripts/build"
chmod +x "$tmp/repo/scripts/"*
# No korvane is built here, so the demo stops after the build.
env -u KORVANE_BIN TMPDIR="$tmp" "$tmp/repo/scripts/demo" >"$tmp/out" 2>&1 || true
grep -q '^\[2/2\] Linking' "$tmp/out" || { cat "$tmp/out"; echo "FAIL: no build progress shown"; exit 1; }
echo "demo progress: ok"
