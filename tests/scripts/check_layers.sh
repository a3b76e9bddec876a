#!/bin/bash
# scripts/check-layers against a copy of the tree: it passes on the copy as it
# is, and fails, naming the file, once an include that points up the layers
# (or across to a sibling folder) is planted in it. The copy holds only the
# source folders, so the check reads no build tree.
set -u
IW_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
CHECK="$IW_ROOT/scripts/check-layers"
ROOT=$(mktemp -d /tmp/iw-layers.XXXXXX)
trap 'rm -rf "$ROOT"' EXIT
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }

fresh_copy() {
  rm -rf "$ROOT/tree"; mkdir -p "$ROOT/tree"
  for d in platform posix settings pop3 filter browser app cli win32; do
    [ -d "$IW_ROOT/$d" ] && cp -r "$IW_ROOT/$d" "$ROOT/tree/"
  done
}

fresh_copy
IW_LAYERS_ROOT="$ROOT/tree" bash "$CHECK" >"$ROOT/out" 2>&1
check "the tree as it is passes" '[ $? -eq 0 ]'

# file to plant in | include line | whether the check must fail
while IFS='|' read -r file line want; do
  fresh_copy
  mkdir -p "$(dirname "$ROOT/tree/$file")"
  printf '%s\n' "$line" >>"$ROOT/tree/$file"
  IW_LAYERS_ROOT="$ROOT/tree" bash "$CHECK" >"$ROOT/out" 2>&1
  rc=$?
  if [ "$want" = fail ]; then
    check "$file with $line fails" '[ $rc -ne 0 ] && grep -qF "$file" "$ROOT/out"'
  else
    check "$file with $line passes" '[ $rc -eq 0 ]'
  fi
done <<'CASES'
settings/planted.h|#include "app/startup.h"|fail
settings/planted.cpp|  #  include "filter/classify.h"|fail
platform/planted.h|#include "settings/preferences.h"|fail
posix/planted.cpp|#include "settings/preferences.h"|fail
pop3/planted.h|#include "filter/classify.h"|fail
filter/planted.h|#include "app/services.h"|fail
filter/planted.h|#include "browser/watcher.h"|fail
browser/planted.h|#include "filter/classify.h"|fail
browser/planted.h|#include "pop3/connection.h"|fail
app/planted.h|#include "cli/check_command.h"|fail
app/planted.h|#include "win32/app/master_window.h"|fail
win32/planted.h|#include "cli/check_command.h"|fail
filter/planted.h|#include "pop3/connection.h"|pass
filter/planted.h|#include "settings/preferences.h"|pass
app/planted.h|#include "filter/classify.h"|pass
app/planted.h|#include "browser/watcher.h"|pass
cli/planted.h|#include "app/startup.h"|pass
CASES
exit $fail
