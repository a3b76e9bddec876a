#!/bin/bash
# POP3 over TLS against a real Dovecot on loopback, in both builds (the
# Windows one under Wine reaches the same server): a throw-away CA made here,
# one listener address per server certificate, TLS from the first byte and
# STLS on the plain port. One table of certificate cases, each checked on
# the client's side (inkwarden-cli check: the count or the status text) and
# on the server's (Dovecot's log: a login, or no authentication attempt at
# all). Then the filter checks of dovecot_filter.sh run again over TLS.
#
# Dovecot treats a client from its own address as secure and lets it log in
# without TLS, so every listener but 127.0.0.1 is on another loopback
# address: there the server refuses a plain-text login, and a login that
# works proves TLS carried it.
set -u
IW_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$IW_ROOT/scripts/lib.sh"
. "$IW_ROOT/tests/scripts/tls_certs.inc"
command -v dovecot >/dev/null || { echo "SKIP: dovecot is not installed"; exit 0; }
command -v openssl >/dev/null || { echo "SKIP: openssl is not installed"; exit 0; }
# The listeners need 127.0.0.2 to 127.0.0.7: a private network namespace (as
# scripts/test runs in) routes all of 127/8 to the loopback device.
ip -4 route get 127.0.0.7 >/dev/null 2>&1 || { echo "SKIP: no loopback route to 127.0.0.7"; exit 0; }

# Free ports on every listener address (never fixed ones: another server on
# the machine may hold any fixed port): plain POP3 with STLS, and TLS from
# the first byte. The default port 995 is fixed by nature, so its listener
# takes a loopback address of its own where 995 is free.
LISTEN_ADDRS="127.0.0.1 127.0.0.2 127.0.0.3 127.0.0.4 127.0.0.5 127.0.0.6 127.0.0.7"
read -r PORT SPORT <<<"$(iw_free_ports 2 $LISTEN_ADDRS)"
[ -n "${SPORT:-}" ] || { echo "FAIL: no free ports"; exit 1; }
ADDR995=$(iw_free_loopback 995) || { echo "FAIL: no loopback address with port 995 free"; exit 1; }
ROOT=$(mktemp -d /tmp/iw-dovecot-tls.XXXXXX)
chmod 755 "$ROOT"
CERTS=$ROOT/certs
mkdir -p "$CERTS"
cleanup() { dovecot -c "$ROOT/dovecot.conf" stop >/dev/null 2>&1; rm -rf "$ROOT"; }
trap cleanup EXIT
fail=0
# name, condition, and a file to show when it fails
check() {
  if eval "$2"; then echo "ok: $1"; else
    echo "FAIL: $1"; fail=1
    [ -n "${3:-}" ] && sed 's/^/    | /' "$3" | head -20
  fi
}

iw_make_test_certs "$CERTS" "$ADDR995" || { echo "FAIL: test certificates"; exit 1; }

# 127.0.0.1 and .2: the good certificate; .3 wrong name; .4 expired; .5
# self-signed; .6 a leaf whose intermediate is never sent; .7 no TLS at all.
cat >"$ROOT/dovecot.conf" <<CONF
base_dir  = $ROOT/run
state_dir = $ROOT/state
instance_name = dvtls
log_path  = $ROOT/dovecot.log
info_log_path = $ROOT/dovecot.log
protocols = pop3
listen = 127.0.0.1, 127.0.0.2, 127.0.0.3, 127.0.0.4, 127.0.0.5, 127.0.0.6, 127.0.0.7, $ADDR995
ssl = yes
ssl_cert = <$CERTS/good.crt
ssl_key = <$CERTS/good.key
ssl_min_protocol = TLSv1.2
disable_plaintext_auth = yes
auth_mechanisms = plain
first_valid_uid = 1
mail_location = maildir:$ROOT/mail/%u/Maildir
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $ROOT/passwd
}
userdb {
  driver = static
  args = uid=65534 gid=65534 home=$ROOT/mail/%u
}
local 127.0.0.3 {
  ssl_cert = <$CERTS/wrongname.crt
  ssl_key = <$CERTS/wrongname.key
}
local 127.0.0.4 {
  ssl_cert = <$CERTS/expired.crt
  ssl_key = <$CERTS/expired.key
}
local 127.0.0.5 {
  ssl_cert = <$CERTS/self.crt
  ssl_key = <$CERTS/self.key
}
local 127.0.0.6 {
  ssl_cert = <$CERTS/leafonly.crt
  ssl_key = <$CERTS/leafonly.key
}
local 127.0.0.7 {
  ssl = no
}
service pop3-login {
  service_count = 0
  process_min_avail = 1
  inet_listener pop3 {
    address = 127.0.0.1, 127.0.0.2, 127.0.0.5, 127.0.0.7
    port = $PORT
  }
  inet_listener pop3s {
    address = 127.0.0.1, 127.0.0.2, 127.0.0.3, 127.0.0.4, 127.0.0.5, 127.0.0.6
    port = $SPORT
    ssl = yes
  }
  inet_listener pop3s995 {
    address = $ADDR995
    port = 995
    ssl = yes
  }
}
CONF
printf 'alice:{PLAIN}secret::::::\n' >"$ROOT/passwd"
mkdir -p "$ROOT/mail/alice/Maildir/"{new,cur,tmp}
for n in 1 2 3; do
  printf 'From: a@b.tw\r\nSubject: m%d\r\nMessage-ID: <m%d@test>\r\n\r\nbody\r\n' $n $n \
    >"$ROOT/mail/alice/Maildir/new/$((1700000000 + n)).M$n.test"
done
chown -R 65534:65534 "$ROOT/mail"

dovecot -c "$ROOT/dovecot.conf" || { echo "FAIL: dovecot did not start"; cat "$ROOT/dovecot.log" 2>/dev/null; exit 1; }
# Up to 30 s: a loaded machine may take a while to start it.
for _ in $(seq 300); do (exec 3<>/dev/tcp/127.0.0.2/$SPORT) 2>/dev/null && break; sleep 0.1; done
sleep 0.3

# The server's side first: plain text is refused on 127.0.0.2, so any login
# there went over TLS.
plain_login=$(python3 - "$PORT" <<'PY'
import socket, sys
s = socket.create_connection(("127.0.0.2", int(sys.argv[1])), timeout=5)
f = s.makefile("rb")
f.readline()
s.sendall(b"USER alice\r\n"); print(f.readline().decode().strip())
PY
)
check "the server refuses a plain-text login on 127.0.0.2 ($plain_login)" '[[ "$plain_login" == -ERR* ]]'

PW=$(python3 -c '
s = "secret"; out = ""; total = 0
for i, ch in enumerate(s, 1):
    c = ord(ch); total += c; e = (c ^ 5) + i
    if e > 126:
        e -= 95
        if e > 126: e = 32 + (e - 32) % 95
    out += chr(e)
print(out + chr(ord("0") + total % 10 + 13))')
PIN_SELF=$(iw_cert_sha256 "$CERTS/self.crt")
PIN_EXPIRED=$(iw_cert_sha256 "$CERTS/expired.crt")
PIN_GOOD=$(iw_cert_sha256 "$CERTS/good.crt")

# name | PoP3 | Security | CertSha256 | expected output (count or status text) | server: login or none
CASES="good, TLS|127.0.0.2:$SPORT|1||count: 3|login
good, STLS|127.0.0.2:$PORT|2||count: 3|login
good, by name|localhost:$SPORT|1||count: 3|login
wrong name|127.0.0.3:$SPORT|1||伺服器憑證與主機名稱不符|none
untrusted root (self-signed)|127.0.0.5:$SPORT|1||伺服器憑證不受信任|none
leaf without its issuer|127.0.0.6:$SPORT|1||伺服器憑證不受信任|none
expired|127.0.0.4:$SPORT|1||伺服器憑證已過期|none
pin match (self-signed)|127.0.0.5:$SPORT|1|$PIN_SELF|count: 3|login
pin match (expired)|127.0.0.4:$SPORT|1|$PIN_EXPIRED|count: 3|login
pin mismatch|127.0.0.2:$SPORT|1|$PIN_SELF|伺服器憑證已變更,未登入(信任的:$PIN_SELF 收到的:$PIN_GOOD)|none
STLS refused|127.0.0.7:$PORT|2||伺服器不接受STARTTLS加密|none"
if [ "$(id -u)" = 0 ]; then
  CASES="$CASES
port 995 when none is given|$ADDR995|1||count: 3|login"
fi

profile() {  # folder, PoP3, Security, CertSha256
  mkdir -p "$1"
  {
    printf '[U]\r\nOption=011111000100\r\n[U-Mail]\r\nalice@a=1\r\n'
    printf '[alice@a]\r\nAccount=alice\r\nPassWord=%s\r\nPoP3=%s\r\nSecurity=%s\r\n' "$PW" "$2" "$3"
    [ -n "$4" ] && printf 'CertSha256=%s\r\n' "$4"
  } >"$1/set.ini"
}

run_table() {  # build name, path converter, command...
  local build=$1 conv=$2; shift 2
  local name pop3 sec pin want server n=0
  while IFS='|' read -r name pop3 sec pin want server; do
    n=$((n + 1))
    local dir="$ROOT/p-$build-$n"
    profile "$dir" "$pop3" "$sec" "$pin"
    local before
    before=$(wc -l <"$ROOT/dovecot.log")
    INKWARDEN_CA_FILE=$($conv "$CERTS/ca.crt") "$@" check --profile "$($conv "$dir")" --user U \
      >"$ROOT/out.txt" 2>&1
    sleep 0.3
    tail -n +$((before + 1)) "$ROOT/dovecot.log" >"$ROOT/log.txt"
    check "$build: $name: client says '$want'" 'grep -qF -- "$want" "$ROOT/out.txt"' "$ROOT/out.txt"
    if [ "$server" = login ]; then
      check "$build: $name: the server saw a login over TLS" 'grep -q "Login: user=<alice>.*TLS" "$ROOT/log.txt"'
    else
      check "$build: $name: the server saw no authentication attempt" \
        '! grep -q "user=<alice>" "$ROOT/log.txt" && ! grep -qE "auth failed|[1-9][0-9]* auth attempts|Aborted login" "$ROOT/log.txt"'
    fi
  done <<<"$CASES"
}
same_path() { echo "$1"; }
win_path() { winepath -w "$1" 2>/dev/null || echo "Z:${1//\//\\}"; }

run_table native same_path "$IW_ROOT/build/native/inkwarden-cli"
if [ -f "$IW_ROOT/build/win/inkwarden-cli.exe" ]; then
  iw_xvfb >/dev/null 2>&1 || true
  run_table windows win_path iw_wine "$IW_ROOT/build/win/inkwarden-cli.exe"
else
  echo "SKIP: no Windows build of inkwarden-cli"
fi

# inkwarden-cli cert: shows the refused certificate; --trust pins it, and the
# next check logs in. Over TLS from the first byte and over STLS (the probe
# greets and asks for STLS itself).
cert_case() {  # build, PoP3, Security, path converter, command...
  local build="$1 ($3)" conv=$4
  local dir="$ROOT/cert-$1-$3"
  profile "$dir" "$2" "$3" ""
  shift 4
  INKWARDEN_CA_FILE=$($conv "$CERTS/ca.crt") "$@" cert --profile "$($conv "$dir")" --user U alice@a >"$ROOT/cert.txt" 2>&1
  local rc=$?
  check "$build: cert shows the refused certificate (exit $rc)" \
    '[ $rc = 1 ] && grep -qF "$PIN_SELF" "$ROOT/cert.txt" && grep -qF "伺服器憑證不受信任" "$ROOT/cert.txt" && grep -q "CN *= *localhost" "$ROOT/cert.txt"' "$ROOT/cert.txt"
  INKWARDEN_CA_FILE=$($conv "$CERTS/ca.crt") "$@" cert --profile "$($conv "$dir")" --user U alice@a --trust >"$ROOT/cert.txt" 2>&1
  rc=$?
  check "$build: cert --trust stores the fingerprint (exit $rc)" \
    '[ $rc = 0 ] && tr -d "\r" <"$dir/set.ini" | grep -qx "CertSha256=$PIN_SELF"' "$ROOT/cert.txt"
  INKWARDEN_CA_FILE=$($conv "$CERTS/ca.crt") "$@" check --profile "$($conv "$dir")" --user U >"$ROOT/out.txt" 2>&1
  check "$build: the pinned account logs in" 'grep -q "count: 3" "$ROOT/out.txt"'
  "$@" cert --profile "$($conv "$dir")" --user U nobody@x >/dev/null 2>&1
  check "$build: cert for an unknown account exits 2" '[ $? = 2 ]'
}
for where in "127.0.0.5:$SPORT 1" "127.0.0.5:$PORT 2"; do
  set -- $where
  cert_case native "$1" "$2" same_path "$IW_ROOT/build/native/inkwarden-cli"
  if [ -f "$IW_ROOT/build/win/inkwarden-cli.exe" ]; then
    cert_case windows "$1" "$2" win_path iw_wine "$IW_ROOT/build/win/inkwarden-cli.exe"
  fi
done

# The account dialog's certificate step on screen: the self-signed server's
# certificate is fetched, shown and trusted, and the next check logs in.
# Also at 150% when the prefix of tests/scripts/win32_dpi150.sh exists (its
# pictures get the suffix _150).
trust_step() {  # label, prefix, picture suffix
  local before rc
  before=$(wc -l <"$ROOT/dovecot.log")
  IW_WINEPREFIX=$2 IW_SHOT_SUFFIX=$3 IW_ROOT=$IW_ROOT IW_TRUST_TEST_SERVER="127.0.0.5:$SPORT" \
    IW_TRUST_TEST_LOGIN="alice:secret" INKWARDEN_CA_FILE=$(win_path "$CERTS/ca.crt") \
    bash -c '. "$IW_ROOT/scripts/lib.sh"; iw_wine "$IW_ROOT/build/win/tests/gui_tests.exe" --gtest_brief=1 \
      --gtest_filter=SettingsDialogsOnScreen.AccountDialogTrustsAServersCertificate' >"$ROOT/gui.txt" 2>&1
  rc=$?
  check "windows$1: the account dialog trusts the self-signed certificate and the next check logs in (exit $rc)" \
    '[ $rc = 0 ] && ! grep -q SKIPPED "$ROOT/gui.txt"' "$ROOT/gui.txt"
  sleep 0.3
  tail -n +$((before + 1)) "$ROOT/dovecot.log" >"$ROOT/log.txt"
  check "windows$1: the server saw that login over TLS" 'grep -q "Login: user=<alice>.*TLS" "$ROOT/log.txt"'
}
if [ -f "$IW_ROOT/build/win/tests/gui_tests.exe" ]; then
  iw_xvfb >/dev/null 2>&1 || true
  trust_step "" "$WINEPREFIX" ""
  if [ -f "$IW_BUILD/wineprefix-150/.inkwarden-dpi144" ]; then
    trust_step " at 150%" "$IW_BUILD/wineprefix-150" _150
    WINEPREFIX=$IW_BUILD/wineprefix-150 wineserver -k 2>/dev/null || true
  fi
  for f in "$IW_BUILD"/screenshots/account_tr*.bmp; do
    [ -f "$f" ] && command -v convert >/dev/null && convert "$f" "${f%.bmp}.png" && rm -f "$f"
  done
else
  echo "SKIP: no Windows GUI tests"
fi

dovecot -c "$ROOT/dovecot.conf" stop >/dev/null 2>&1

# The filter checks (classification, deletions) once more, over TLS.
IW_FILTER_TLS=1 bash "$IW_ROOT/tests/scripts/dovecot_filter.sh" || fail=1
exit $fail
