#!/bin/bash
# inkwarden-cli check and filter with a set.ini that is no settings file: a
# pipe nobody writes to, a link to /dev/zero, a file beyond the size limit.
# Each must end at once with exit status 2 and say why, and the file must be
# left exactly as it was (the native build; the Windows build has no pipes
# or devices in a folder).
set -u
IW_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
CLI="$IW_ROOT/build/native/inkwarden-cli"
[ -x "$CLI" ] || { echo "SKIP: no native inkwarden-cli"; exit 0; }
ROOT=$(mktemp -d /tmp/iw-badprofile.XXXXXX)
trap 'rm -rf "$ROOT"' EXIT
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }

try() {  # what, words expected in the message
  local want=$2
  for cmd in check filter; do
    local start=$(date +%s%N)
    timeout 20 "$CLI" $cmd --profile "$ROOT/p" --user U >"$ROOT/out" 2>"$ROOT/err"
    local rc=$? ms=$(( ($(date +%s%N) - start) / 1000000 ))
    check "$1, $cmd: exit 2 in ${ms} ms" '[ $rc -eq 2 ]'
    check "$1, $cmd: says \"$want\"" 'grep -qF "set.ini ($want)" "$ROOT/err"'
  done
}

mkdir -p "$ROOT/p"
mkfifo "$ROOT/p/set.ini"
try "a pipe" "it is not a regular file"
check "the pipe is still there" '[ -p "$ROOT/p/set.ini" ]'
rm -f "$ROOT/p/set.ini"

ln -s /dev/zero "$ROOT/p/set.ini"
try "a link to /dev/zero" "it is not a regular file"
check "the link is still there" '[ -L "$ROOT/p/set.ini" ] && [ "$(readlink "$ROOT/p/set.ini")" = /dev/zero ]'
rm -f "$ROOT/p/set.ini"

printf '[U]\r\nOption=011111000100\r\n' >"$ROOT/p/set.ini"
truncate -s 50M "$ROOT/p/set.ini"
try "a 50 MB set.ini" "it is larger than 16 MiB"
check "the large file is unchanged" '[ "$(stat -c %s "$ROOT/p/set.ini")" = 52428800 ]'

rm -f "$ROOT/p/set.ini"
try "no set.ini" "it does not exist"
exit $fail
