#!/bin/bash
# OAuth2 sign-in end to end, in both builds (the Windows one under Wine):
# a fake authorization server of our own (tests/support/fake_oauth_server.py)
# and a strict scripted POP3 server (tests/support/strict_sasl_pop3.py) that
# records a violation when an AUTH line is longer than 255 octets, a token or
# a password arrives without TLS, or an OAuth2 account is logged in with
# USER/PASS. Tokens are 4,448 characters long, as Microsoft's are.
#
# Cases: sign-in by device code, then the try with the stored token; an
# expired access token (refresh and retry); a revoked access token (the 401
# challenge: refresh once, try once more); a wrong user (refused after the
# one refresh, sign-in needed); a spent refresh token (the rotated one was
# kept, the old one is refused); an account with Security=0 (nothing is
# sent, not even a refresh). The filter with the stored tokens: listing,
# a revoked token refreshed once, deletion, a spent refresh token (the
# account's status asks to sign in again, nothing is deleted), no token
# without TLS. No token ever reaches the console.
#
# The browser sign-in (login without --device): a stand-in browser
# (tests/support/standin_browser.py) fetches the printed authorize address
# from the fake server and follows its redirect to the program's listener:
# success and a following check that counts the mail; a forged and a missing
# state refused and the right redirect after them still accepted; consent
# refused; the time limit; the listener never reachable on a non-loopback
# address.
set -u
IW_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$IW_ROOT/scripts/lib.sh"
. "$IW_ROOT/tests/scripts/tls_certs.inc"
command -v openssl >/dev/null || { echo "SKIP: openssl is not installed"; exit 0; }
ROOT=$(mktemp -d /tmp/iw-oauth.XXXXXX)
PIDS=()
cleanup() {
  [ -n "${IW_XVFB_PID:-}" ] && kill "$IW_XVFB_PID" 2>/dev/null
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$ROOT"; }
trap cleanup EXIT
fail=0
check() {
  if eval "$2"; then echo "ok: $1"; else
    echo "FAIL: $1"; fail=1
    [ -n "${3:-}" ] && [ -f "$3" ] && sed 's/^/    | /' "$3" | head -20
  fi
}
mkdir -p "$ROOT/certs"
iw_make_test_certs "$ROOT/certs" || { echo "FAIL: test certificates"; exit 1; }
export INKWARDEN_CA_FILE=$ROOT/certs/ca.crt

wait_file() { for _ in $(seq 100); do [ -s "$1" ] && return 0; sleep 0.1; done; return 1; }

# One authorization server per access-token lifetime: 3600 s (good for the
# whole test) and 30 s (less than the minute of margin: always refreshed).
start_auth() {  # name, lifetime, [client secret] (not in a subshell: the server must outlive the call)
  python3 "$IW_ROOT/tests/support/fake_oauth_server.py" --port-file "$ROOT/$1.port" --auto-approve \
    --token-length 4448 --access-lifetime "$2" --lifetime 900 --log "$ROOT/$1.log" ${3:+--client-secret "$3"} &
  PIDS+=($!)
  wait_file "$ROOT/$1.port" || { echo "FAIL: the fake authorization server did not start"; exit 1; }
}
start_auth long 3600
# The short-lived one also wants a client secret at its token endpoint, as
# Google's does for desktop clients: its accounts carry OAuthClientSecret.
SECRET2='desk top+s3cr/t=&x'
start_auth short 30 "$SECRET2"
ASPORT=$(cat "$ROOT/long.port")
ASPORT2=$(cat "$ROOT/short.port")
python3 "$IW_ROOT/tests/support/strict_sasl_pop3.py" --cert "$ROOT/certs/good.crt" --key "$ROOT/certs/good.key" \
  --introspect "http://127.0.0.1:$ASPORT/introspect" --violations "$ROOT/violations" --log "$ROOT/pop3.log" \
  --port-file "$ROOT/pop3.port" --lifetime 900 &
PIDS+=($!)
wait_file "$ROOT/pop3.port" || { echo "FAIL: the strict POP3 server did not start"; exit 1; }
read -r TLSPORT PLAINPORT <"$ROOT/pop3.port"
# The short-lived tokens are judged by their own server.
python3 "$IW_ROOT/tests/support/strict_sasl_pop3.py" --cert "$ROOT/certs/good.crt" --key "$ROOT/certs/good.key" \
  --introspect "http://127.0.0.1:$ASPORT2/introspect" --violations "$ROOT/violations" --log "$ROOT/pop3.log" \
  --port-file "$ROOT/pop3s.port" --lifetime 900 &
PIDS+=($!)
wait_file "$ROOT/pop3s.port" || { echo "FAIL: the second strict POP3 server did not start"; exit 1; }
read -r TLSPORT2 _ <"$ROOT/pop3s.port"

account() {  # section, user, pop3, security, auth port, [no secret]
  printf '[%s]\r\nAccount=%s\r\nPoP3=%s\r\nSecurity=%s\r\nAuth=1\r\nOAuthProvider=custom\r\nOAuthClientId=inkwarden-test\r\nOAuthAuthorizeUrl=http://127.0.0.1:%s/authorize\r\nOAuthTokenUrl=http://127.0.0.1:%s/token\r\nOAuthDeviceUrl=http://127.0.0.1:%s/devicecode\r\nOAuthScope=mail offline_access\r\n' \
    "$1" "$2" "$3" "$4" "$5" "$5" "$5"
  if [ "$5" = "$ASPORT2" ] && [ -z "${6:-}" ]; then printf 'OAuthClientSecret=%s\r\n' "$SECRET2"; fi
}
no_secret() { ! grep -qF -- "$SECRET2" "$1"; }
http_get() { python3 -c "import sys,urllib.request; print(urllib.request.urlopen(sys.argv[1], timeout=10).read().decode())" "$1"; }
stat_of() { http_get "http://127.0.0.1:$1/admin/stats" | python3 -c "import json,sys; print(json.load(sys.stdin)['$2'])"; }

run_build() {  # label, cli command words...
  local label=$1; shift
  local P="$ROOT/$label"
  mkdir -p "$P"
  {
    printf '[U]\r\nOption=011111000100\r\n[U-Mail]\r\ngood@x=0\r\nshort@x=0\r\nwrong@x=0\r\nplain@x=0\r\nnosecret@x=0\r\n'
    printf 'web@x=0\r\nweb2@x=0\r\nweb3@x=0\r\nweb4@x=0\r\n'
    account good@x test "127.0.0.1:$TLSPORT" 1 "$ASPORT"
    account short@x test "127.0.0.1:$TLSPORT2" 1 "$ASPORT2"
    account nosecret@x test "127.0.0.1:$TLSPORT2" 1 "$ASPORT2" no
    account wrong@x other "127.0.0.1:$TLSPORT" 1 "$ASPORT"
    account plain@x test "127.0.0.1:$PLAINPORT" 0 "$ASPORT"
    for a in web web2 web3 web4; do account "$a@x" test "127.0.0.1:$TLSPORT" 1 "$ASPORT"; done
  } >"$P/set.ini"
  local prof=$P
  [ "$label" = win ] && prof=$(winepath -w "$P" 2>/dev/null)
  local out=$P/out
  # Sign in by device code and try the account with the new token.
  "$@" login --profile "$prof" --user U good@x --device >"$out" 2>&1
  check "$label: device sign-in and the try (exit 0, count 3)" "grep -q '^count: 3' '$out'" "$out"
  check "$label: the console shows where to go and the code" "grep -q '^open: http://127.0.0.1:$ASPORT/device' '$out' && grep -q '^code: ' '$out'" "$out"
  check "$label: no token on the console" "! grep -q 'eyJ\|rt-' '$out'" "$out"
  local tok=$P/oauth-good@x.tok
  check "$label: token file in the profile folder" "[ -s '$tok' ]"
  if [ "$label" = native ]; then
    check "native: token file mode 0600" "[ \"\$(stat -c %a '$tok')\" = 600 ]"
    chmod 640 "$tok"
    "$@" login --profile "$prof" --user U good@x --try >"$out" 2>&1
    check "native: a token file readable by the group is refused" "grep -q '0600' '$out' && grep -q '^sign-in: needed' '$out'" "$out"
    chmod 600 "$tok"
  else
    check "win: token file sealed (no token text in it)" "! grep -q 'rt-\|eyJ' '$tok'"
  fi
  # The tray check (inkwarden-cli check) with the stored token, also after the access token is revoked.
  local C=$P/check
  mkdir -p "$C"
  { printf '[U]\r\n[U-Mail]\r\ngood@x=0\r\n'; account good@x test "127.0.0.1:$TLSPORT" 1 "$ASPORT"; } >"$C/set.ini"
  cp "$tok" "$C/"
  local cprof=$C
  [ "$label" = win ] && cprof=$(winepath -w "$C" 2>/dev/null)
  "$@" check --profile "$cprof" --user U >"$out" 2>&1
  check "$label: the tray check logs in with the stored token" "grep -q '^count: 3' '$out' && ! grep -q '^status:' '$out'" "$out"
  http_get "http://127.0.0.1:$ASPORT/admin/revoke-last" >/dev/null
  "$@" check --profile "$cprof" --user U >"$out" 2>&1
  check "$label: the tray check refreshes a revoked token once and counts" "grep -q '^count: 3' '$out'" "$out"
  cp "$C/oauth-good@x.tok" "$tok"  # the check rotated the tokens: the profile's copy is spent now
  # The stored token as the check uses it: good, no refresh.
  "$@" login --profile "$prof" --user U good@x --try >"$out" 2>&1
  check "$label: the stored token logs in without a refresh" "grep -q '^count: 3' '$out' && grep -q '^refreshed: 0' '$out'" "$out"
  # Revoked access token: the server's 401 challenge, one refresh, one more try.
  http_get "http://127.0.0.1:$ASPORT/admin/revoke-last" >/dev/null
  "$@" login --profile "$prof" --user U good@x --try >"$out" 2>&1
  check "$label: a revoked access token is refreshed once and works" "grep -q '^count: 3' '$out' && grep -q '^refreshed: 1' '$out'" "$out"
  # Expired access tokens (30 s, under the minute of margin): refreshed before the login; rotation kept.
  "$@" login --profile "$prof" --user U short@x --device >"$out" 2>&1
  check "$label: sign-in with short-lived tokens" "grep -q '^count: 3' '$out'" "$out"
  cp "$P/oauth-short@x.tok" "$P/old.tok"
  "$@" login --profile "$prof" --user U short@x --try >"$out" 2>&1
  check "$label: an expired access token is refreshed, then logs in" "grep -q '^count: 3' '$out' && grep -q '^refreshed: 1' '$out'" "$out"
  "$@" login --profile "$prof" --user U short@x --try >"$out" 2>&1
  check "$label: the rotated refresh token was kept and works" "grep -q '^count: 3' '$out' && grep -q '^refreshed: 1' '$out'" "$out"
  check "$label: the client secret never reaches the console" "no_secret '$out'" "$out"
  # The same token endpoint without the account's client secret refuses the client.
  "$@" login --profile "$prof" --user U nosecret@x --device >"$out" 2>&1
  check "$label: without OAuthClientSecret the token endpoint refuses the client" \
    "grep -q 'invalid_client' '$out' && ! grep -q '^count:' '$out' && [ ! -e '$P/oauth-nosecret@x.tok' ]" "$out"
  check "$label: the client secret went to the token endpoint only" "[ \$(stat_of $ASPORT2 secret_elsewhere) = 0 ]"
  local spent_before; spent_before=$(stat_of "$ASPORT2" refresh_spent)
  cp "$P/old.tok" "$P/oauth-short@x.tok"
  "$@" login --profile "$prof" --user U short@x --try >"$out" 2>&1
  check "$label: a spent refresh token asks the user to sign in again" "grep -q '^sign-in: needed' '$out' && grep -q '請重新登入' '$out'" "$out"
  check "$label: the server saw the spent refresh token" "[ \$(stat_of $ASPORT2 refresh_spent) -gt $spent_before ]"
  { printf '[U]\r\n[U-Mail]\r\nshort@x=0\r\n'; account short@x test "127.0.0.1:$TLSPORT2" 1 "$ASPORT2"; } >"$C/set.ini"
  cp "$P/old.tok" "$C/oauth-short@x.tok"
  "$@" check --profile "$cprof" --user U >"$out" 2>&1
  check "$label: the tray tip asks to sign in again after a spent refresh token" "grep -q '^status: test登入已失效,請重新登入帳號' '$out'" "$out"
  # The filter (inkwarden-cli filter) with the stored tokens: the listing,
  # a revoked token refreshed once, a spent refresh token, deletion.
  local F=$P/filter
  mkdir -p "$F"
  local fprof=$F
  [ "$label" = win ] && fprof=$(winepath -w "$F" 2>/dev/null)
  filter_profile() {  # section, pop3 port, auth port, security
    { printf '[U]\r\nOption=011111000100\r\n[U-Mail]\r\n%s=0\r\n[U-BlackList]\r\nspam@junk.tw=0\r\n' "$1"
      account "$1" test "127.0.0.1:$2" "${4:-1}" "$3"; } >"$F/set.ini"
  }
  filter_profile good@x "$TLSPORT" "$ASPORT"
  cp "$tok" "$F/"  # the profile's copy is the newest: the login tries rotated it
  "$@" filter --profile "$fprof" --user U --json >"$out" 2>&1
  check "$label: filter lists the three messages with the stored token" \
    "[ \$(grep -c '\"type\":\"message\"' '$out') = 3 ] && grep -q '有3封新郵件' '$out'" "$out"
  check "$label: filter marks the black-listed sender" "grep '\"number\":1,' '$out' | grep -q '\"checked\":true'" "$out"
  check "$label: no token on the filter's console" "! grep -q 'eyJ\|rt-' '$out'" "$out"
  http_get "http://127.0.0.1:$ASPORT/admin/revoke-last" >/dev/null
  local dele_before; dele_before=$(grep -c '^deleted 1$' "$ROOT/pop3.log" 2>/dev/null); dele_before=${dele_before:-0}
  "$@" filter --profile "$fprof" --user U --delete >"$out" 2>&1
  check "$label: filter refreshes a revoked token once, lists and deletes" \
    "grep -q '有3封新郵件' '$out' && grep -q '^remaining: 2' '$out'" "$out"
  local dele_after; dele_after=$(grep -c '^deleted 1$' "$ROOT/pop3.log" 2>/dev/null); dele_after=${dele_after:-0}
  check "$label: the server committed the deletion of the black-listed message only" "[ $dele_after -gt $dele_before ]" "$out"
  cp "$F/oauth-good@x.tok" "$tok"  # the filter rotated it in turn
  filter_profile short@x "$TLSPORT2" "$ASPORT2"
  cp "$P/old.tok" "$F/oauth-short@x.tok"
  dele_before=$(grep -c '^deleted ' "$ROOT/pop3.log" 2>/dev/null); dele_before=${dele_before:-0}
  "$@" filter --profile "$fprof" --user U --delete --json >"$out" 2>&1
  check "$label: filter with a spent refresh token asks to sign in again in the account status" \
    "grep '\"type\":\"account\"' '$out' | grep -q 'short@x登入已失效,請重新登入帳號' && ! grep -q '\"type\":\"message\"' '$out'" "$out"
  dele_after=$(grep -c '^deleted ' "$ROOT/pop3.log" 2>/dev/null); dele_after=${dele_after:-0}
  check "$label: nothing deleted when the sign-in is spent" "[ $dele_after = $dele_before ]" "$ROOT/pop3.log"
  filter_profile plain@x "$PLAINPORT" "$ASPORT" 0
  cp "$tok" "$F/oauth-plain@x.tok"
  local plain_before; plain_before=$(grep -c '^plain ' "$ROOT/pop3.log" 2>/dev/null); plain_before=${plain_before:-0}
  "$@" filter --profile "$fprof" --user U --json >"$out" 2>&1
  local plain_after; plain_after=$(grep -c '^plain ' "$ROOT/pop3.log" 2>/dev/null); plain_after=${plain_after:-0}
  check "$label: filter sends no token without TLS (status says so, no connection)" \
    "grep -q '加密連線' '$out' && [ $plain_before = $plain_after ]" "$out"
  # Wrong user: the token is good but not for this user: refused after one refresh.
  cp "$P/oauth-good@x.tok" "$P/oauth-wrong@x.tok"
  "$@" login --profile "$prof" --user U wrong@x --try >"$out" 2>&1
  check "$label: a token of another user is refused, sign-in needed" "grep -q '^sign-in: needed' '$out' && ! grep -q '^count:' '$out'" "$out"
  # Security=0: no connection, no refresh.
  cp "$P/oauth-good@x.tok" "$P/oauth-plain@x.tok"
  local before; before=$(grep -c '^plain ' "$ROOT/pop3.log" 2>/dev/null); before=${before:-0}
  local refresh_before; refresh_before=$(stat_of "$ASPORT" token)
  "$@" login --profile "$prof" --user U plain@x --try >"$out" 2>&1
  check "$label: Security=0 sends no token (status says so)" "grep -q '加密連線' '$out' && ! grep -q '^count:' '$out'" "$out"
  local after; after=$(grep -c '^plain ' "$ROOT/pop3.log" 2>/dev/null); after=${after:-0}
  check "$label: Security=0 makes no connection and no token request" "[ $before = $after ] && [ \$(stat_of $ASPORT token) = $refresh_before ]"
  "$@" login --profile "$prof" --user U plain@x --device >"$out" 2>&1
  local rc=$?
  check "$label: no device sign-in for an account without TLS (exit 2)" "[ $rc = 2 ] && grep -q '加密連線' '$out'" "$out"
  "$@" login --profile "$prof" --user U plain@x --no-browser >"$out" 2>&1
  rc=$?
  check "$label: no browser sign-in for an account without TLS (exit 2)" "[ $rc = 2 ] && grep -q '加密連線' '$out'" "$out"

  # The browser sign-in, with the stand-in browser.
  local web=$P/web.out br=$P/web.browser
  browser_login() {  # mode, account, cli words... (the login runs in the background, the browser here)
    local mode=$1 acct=$2; shift 2
    rm -f "$web" "$br"
    "$@" login --profile "$prof" --user U "$acct" --no-browser --wait "${WAIT:-120}" >"$web" 2>&1 &
    local pid=$!
    python3 "$IW_ROOT/tests/support/standin_browser.py" "$web" "$mode" "$ASPORT" >"$br" 2>&1
    wait $pid
    web_rc=$?
    cat "$br" >>"$web"
  }
  browser_login ok web@x "$@"
  check "$label: browser sign-in and the try (exit 0, count 3)" "[ $web_rc = 0 ] && grep -q '^count: 3' '$web' && grep -q '^signed in: tokens stored' '$web'" "$web"
  check "$label: the browser's page says the sign-in is done, in UTF-8" "grep -q '^redirect: 200' '$web' && grep -q '^page: done' '$web' && grep -qi 'charset=utf-8' '$web'" "$web"
  check "$label: the listener is not reachable on a non-loopback address" "grep -q '^non-loopback: refused' '$web'" "$web"
  check "$label: the authorize address asks for PKCE S256 on a localhost redirect" "grep -q '^open: http://127.0.0.1:$ASPORT/authorize?.*redirect_uri=http%3A%2F%2Flocalhost%3A[0-9]*%2F' '$web' && grep -q 'code_challenge_method=S256' '$web'" "$web"
  check "$label: no token on the console (browser sign-in)" "! grep -q 'eyJ\|rt-' '$web'" "$web"
  check "$label: browser sign-in stored the token file" "[ -s '$P/oauth-web@x.tok' ]"
  local W=$P/webcheck
  mkdir -p "$W"
  { printf '[U]\r\n[U-Mail]\r\nweb@x=0\r\n'; account web@x test "127.0.0.1:$TLSPORT" 1 "$ASPORT"; } >"$W/set.ini"
  cp "$P/oauth-web@x.tok" "$W/"
  local wprof=$W
  [ "$label" = win ] && wprof=$(winepath -w "$W" 2>/dev/null)
  "$@" check --profile "$wprof" --user U >"$out" 2>&1
  check "$label: the check counts the mail with the browser sign-in's token" "grep -q '^count: 3' '$out' && ! grep -q '^status:' '$out'" "$out"

  browser_login wrongstate web2@x "$@"
  check "$label: a forged and a missing state are refused, the sign-in goes on" "grep -q '^forged-state: 400' '$web' && grep -q '^no-state: 400' '$web' && grep -q '^favicon: 404' '$web'" "$web"
  check "$label: the right redirect after them is accepted" "[ $web_rc = 0 ] && grep -q '^redirect: 200' '$web' && grep -q '^count: 3' '$web'" "$web"

  browser_login deny web3@x "$@"
  check "$label: refused consent ends the sign-in as refused" "[ $web_rc = 1 ] && grep -q '^sign-in: refused' '$web' && grep -q '^error: access_denied' '$web' && grep -q '未同意' '$web'" "$web"
  check "$label: the browser is told the sign-in was refused" "grep -q '^page: refused' '$web'" "$web"
  check "$label: nothing stored after a refusal" "[ ! -e '$P/oauth-web3@x.tok' ]"

  WAIT=2 browser_login idle web4@x "$@"
  check "$label: the sign-in times out when the browser never comes back" "[ $web_rc = 1 ] && grep -q '^sign-in: timed out' '$web' && grep -q '逾時' '$web'" "$web"
  check "$label: nothing stored after the time limit" "[ ! -e '$P/oauth-web4@x.tok' ]"
}

if [ -x "$IW_NATIVE/inkwarden-cli" ]; then
  run_build native "$IW_NATIVE/inkwarden-cli"
else
  echo "SKIP: native inkwarden-cli not built"
fi
if [ -f "$IW_WIN/inkwarden-cli.exe" ] && command -v wine >/dev/null; then
  iw_xvfb >/dev/null 2>&1 || true  # the socket events of the Windows build go through a hidden window
  run_build win iw_wine "$IW_WIN/inkwarden-cli.exe"
else
  echo "SKIP: Windows inkwarden-cli not built"
fi
check "strict server: no AUTH line over 255 octets, no token without TLS, no USER/PASS" "[ ! -s '$ROOT/violations' ]" "$ROOT/violations"
check "strict server: 4,448-character tokens logged in" "grep -q 'login XOAUTH2 4448' '$ROOT/pop3.log'" "$ROOT/pop3.log"
check "strict server: the 401 challenge was answered with an empty line" "grep -q 'answer empty' '$ROOT/pop3.log'" "$ROOT/pop3.log"
[ $fail = 0 ] && echo "oauth_signin: all passed"
exit $fail
