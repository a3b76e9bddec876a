#!/usr/bin/env python3
"""A stand-in for the user's browser in the browser sign-in tests.

It watches the output file of `inkwarden-cli login` for the "open:" and
"waiting:" lines, checks that the program's listener cannot be reached on any
non-loopback address of this machine, then plays the browser:

  ok          fetch the authorize address and follow its redirect
  wrongstate  first the redirect with a forged state and with none (each must
              be refused with 400 while the sign-in goes on), the favicon
              (404), then the real redirect
  deny        as ok, after asking the fake server to refuse consent
  idle        do nothing (the sign-in must time out)

It prints one line per step ("redirect: 200", "page: done", ...), which the
test script checks. Every wait is bounded.
"""
import re
import socket
import subprocess
import sys
import time
import urllib.error
import urllib.parse
import urllib.request


class NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


def fetch(url, follow=True):
    opener = urllib.request.build_opener() if follow else urllib.request.build_opener(NoRedirect)
    try:
        r = opener.open(url, timeout=30)
        return r.status, r.headers, r.read().decode("utf-8", "replace")
    except urllib.error.HTTPError as e:
        return e.code, e.headers, e.read().decode("utf-8", "replace")


def main():
    out_file, mode = sys.argv[1], sys.argv[2]
    auth_port = sys.argv[3] if len(sys.argv) > 3 else None
    url = port = None
    end = time.time() + 120
    while time.time() < end:
        try:
            text = open(out_file, encoding="utf-8", errors="replace").read()
        except OSError:
            text = ""
        m = re.search(r"^open: (\S+)\s*$", text, re.M)
        w = re.search(r"^waiting: http://localhost:(\d+)/", text, re.M)
        if m and w:
            url, port = m.group(1), int(w.group(1))
            break
        time.sleep(0.1)
    if not url:
        print("no-address")
        return 1
    print("port:", port)

    # The listener must not answer on any address but loopback.
    addrs = subprocess.run(["hostname", "-I"], capture_output=True, text=True).stdout.split()
    reachable = []
    for a in addrs + ["127.0.0.2"]:
        if a in ("127.0.0.1", "::1"):
            continue
        fam = socket.AF_INET6 if ":" in a else socket.AF_INET
        s = socket.socket(fam, socket.SOCK_STREAM)
        s.settimeout(5)
        try:
            s.connect((a, port))
            reachable.append(a)
        except OSError:
            pass
        finally:
            s.close()
    print("non-loopback:", "reachable " + " ".join(reachable) if reachable else "refused")

    if mode == "idle":
        return 0
    if mode == "deny":
        fetch("http://127.0.0.1:%s/admin/deny-next" % auth_port)
    status, headers, _ = fetch(url, follow=False)
    loc = headers.get("Location") if status in (301, 302, 303) else None
    if not loc:
        print("authorize:", status)
        return 1
    if mode == "wrongstate":
        forged = re.sub(r"state=[^&]*", "state=forged", loc)
        print("forged-state:", fetch(forged)[0])
        none = re.sub(r"&?state=[^&]*", "", loc)
        print("no-state:", fetch(none)[0])
        print("favicon:", fetch("http://localhost:%d/favicon.ico" % port)[0])
    status, headers, body = fetch(loc)
    print("redirect:", status)
    print("charset:", headers.get("Content-Type", ""))
    print("page:", "done" if "登入完成" in body else ("refused" if "登入遭拒" in body else "other"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
