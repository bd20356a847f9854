#!/usr/bin/env bash
# Configures the source tree with a fresh home folder and checks that the
# home stays empty while the configured Korvane.ini names the batch file in
# its data folder.
#   configure_outside.sh REPOSITORY CMAKE
set -euo pipefail
root=$1
cmake=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kv-configure.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/home"
if ! env -u XDG_DATA_HOME HOME="$tmp/home" "$cmake" -S "$root" -B "$tmp/build" -G Ninja \
    -DKORVANE_TESTS=OFF -DKORVANE_BENCH=OFF >"$tmp/log" 2>&1; then
  cat "$tmp/log"; echo "FAIL: configuring failed"; exit 1
fi
if [ -n "$(ls -A "$tmp/home")" ]; then
  find "$tmp/home"; echo "FAIL: configuring wrote into the home folder"; exit 1
fi
grep -q "^Location=$tmp/home/.local/share/Korvane/Korvane.kv" "$tmp/build/vector/Korvane.ini" \
  || { cat "$tmp/build/vector/Korvane.ini"; echo "FAIL: Korvane.ini names another batch file"; exit 1; }
echo "configure: ok"
