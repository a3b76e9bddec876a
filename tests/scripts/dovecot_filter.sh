#!/bin/bash
# inkwarden-cli filter against a real Dovecot on loopback, in both builds
# (the Windows one under Wine reaches the same server): three accounts (one
# with mixed Big5, GB2312, UTF-8 and plain headers, one empty mailbox, one
# with a wrong password); the --json listing and classification; --delete
# removes exactly the checked messages, checked in the Maildir by
# Message-ID, also with an unparsable reply in the middle.
# With IW_FILTER_TLS=1 (dovecot_tls.sh sets it) the same checks run over TLS:
# a throw-away CA, alice by STLS on the plain port, bob and carol by TLS from
# the first byte.
set -u
IW_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$IW_ROOT/scripts/lib.sh"
command -v dovecot >/dev/null || { echo "SKIP: dovecot is not installed"; exit 0; }

PORT=${IW_DOVECOT_PORT:-26110}
ROOT=$(mktemp -d /tmp/iw-dovecot.XXXXXX)
chmod 755 "$ROOT"
cleanup() { dovecot -c "$ROOT/dovecot.conf" stop >/dev/null 2>&1; rm -rf "$ROOT"; }
trap cleanup EXIT
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }

sed -e "s#@ROOT@#$ROOT#g" -e "s#@PORT1@#$PORT#g" -e "s#@PORT2@#$((PORT + 1))#g" \
    -e "s#@UID@#65534#g" -e "s#@GID@#65534#g" /work/shared/recipes/dovecot.conf.in >"$ROOT/dovecot.conf"
TLS=${IW_FILTER_TLS:-0}
SEC_A=0 SEC_BC=0 PORT_BC=$PORT
if [ "$TLS" = 1 ]; then
  . "$IW_ROOT/tests/scripts/tls_certs.inc"
  mkdir -p "$ROOT/certs"
  iw_make_test_certs "$ROOT/certs" || { echo "FAIL: test certificates"; exit 1; }
  export INKWARDEN_CA_FILE=$ROOT/certs/ca.crt
  # The second listener becomes the TLS one.
  sed -i -e "s#^ssl = no#ssl = yes\nssl_cert = <$ROOT/certs/good.crt\nssl_key = <$ROOT/certs/good.key#" \
    -e "/inet_listener pop3alt/a\    ssl = yes" "$ROOT/dovecot.conf"
  SEC_A=2 SEC_BC=1 PORT_BC=$((PORT + 1))
  echo "(over TLS: alice by STLS, bob and carol by TLS from the first byte)"
fi
printf 'alice:{PLAIN}secret::::::\nbob:{PLAIN}secret::::::\ncarol:{PLAIN}right::::::\n' >"$ROOT/passwd"

# Fills alice's mailbox anew; bob's stays empty.
fill() {
  rm -rf "$ROOT/mail"
  mkdir -p "$ROOT/mail/alice/Maildir/"{new,cur,tmp} "$ROOT/mail/bob/Maildir/"{new,cur,tmp}
  python3 - "$ROOT/mail/alice/Maildir/new" <<'PY'
import sys, base64
d = sys.argv[1]
def b(cs, s): return "=?%s?B?%s?=" % (cs, base64.b64encode(s.encode(cs)).decode())
msgs = [
  ("m1", "From: Friend <friend@ok.tw>", "Subject: hello", "plain"),
  ("m2", "From: " + b("big5", "廣告") + " <spam@junk.tw>", "Subject: " + b("big5", "特價"), "black-listed"),
  ("m3", "From: broken <y", "Subject: " + b("utf-8", "中文"), "unparsable sender"),
  ("m4", "From: big@ok.tw", "Subject: big", "x" * 70000),
  ("m5", "From: ", "Subject: nobody", "blank sender"),
  ("m6", "From: " + b("gb2312", "朋友") + " <trusted@ok.tw>", "Subject: " + b("gb2312", "你好"), "trusted"),
]
for n, (mid, frm, subj, body) in enumerate(msgs):
    text = "%s\r\n%s\r\nDate: Thu, 10 Dec 2026 08:0%d:00 +0800\r\nMessage-ID: <%s@test>\r\n\r\n%s\r\n" % (frm, subj, n, mid, body)
    open("%s/%d.M%d.test" % (d, 1700000000 + n, n), "wb").write(text.encode("ascii"))
PY
  chown -R 65534:65534 "$ROOT/mail"
}
remaining_ids() { cat "$ROOT"/mail/alice/Maildir/{new,cur}/* 2>/dev/null | grep -o '<m[0-9]@test>' | sort | tr -d '<>\n'; }

# The profile: set.ini with the roster, the three accounts, the black list on.
scramble() { python3 -c '
import sys
s = sys.argv[1]; out = ""; total = 0
for i, ch in enumerate(s, 1):
    c = ord(ch); total += c; e = (c ^ 5) + i
    if e > 126:
        e -= 95
        if e > 126: e = 32 + (e - 32) % 95
    out += chr(e)
print(out + chr(ord("0") + total % 10 + 13))' "$1"; }
PROFILE="$ROOT/profile"
mkdir -p "$PROFILE"
PW=$(scramble secret)
{
  printf '[U]\r\nOption=011111000100\r\n'
  printf '[U-Mail]\r\nalice@a=1\r\nbob@b=1\r\ncarol@c=1\r\n'
  printf '[U-BlackList]\r\nspam@junk.tw=0\r\n[U-TrustList]\r\ntrusted@ok.tw=0\r\n'
  printf '[alice@a]\r\nAccount=alice\r\nPassWord=%s\r\nPoP3=127.0.0.1:%d\r\nSecurity=%s\r\n' "$PW" "$PORT" "$SEC_A"
  printf '[bob@b]\r\nAccount=bob\r\nPassWord=%s\r\nPoP3=127.0.0.1:%d\r\nSecurity=%s\r\n' "$PW" "$PORT_BC" "$SEC_BC"
  printf '[carol@c]\r\nAccount=carol\r\nPassWord=%s\r\nPoP3=127.0.0.1:%d\r\nSecurity=%s\r\n' "$PW" "$PORT_BC" "$SEC_BC"
} >"$PROFILE/set.ini"

fill
dovecot -c "$ROOT/dovecot.conf" || { echo "FAIL: dovecot did not start"; exit 1; }
for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/$PORT) 2>/dev/null && break; sleep 0.1; done

run_build() {  # name, command...
  local name=$1; shift
  [ "$TLS" = 1 ] && name="$name over TLS"
  fill
  "$@" filter --profile "$PROFILE" --user U --json >"$ROOT/out.json" 2>"$ROOT/err.txt"
  check "$name: listing exits 0" '[ $? -eq 0 ]'
  python3 - "$ROOT/out.json" >"$ROOT/verdict.txt" 2>&1 <<'PY'
import json, sys
rows = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8") if l.strip()]
acc = [r for r in rows if r["type"] == "account"]
msg = [r for r in rows if r["type"] == "message"]
summ = [r for r in rows if r["type"] == "summary"]
def expect(c, what):
    if not c: print("wrong:", what); sys.exit(1)
expect(len(acc) == 3, "three accounts")
expect([a["section"] for a in acc] == ["alice@a", "bob@b", "carol@c"], "account order")
expect("6封" in acc[0]["status"], "alice's status names 6 messages: " + acc[0]["status"])
expect("沒有新郵件" in acc[1]["status"] or "0封" in acc[1]["status"], "bob's empty mailbox: " + acc[1]["status"])
# Dovecot answers a wrong password "-ERR [AUTH] ...": the status says what to do.
expect(acc[2]["status"] == "carol@c帳號或密碼被拒,請檢查密碼;郵件服務要求應用程式密碼時,請改用應用程式密碼或授權碼",
       "carol's wrong password: " + acc[2]["status"])
expect(len(msg) == 6 and all(m["account"] == "alice@a" for m in msg), "six rows, all alice's")
expect([m["number"] for m in msg] == [1, 2, 3, 4, 5, 6], "numbers 1..6")
expect(msg[1]["sender"] == "廣告 <spam@junk.tw>" and msg[1]["subject"] == "特價", "Big5 words: %r" % msg[1])
expect(msg[5]["sender"] == "朋友 <trusted@ok.tw>" and msg[5]["subject"] == "你好", "GB2312 words: %r" % msg[5])
expect(msg[2]["subject"] == "中文" or msg[2]["sender"] == "broken <y", "the unparsable row keeps its place: %r" % msg[2])
want = [(False, None), (True, "#FF0000"), (False, None), (True, "#2900DF"), (True, "#FF0030"), (False, None)]
got = [(m["checked"], m["color"]) for m in msg]
expect(got == want, "classification %r" % got)
expect(summ == [{"type": "summary", "remaining": 6}], "summary %r" % summ)
print("listing as expected")
PY
  check "$name: listing and classification ($(tail -1 "$ROOT/verdict.txt"))" 'grep -q "as expected" "$ROOT/verdict.txt"'
  check "$name: without --delete nothing is deleted" '[ "$(remaining_ids)" = "m1@testm2@testm3@testm4@testm5@testm6@test" ]'
  "$@" filter --profile "$PROFILE" --user U --delete >"$ROOT/out.txt" 2>"$ROOT/err.txt"
  check "$name: --delete exits 0" '[ $? -eq 0 ]'
  check "$name: --delete removes exactly the checked messages (left: $(remaining_ids))" \
    '[ "$(remaining_ids)" = "m1@testm3@testm6@test" ]'
  if [ "$TLS" = 1 ]; then
    check "$name: every login went over TLS" \
      'grep -q "Login: user=<alice>.*TLS" "$ROOT/dovecot.log" && ! grep "Login: user=" "$ROOT/dovecot.log" | grep -vq TLS'
  fi
  "$@" filter --profile "$ROOT/nowhere" >/dev/null 2>"$ROOT/err.txt"
  check "$name: a missing profile exits 2" '[ $? -eq 2 ] && grep -q set.ini "$ROOT/err.txt"'
}

run_build native "$IW_ROOT/build/native/inkwarden-cli"
if [ -f "$IW_ROOT/build/win/inkwarden-cli.exe" ]; then
  iw_xvfb >/dev/null 2>&1 || true
  WPROFILE=$(winepath -w "$PROFILE" 2>/dev/null || echo "Z:${PROFILE//\//\\}")
  PROFILE_NATIVE=$PROFILE
  PROFILE=$WPROFILE
  [ "$TLS" = 1 ] && export INKWARDEN_CA_FILE=$(winepath -w "$ROOT/certs/ca.crt" 2>/dev/null || echo "Z:${ROOT//\//\\}\\certs\\ca.crt")
  run_build windows iw_wine "$IW_ROOT/build/win/inkwarden-cli.exe"
  PROFILE=$PROFILE_NATIVE
else
  echo "SKIP: no Windows build of inkwarden-cli"
fi
exit $fail
