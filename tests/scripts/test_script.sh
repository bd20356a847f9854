#!/usr/bin/env bash
# scripts/test with stand-ins for the set-up, the build and ctest: a failing
# normal suite does not stop the sanitizer suite, both summaries are printed,
# and the exit status says that one failed.
#   test_script.sh REPOSITORY
set -euo pipefail
root=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kv-test-script.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/repo/scripts" "$tmp/stub"
cp "$root/scripts/test" "$tmp/repo/scripts/test"
printf '#!/bin/sh\nexit 0\n' >"$tmp/repo/scripts/setup"
printf '#!/bin/sh\necho "built $1" >>"%s/built"\n' "$tmp" >"$tmp/repo/scripts/build"
# ctest: FAIL_DIR fails one test, any other folder passes.
cat >"$tmp/stub/ctest" <<'STUB'
#!/bin/sh
dir=$2
if [ "$dir" = "$FAIL_DIR" ]; then
  printf '50%% tests passed, 1 tests failed out of 2\n\nThe following tests FAILED:\n\t  1 - broken_test (Failed)\n'
  exit 8
fi
printf '100%% tests passed, 0 tests failed out of 2\n'
STUB
chmod +x "$tmp/repo/scripts/"* "$tmp/stub/ctest"

check() {   # check NAME FAIL_DIR WANT_STATUS PATTERN...
  local name=$1 fail=$2 want=$3
  shift 3
  local rc=0
  FAIL_DIR=$fail PATH="$tmp/stub:$PATH" "$tmp/repo/scripts/test" >"$tmp/out" 2>&1 || rc=$?
  if { [ "$want" = 0 ] && [ $rc -ne 0 ]; } || { [ "$want" != 0 ] && [ $rc -eq 0 ]; }; then
    cat "$tmp/out"; echo "FAIL ($name): exit status $rc"; exit 1
  fi
  local summary
  summary=$(sed -n '/^== summary/,$p' "$tmp/out")
  for p in "$@"; do
    grep -qE -- "$p" <<<"$summary" || { cat "$tmp/out"; echo "FAIL ($name): no /$p/ in the summary"; exit 1; }
  done
}
check "normal fails" "$tmp/repo/build" 1 '^normal build:' 'broken_test' '^sanitizer build:' '100% tests passed' '^FAILED: normal build'
grep -q "built $tmp/repo/build-asan" "$tmp/built" || { echo "FAIL: the sanitizer build did not run"; exit 1; }
check "sanitizer fails" "$tmp/repo/build-asan" 1 '^normal build:' '100% tests passed' '^FAILED: sanitizer build'
check "both pass" none 0 '^Both builds passed'
echo "scripts/test: ok"
