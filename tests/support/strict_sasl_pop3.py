#!/usr/bin/env python3
"""A strict scripted POP3 server for the SASL tests, on 127.0.0.1.

Two listeners: TLS from the first byte (--cert/--key) and plain POP3. Both
offer "SASL PLAIN XOAUTH2 OAUTHBEARER" and USER, so a client that would send
a token or a password without TLS is tempted to. It judges bearer tokens by
asking the fake authorization server's /introspect (--introspect URL) and
accepts them for --user only.

Violations are written, one a line, to --violations:
  auth-line-too-long N     an AUTH command line of N > 255 octets (CR LF included)
  token-without-tls        a SASL response (or PASS) on the plain listener
  initial-response         an AUTH line that carries the response itself
  user-pass-for-oauth      USER or PASS on a connection (the accounts are OAuth2)
Every command line is logged (verbs only, never the arguments) to --log.

Once logged in it serves a mailbox of three messages (STAT, LIST, TOP, NOOP,
DELE); DELEs are committed by QUIT, which logs "deleted N ..." and leaves the
mailbox as it was, so every case sees the same three messages.

It binds free ports and writes "TLSPORT PLAINPORT" to --port-file, and exits
after --lifetime seconds.
"""
import argparse
import base64
import json
import os
import socket
import ssl
import sys
import threading
import urllib.parse
import urllib.request

# The three messages' headers: the first comes from the black-listed sender
# of the filter tests.
MAILBOX = [
    "From: spam@junk.tw\r\nTo: test@x\r\nSubject: junk\r\nDate: Thu, 10 Dec 2026 10:00:00 +0800\r\n",
    "From: friend@ok.tw\r\nTo: test@x\r\nSubject: hello\r\nDate: Thu, 10 Dec 2026 10:01:00 +0800\r\n",
    "From: news@ok.tw\r\nTo: test@x\r\nSubject: news\r\nDate: Thu, 10 Dec 2026 10:02:00 +0800\r\n",
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cert", required=True)
    ap.add_argument("--key", required=True)
    ap.add_argument("--introspect", required=True)
    ap.add_argument("--user", default="test")
    ap.add_argument("--violations", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--lifetime", type=int, default=600)
    args = ap.parse_args()
    lock = threading.Lock()

    def violation(text):
        with lock, open(args.violations, "a") as f:
            f.write(text + "\n")

    def log(text):
        with lock, open(args.log, "a") as f:
            f.write(text + "\n")

    def token_user(token):
        data = urllib.parse.urlencode({"token": token}).encode()
        try:
            with urllib.request.urlopen(args.introspect, data, timeout=10) as r:
                o = json.loads(r.read())
            return o.get("username") if o.get("active") else None
        except Exception:
            return None

    def serve(conn, secure):
        f = conn.makefile("rwb", buffering=0)

        def send(s):
            f.write(s.encode() + b"\r\n")

        def readline():
            line = f.readline(65536)
            if not line:
                return None
            return line.rstrip(b"\r\n").decode("latin-1")

        send("+OK strict POP3 ready")
        logged_in = False
        marked = set()
        while True:
            raw = f.readline(65536)
            if not raw:
                return
            line = raw.rstrip(b"\r\n").decode("latin-1")
            verb = line.split(" ", 1)[0].upper()
            log(("tls " if secure else "plain ") + verb)
            if verb == "CAPA":
                send("+OK\r\nTOP\r\nUIDL\r\nUSER\r\nSASL PLAIN XOAUTH2 OAUTHBEARER\r\n.")
            elif verb == "AUTH":
                if len(raw) > 255:
                    violation("auth-line-too-long %d" % len(raw))
                parts = line.split(" ")
                mech = parts[1].upper() if len(parts) > 1 else ""
                if len(parts) > 2:
                    violation("initial-response")
                send("+ ")
                resp = readline()
                if resp is None:
                    return
                if not secure:
                    violation("token-without-tls")
                if resp == "*":
                    send("-ERR Authentication aborted by client.")
                    continue
                try:
                    decoded = base64.b64decode(resp, validate=True).decode("latin-1")
                except Exception:
                    send("-ERR [AUTH] Invalid base64")
                    continue
                user = token = None
                if mech == "XOAUTH2":
                    fields = decoded.split("\x01")
                    for fl in fields:
                        if fl.startswith("user="):
                            user = fl[5:]
                        if fl.startswith("auth=Bearer "):
                            token = fl[12:]
                elif mech == "OAUTHBEARER":
                    gs2, _, rest = decoded.partition("\x01")
                    for p in gs2.split(","):
                        if p.startswith("a="):
                            user = p[2:]
                    for fl in rest.split("\x01"):
                        if fl.startswith("auth=Bearer "):
                            token = fl[12:]
                if token and user == args.user and token_user(token) == args.user:
                    logged_in = True
                    log("login " + mech + " %d" % len(token))
                    send("+OK Logged in.")
                    continue
                err = base64.b64encode(json.dumps({"status": "401", "schemes": "bearer", "scope": "mail"}).encode())
                send("+ " + err.decode())
                answer = readline()
                if answer is None:
                    return
                log("answer " + ("empty" if answer == "" else "AQ==" if answer == "AQ==" else "other"))
                send("-ERR [AUTH] Authentication failed.")
            elif verb in ("USER", "PASS"):
                violation("user-pass-for-oauth")
                if verb == "PASS" and not secure:
                    violation("token-without-tls")
                send("-ERR [AUTH] no passwords here")
            elif verb == "STAT":
                send("+OK 3 4500" if logged_in else "-ERR not logged in")
            elif verb in ("LIST", "TOP", "NOOP", "DELE") and not logged_in:
                send("-ERR not logged in")
            elif verb == "LIST":
                send("+OK 3 messages\r\n" + "".join("%d 1500\r\n" % (n + 1) for n in range(3)) + ".")
            elif verb == "TOP":
                try:
                    n = int(line.split(" ")[1])
                except (IndexError, ValueError):
                    n = 0
                if 1 <= n <= 3:
                    send("+OK\r\n" + MAILBOX[n - 1] + "\r\n.")
                else:
                    send("-ERR no such message")
            elif verb == "NOOP":
                send("+OK")
            elif verb == "DELE":
                try:
                    n = int(line.split(" ")[1])
                except (IndexError, ValueError):
                    n = 0
                if 1 <= n <= 3 and n not in marked:
                    marked.add(n)
                    send("+OK marked")
                else:
                    send("-ERR no such message")
            elif verb == "QUIT":
                # The mailbox itself stays as it is (every case sees the same
                # three messages); a committed deletion is logged.
                if marked:
                    log("deleted " + " ".join(str(n) for n in sorted(marked)))
                send("+OK bye")
                return
            else:
                send("-ERR unknown command")

    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(args.cert, args.key)

    def listener(secure):
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(("127.0.0.1", 0))
        s.listen(16)

        def loop():
            while True:
                c, _ = s.accept()
                c.settimeout(60)

                def run(c=c):
                    try:
                        if secure:
                            c2 = ctx.wrap_socket(c, server_side=True)
                        else:
                            c2 = c
                        serve(c2, secure)
                    except Exception as e:  # a client that went away, a failed handshake
                        log("error %s" % type(e).__name__)
                    finally:
                        try:
                            c.close()
                        except Exception:
                            pass
                threading.Thread(target=run, daemon=True).start()
        threading.Thread(target=loop, daemon=True).start()
        return s.getsockname()[1]

    tls_port = listener(True)
    plain_port = listener(False)
    open(args.violations, "a").close()
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d %d" % (tls_port, plain_port))
    os.rename(tmp, args.port_file)
    threading.Event().wait(args.lifetime)


if __name__ == "__main__":
    sys.exit(main())
