#!/bin/bash
# A POP3 server that speaks only TLS 1.0 and 1.1 (Python's ssl module at
# security level 0), TLS from the first byte and STLS, against
# inkwarden-cli check in both builds (the Windows one under Wine, whose
# Schannel still offers TLS 1.1 whatever minimum the program asks for). Every
# run must end with the status of a failed handshake, and the server must
# never see a line after the handshake: no USER, no PASS.
set -u
IW_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$IW_ROOT/scripts/lib.sh"
. "$IW_ROOT/tests/scripts/tls_certs.inc"
command -v openssl >/dev/null || { echo "SKIP: openssl is not installed"; exit 0; }

ROOT=$(mktemp -d /tmp/iw-tls-old.XXXXXX)
SERVER_PID=
cleanup() {
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null
  [ -n "${IW_XVFB_PID:-}" ] && kill "$IW_XVFB_PID" 2>/dev/null
  rm -rf "$ROOT"
}
trap cleanup EXIT
fail=0
check() {
  if eval "$2"; then echo "ok: $1"; else
    echo "FAIL: $1"; fail=1
    [ -n "${3:-}" ] && sed 's/^/    | /' "$3" | head -20
  fi
}

mkdir -p "$ROOT/certs"
iw_make_test_certs "$ROOT/certs" || { echo "FAIL: test certificates"; exit 1; }

# The server: one listener for TLS from the first byte, one for STLS, both
# on ports the system hands out (written to ports.txt). It logs the protocol
# of every handshake and every line it receives.
python3 -W ignore::DeprecationWarning - "$ROOT/certs/good.crt" "$ROOT/certs/good.key" "$ROOT/ports.txt" "$ROOT/server.log" <<'PY' &
import socket, ssl, sys, threading
cert, key, portfile, logfile = sys.argv[1:5]
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
ctx.set_ciphers("DEFAULT:@SECLEVEL=0")
ctx.minimum_version = ssl.TLSVersion.TLSv1
ctx.maximum_version = ssl.TLSVersion.TLSv1_1
ctx.load_cert_chain(cert, key)
lock = threading.Lock()
def log(text):
    with lock, open(logfile, "a") as f:
        f.write(text + "\n")

def dialogue(conn, f):
    while True:
        line = f.readline()
        if not line:
            return
        line = line.decode("latin-1").rstrip("\r\n")
        log("LINE " + line)
        if line.upper() == "STAT":
            conn.sendall(b"+OK 3 300\r\n")
        else:
            conn.sendall(b"+OK\r\n")
        if line.upper() == "QUIT":
            return

def tls(conn):
    try:
        t = ctx.wrap_socket(conn, server_side=True)
    except (ssl.SSLError, OSError) as e:
        log("HANDSHAKE FAILED %s" % e.__class__.__name__)
        return None
    log("VERSION " + str(t.version()))
    return t

def serve(conn, stls):
    conn.settimeout(120)
    try:
        if stls:
            conn.sendall(b"+OK ready\r\n")
            f = conn.makefile("rb")
            line = f.readline().decode("latin-1").rstrip("\r\n")
            log("PLAIN " + line)
            if line.upper() != "STLS":
                return
            conn.sendall(b"+OK Begin TLS negotiation now.\r\n")
            t = tls(conn)
        else:
            t = tls(conn)
            if t:
                t.sendall(b"+OK ready\r\n")
        if t:
            dialogue(t, t.makefile("rb"))
    except OSError:
        pass
    finally:
        conn.close()

def listen(stls):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    s.listen(8)
    def run():
        while True:
            c, _ = s.accept()
            threading.Thread(target=serve, args=(c, stls), daemon=True).start()
    threading.Thread(target=run, daemon=True).start()
    return s.getsockname()[1]

ports = "%d %d" % (listen(False), listen(True))
with open(portfile + ".tmp", "w") as f:
    f.write(ports + "\n")
import os
os.rename(portfile + ".tmp", portfile)
threading.Event().wait()
PY
SERVER_PID=$!
for _ in $(seq 300); do [ -s "$ROOT/ports.txt" ] && break; sleep 0.1; done
read -r TPORT SPORT <"$ROOT/ports.txt" || { echo "FAIL: the TLS 1.1 server did not start"; exit 1; }

# The server really offers TLS 1.1: a client that allows it gets it.
offered=$(python3 -W ignore::DeprecationWarning - "$TPORT" <<'PY'
import socket, ssl, sys
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
ctx.check_hostname = False
ctx.verify_mode = ssl.CERT_NONE
ctx.set_ciphers("DEFAULT:@SECLEVEL=0")
ctx.minimum_version = ssl.TLSVersion.TLSv1
with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=30) as s:
    with ctx.wrap_socket(s) as t:
        print(t.version())
        t.recv(100)
        t.sendall(b"QUIT\r\n")
PY
)
check "the server speaks $offered and nothing newer" '[ "$offered" = TLSv1.1 ]'

PW=$(python3 -c '
s = "secret"; out = ""; total = 0
for i, ch in enumerate(s, 1):
    c = ord(ch); total += c; e = (c ^ 5) + i
    if e > 126:
        e -= 95
        if e > 126: e = 32 + (e - 32) % 95
    out += chr(e)
print(out + chr(ord("0") + total % 10 + 13))')

run_case() {  # build, path converter, Security, port, command...
  local build=$1 conv=$2 sec=$3 port=$4; shift 4
  local dir="$ROOT/p-$build-$sec"
  mkdir -p "$dir"
  {
    printf '[U]\r\nOption=011111000100\r\n[U-Mail]\r\nalice@a=1\r\n'
    printf '[alice@a]\r\nAccount=alice\r\nPassWord=%s\r\nPoP3=127.0.0.1:%d\r\nSecurity=%s\r\n' "$PW" "$port" "$sec"
  } >"$dir/set.ini"
  : >"$ROOT/server.log"
  INKWARDEN_CA_FILE=$($conv "$ROOT/certs/ca.crt") "$@" check --profile "$($conv "$dir")" --user U \
    >"$ROOT/out.txt" 2>&1
  sleep 0.3
  check "$build, Security=$sec: the status of a failed handshake" 'grep -qF "加密連線失敗,未登入" "$ROOT/out.txt"' \
    "$ROOT/out.txt"
  check "$build, Security=$sec: no line after the handshake, no USER or PASS" \
    '! grep -q "^LINE" "$ROOT/server.log"' "$ROOT/server.log"
  echo "    (server: $(grep -E '^(VERSION|HANDSHAKE)' "$ROOT/server.log" | head -1))"
}
same_path() { echo "$1"; }
win_path() { winepath -w "$1" 2>/dev/null || echo "Z:${1//\//\\}"; }

for sec in 1 2; do
  port=$TPORT
  [ "$sec" = 2 ] && port=$SPORT
  run_case native same_path "$sec" "$port" "$IW_ROOT/build/native/inkwarden-cli"
done
if [ -f "$IW_ROOT/build/win/inkwarden-cli.exe" ]; then
  iw_xvfb >/dev/null 2>&1 || { echo "FAIL: no display for Wine"; exit 1; }
  for sec in 1 2; do
    port=$TPORT
    [ "$sec" = 2 ] && port=$SPORT
    run_case windows win_path "$sec" "$port" iw_wine "$IW_ROOT/build/win/inkwarden-cli.exe"
  done
else
  echo "SKIP: no Windows build of inkwarden-cli"
fi
exit $fail
