#!/bin/bash
# inkwarden-cli --version in both builds prints the one version number of
# the build (project VERSION in CMakeLists.txt) and exits 0.
set -u
IW_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$IW_ROOT/scripts/lib.sh"
want=$(sed -n 's/^project(Inkwarden VERSION \([0-9.]*\) .*/\1/p' "$IW_ROOT/CMakeLists.txt")
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }
check "CMakeLists.txt names a version" '[ -n "$want" ]'
if [ -x "$IW_NATIVE/inkwarden-cli" ]; then
  out=$("$IW_NATIVE/inkwarden-cli" --version); rc=$?
  check "native: exit 0" '[ $rc -eq 0 ]'
  check "native: says inkwarden-cli $want" '[ "$out" = "inkwarden-cli $want" ]'
fi
if [ -f "$IW_WIN/inkwarden-cli.exe" ]; then
  out=$(iw_wine "$IW_WIN/inkwarden-cli.exe" --version 2>/dev/null | tr -d '\r'); rc=${PIPESTATUS[0]}
  check "windows: exit 0" '[ $rc -eq 0 ]'
  check "windows: says inkwarden-cli $want" '[ "$out" = "inkwarden-cli $want" ]'
fi
exit $fail
