#!/bin/bash
# A newcomer's OAuth2 account through the real account dialog under Wine:
# the fake authorization server (tests/support/fake_oauth_server.py) and the
# strict POP3 server that judges its tokens (tests/support/strict_sasl_pop3.py,
# which records a violation for an AUTH line over 255 octets, a token without
# TLS or a USER/PASS login of an OAuth2 account). The GUI test types the
# account, chooses Microsoft 帳號 (then, in a second run, 其他 OAuth2) with
# the fake server's addresses in the dialog's boxes and the client secret
# the fake token endpoint wants typed in its box, signs in
# with a stand-in browser that follows the redirect, sees the success status,
# saves, and the next check counts the mailbox. At 96 DPI, and at 150% when
# the prefix of tests/scripts/win32_dpi150.sh exists (pictures get _150).
set -u
IW_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$IW_ROOT/scripts/lib.sh"
. "$IW_ROOT/tests/scripts/tls_certs.inc"
command -v openssl >/dev/null || { echo "SKIP: openssl is not installed"; exit 0; }
command -v wine >/dev/null || { echo "SKIP: wine is not installed"; exit 0; }
exe=$IW_WIN/tests/gui_tests.exe
[ -f "$exe" ] || { echo "SKIP: no $exe (Windows build missing)"; exit 0; }
ROOT=$(mktemp -d /tmp/iw-oauth-dialog.XXXXXX)
PIDS=()
cleanup() {
  [ -n "${IW_XVFB_PID:-}" ] && kill "$IW_XVFB_PID" 2>/dev/null
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$ROOT"; }
trap cleanup EXIT
fail=0
check() {
  if eval "$2"; then echo "ok: $1"; else
    echo "FAIL: $1"; fail=1
    [ -n "${3:-}" ] && [ -f "$3" ] && sed 's/^/    | /' "$3" | tail -30
  fi
}
wait_file() { for _ in $(seq 100); do [ -s "$1" ] && return 0; sleep 0.1; done; return 1; }
win_path() { winepath -w "$1" 2>/dev/null || echo "Z:${1//\//\\}"; }

mkdir -p "$ROOT/certs"
iw_make_test_certs "$ROOT/certs" || { echo "FAIL: test certificates"; exit 1; }
SECRET=dialog-typed-secret
python3 "$IW_ROOT/tests/support/fake_oauth_server.py" --port-file "$ROOT/as.port" --auto-approve \
  --client-secret "$SECRET" --token-length 4448 --lifetime 900 --log "$ROOT/as.log" &
PIDS+=($!)
wait_file "$ROOT/as.port" || { echo "FAIL: the fake authorization server did not start"; exit 1; }
ASPORT=$(cat "$ROOT/as.port")
python3 "$IW_ROOT/tests/support/strict_sasl_pop3.py" --cert "$ROOT/certs/good.crt" --key "$ROOT/certs/good.key" \
  --introspect "http://127.0.0.1:$ASPORT/introspect" --violations "$ROOT/violations" --log "$ROOT/pop3.log" \
  --port-file "$ROOT/pop3.port" --lifetime 900 &
PIDS+=($!)
wait_file "$ROOT/pop3.port" || { echo "FAIL: the strict POP3 server did not start"; exit 1; }
read -r TLSPORT _ <"$ROOT/pop3.port"

iw_xvfb >/dev/null 2>&1 || true
dialog_case() {  # label, prefix, picture suffix
  local rc
  IW_WINEPREFIX=$2 IW_SHOT_SUFFIX=$3 IW_ROOT=$IW_ROOT IW_OAUTH_TEST_AUTH="http://127.0.0.1:$ASPORT" \
    IW_OAUTH_TEST_POP3="127.0.0.1:$TLSPORT" IW_OAUTH_TEST_USER=test IW_OAUTH_TEST_SECRET=$SECRET \
    INKWARDEN_CA_FILE=$(win_path "$ROOT/certs/ca.crt") \
    bash -c '. "$IW_ROOT/scripts/lib.sh"; iw_wine "$IW_ROOT/build/win/tests/gui_tests.exe" --gtest_brief=1 \
      --gtest_filter=*OAuthDialogOnScreen.AccountDialogSignsInWithOAuthAndTheCheckCounts*' >"$ROOT/gui.txt" 2>&1
  rc=$?
  check "windows$1: signed in through the dialog, saved, and the check counts the mailbox (exit $rc)" \
    '[ $rc = 0 ] && ! grep -q SKIPPED "$ROOT/gui.txt"' "$ROOT/gui.txt"
}
dialog_case "" "$WINEPREFIX" ""
if [ -f "$IW_BUILD/wineprefix-150/.inkwarden-dpi144" ]; then
  dialog_case " at 150%" "$IW_BUILD/wineprefix-150" _150
  WINEPREFIX=$IW_BUILD/wineprefix-150 wineserver -k 2>/dev/null || true
fi
for f in "$IW_BUILD"/screenshots/account_signed_in*.bmp; do
  [ -f "$f" ] && command -v convert >/dev/null && convert "$f" "${f%.bmp}.png" && rm -f "$f"
done
secret_elsewhere=$(python3 -c "import json,urllib.request; print(json.load(urllib.request.urlopen('http://127.0.0.1:$ASPORT/admin/stats'))['secret_elsewhere'])" 2>/dev/null)
check "the typed client secret went to the token endpoint only" '[ "$secret_elsewhere" = 0 ]'
check "strict server: no AUTH line over 255 octets, no token without TLS, no USER/PASS" \
  "[ ! -s '$ROOT/violations' ]" "$ROOT/violations"
check "strict server: the dialog's try and the check logged in with 4,448-character tokens" \
  "[ \$(grep -c 'login XOAUTH2 4448' '$ROOT/pop3.log') -ge 2 ]" "$ROOT/pop3.log"
[ $fail = 0 ] && echo "oauth_dialog: all passed"
exit $fail
