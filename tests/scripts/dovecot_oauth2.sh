#!/bin/bash
# OAuth2 against a real Dovecot, in both builds (the Windows one under Wine):
# Dovecot's oauth2 passdb judges the tokens of our fake authorization server
# (tests/support/fake_oauth_server.py), both ways Dovecot can: by asking the
# server (introspection, which sees a revoked token) and by checking the
# JWT's signature itself with the server's key (local, which does not).
#
# Cases, on TLS from the first byte: device sign-in and the login with
# XOAUTH2 (4,448-character tokens); the stored token again; a revoked access
# token (introspection: the 401 challenge, one refresh, one more try); a
# token of another user (refused, sign-in needed).
set -u
IW_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$IW_ROOT/scripts/lib.sh"
. "$IW_ROOT/tests/scripts/tls_certs.inc"
command -v dovecot >/dev/null || { echo "SKIP: dovecot is not installed"; exit 0; }
command -v openssl >/dev/null || { echo "SKIP: openssl is not installed"; exit 0; }
ROOT=$(mktemp -d /tmp/iw-dovecot-oauth.XXXXXX)
chmod 755 "$ROOT"
PIDS=()
cleanup() {
  [ -n "${IW_XVFB_PID:-}" ] && kill "$IW_XVFB_PID" 2>/dev/null
  for m in introspect local; do dovecot -c "$ROOT/$m/dovecot.conf" stop >/dev/null 2>&1; done
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$ROOT"
}
trap cleanup EXIT
fail=0
check() {
  if eval "$2"; then echo "ok: $1"; else
    echo "FAIL: $1"; fail=1
    [ -n "${3:-}" ] && [ -f "$3" ] && sed 's/^/    | /' "$3" | head -20
  fi
}
wait_file() { for _ in $(seq 100); do [ -s "$1" ] && return 0; sleep 0.1; done; return 1; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
http_get() { python3 -c "import sys,urllib.request; print(urllib.request.urlopen(sys.argv[1], timeout=10).read().decode())" "$1"; }

mkdir -p "$ROOT/certs"
iw_make_test_certs "$ROOT/certs" || { echo "FAIL: test certificates"; exit 1; }
export INKWARDEN_CA_FILE=$ROOT/certs/ca.crt

start_dovecot() {  # mode (introspect | local)
  local mode=$1 D=$ROOT/$1
  mkdir -p "$D/keys/default/HS256"
  python3 "$IW_ROOT/tests/support/fake_oauth_server.py" --port-file "$D/as.port" --auto-approve --user alice \
    --token-length 4448 --lifetime 900 --key-file "$D/keys/default/HS256/default" &
  PIDS+=($!)
  wait_file "$D/as.port" || { echo "FAIL: $mode: the fake authorization server did not start"; return 1; }
  local asport; asport=$(cat "$D/as.port")
  local sport; sport=$(free_port)
  if [ "$mode" = introspect ]; then
    cat >"$D/dovecot-oauth2.conf.ext" <<EXT
introspection_mode = post
introspection_url = http://127.0.0.1:$asport/introspect
force_introspection = yes
username_attribute = username
active_attribute = active
active_value = true
EXT
  else
    cat >"$D/dovecot-oauth2.conf.ext" <<EXT
introspection_mode = local
local_validation_key_dict = fs:posix:prefix=$D/keys/
username_attribute = sub
EXT
  fi
  cat >"$D/dovecot.conf" <<CONF
base_dir  = $D/run
state_dir = $D/state
instance_name = dvoauth$mode
log_path  = $D/dovecot.log
info_log_path = $D/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = yes
ssl_cert = <$ROOT/certs/good.crt
ssl_key = <$ROOT/certs/good.key
disable_plaintext_auth = yes
auth_mechanisms = plain xoauth2 oauthbearer
auth_failure_delay = 0
first_valid_uid = 1
mail_location = maildir:$D/mail/%u/Maildir
passdb {
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = $D/dovecot-oauth2.conf.ext
}
userdb {
  driver = static
  args = uid=65534 gid=65534 home=$D/mail/%u
}
service pop3-login {
  inet_listener pop3 {
    port = 0
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $sport
    ssl = yes
  }
}
CONF
  mkdir -p "$D/mail/alice/Maildir/"{new,cur,tmp}
  for n in 1 2; do
    printf 'From: a@b.tw\r\nSubject: m%d\r\nMessage-ID: <m%d@oauth>\r\n\r\nbody\r\n' $n $n \
      >"$D/mail/alice/Maildir/new/$((1700000000 + n)).M$n.oauth"
  done
  chown -R 65534:65534 "$D/mail"
  dovecot -c "$D/dovecot.conf" || { echo "FAIL: $mode: dovecot did not start"; cat "$D/dovecot.log"; return 1; }
  for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/$sport) 2>/dev/null && break; sleep 0.1; done
  echo "$asport $sport" >"$D/ports"
}

account() {  # section, user, port, auth port
  printf '[%s]\r\nAccount=%s\r\nPoP3=127.0.0.1:%s\r\nSecurity=1\r\nAuth=1\r\nOAuthProvider=custom\r\nOAuthClientId=inkwarden-test\r\nOAuthAuthorizeUrl=http://127.0.0.1:%s/authorize\r\nOAuthTokenUrl=http://127.0.0.1:%s/token\r\nOAuthDeviceUrl=http://127.0.0.1:%s/devicecode\r\nOAuthScope=mail offline_access\r\n' \
    "$1" "$2" "$3" "$4" "$4" "$4"
}

run_case() {  # mode, build label, cli words...
  local mode=$1 label=$2; shift 2
  local D=$ROOT/$mode asport sport
  read -r asport sport <"$D/ports"
  local P=$D/$label
  mkdir -p "$P"
  { printf '[U]\r\n[U-Mail]\r\nalice@x=0\r\nbob@x=0\r\n'; account alice@x alice "$sport" "$asport"; account bob@x bob "$sport" "$asport"; } >"$P/set.ini"
  local prof=$P
  [ "$label" = win ] && prof=$(winepath -w "$P" 2>/dev/null)
  local out=$P/out
  "$@" login --profile "$prof" --user U alice@x --device >"$out" 2>&1
  check "$mode/$label: device sign-in, XOAUTH2 login to Dovecot, count 2" "grep -q '^count: 2' '$out' && grep -q '^mechanism: XOAUTH2' '$out'" "$out"
  "$@" login --profile "$prof" --user U alice@x --try >"$out" 2>&1
  check "$mode/$label: the stored token logs in" "grep -q '^count: 2' '$out' && grep -q '^refreshed: 0' '$out'" "$out"
  if [ "$mode" = introspect ]; then
    http_get "http://127.0.0.1:$asport/admin/revoke-last" >/dev/null
    "$@" login --profile "$prof" --user U alice@x --try >"$out" 2>&1
    check "$mode/$label: a revoked token: Dovecot's 401, one refresh, logged in" "grep -q '^count: 2' '$out' && grep -q '^refreshed: 1' '$out'" "$out"
  fi
  cp "$P/oauth-alice@x.tok" "$P/oauth-bob@x.tok"
  "$@" login --profile "$prof" --user U bob@x --try >"$out" 2>&1
  check "$mode/$label: alice's token for bob is refused, sign-in needed" "grep -q '^sign-in: needed' '$out' && ! grep -q '^count:' '$out'" "$out"
}

for mode in introspect local; do
  start_dovecot "$mode" || { fail=1; continue; }
  if [ -x "$IW_NATIVE/inkwarden-cli" ]; then run_case "$mode" native "$IW_NATIVE/inkwarden-cli"; fi
  if [ -f "$IW_WIN/inkwarden-cli.exe" ] && command -v wine >/dev/null; then
    iw_xvfb >/dev/null 2>&1 || true  # the socket events of the Windows build go through a hidden window
    run_case "$mode" win iw_wine "$IW_WIN/inkwarden-cli.exe"
  fi
  check "$mode: Dovecot logged XOAUTH2 logins" "grep -q 'method=XOAUTH2' '$ROOT/$mode/dovecot.log'" "$ROOT/$mode/dovecot.log"
done
[ $fail = 0 ] && echo "dovecot_oauth2: all passed"
exit $fail
