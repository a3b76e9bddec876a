#!/usr/bin/env python3
"""A fake OAuth2 authorization server for the sign-in tests, on 127.0.0.1.

Endpoints: GET /authorize (PKCE S256 required; redirects to redirect_uri with
code and state), POST /token (authorization_code, refresh_token and the
device-code grant), POST /devicecode, GET /device?user_code=X (approves a
device code, as the user would in the browser), POST /introspect (RFC 7662,
what Dovecot's oauth2 passdb asks), POST /revoke, GET /admin/stats (what was
asked, for the tests), GET /admin/revoke-last (revokes the access token
issued last) and GET /admin/deny-next (the next /authorize answers with
error=access_denied, as when the user refuses consent). Tokens are HS256 JWTs with sub and exp, padded to
--token-length characters. A refresh token works once: every refresh returns
a new one and the old one is spent.

It binds a free port unless --port says otherwise and writes the port to
--port-file. Everything is bounded: request bodies of at most 64 KiB, a
lifetime (--lifetime seconds) after which it exits.
"""
import argparse
import base64
import hashlib
import hmac
import json
import os
import secrets
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


class State:
    def __init__(self, args):
        self.lock = threading.Lock()
        self.key = args.key
        self.token_length = args.token_length
        self.access_lifetime = args.access_lifetime
        self.user = args.user
        self.client_id = args.client_id
        self.client_secret = args.client_secret  # when set, /token wants it, as Google's does
        self.auto_approve = args.auto_approve
        self.codes = {}       # code -> dict(challenge, redirect_uri, user, used)
        self.refresh = {}     # refresh token -> dict(user, spent)
        self.revoked = set()  # access tokens
        self.devices = {}     # device_code -> dict(user_code, approved, polls)
        self.last_access = None
        self.deny_next = False
        self.stats = {"authorize": 0, "token": 0, "refresh": 0, "refresh_spent": 0, "device": 0,
                      "introspect": 0, "introspect_active": 0, "revoke": 0,
                      "secret_elsewhere": 0}  # a client_secret sent anywhere but /token

    def jwt(self, user):
        header = b64url(json.dumps({"alg": "HS256", "typ": "JWT"}).encode())
        claims = {"sub": user, "exp": int(time.time()) + self.access_lifetime, "jti": secrets.token_hex(8)}
        base = len(header) + 1 + len(b64url(json.dumps(claims, separators=(",", ":")).encode())) + 1 + 43
        pad = max(0, (self.token_length - base) * 3 // 4 - 10)
        if pad:
            claims["pad"] = "x" * pad
        payload = b64url(json.dumps(claims, separators=(",", ":")).encode())
        # Trim or extend the padding until the token has exactly the asked length.
        for _ in range(64):
            sig_input = header + "." + payload
            token_len = len(sig_input) + 1 + 43
            if not pad or token_len == self.token_length:
                break
            pad += (self.token_length - token_len) * 3 // 4 or (1 if token_len < self.token_length else -1)
            pad = max(1, pad)
            claims["pad"] = "x" * pad
            payload = b64url(json.dumps(claims, separators=(",", ":")).encode())
        sig = hmac.new(self.key, (header + "." + payload).encode(), hashlib.sha256).digest()
        return header + "." + payload + "." + b64url(sig)

    def check_jwt(self, token):
        try:
            header, payload, sig = token.split(".")
            want = hmac.new(self.key, (header + "." + payload).encode(), hashlib.sha256).digest()
            if not hmac.compare_digest(b64url(want), sig):
                return None
            claims = json.loads(base64.urlsafe_b64decode(payload + "=" * (-len(payload) % 4)))
            if claims.get("exp", 0) < time.time() or token in self.revoked:
                return None
            return claims.get("sub")
        except Exception:
            return None

    def issue(self, user):
        rt = "rt-" + secrets.token_urlsafe(24)
        self.refresh[rt] = {"user": user, "spent": False}
        self.last_access = self.jwt(user)
        return {"access_token": self.last_access, "token_type": "Bearer", "expires_in": self.access_lifetime,
                "refresh_token": rt, "scope": "mail"}


class Handler(BaseHTTPRequestHandler):
    server_version = "FakeAuth/1"

    def log_message(self, fmt, *args):
        if self.server.log:
            self.server.log.write("%s %s\n" % (self.command, self.path.split("?")[0]))
            self.server.log.flush()

    def reply(self, status, obj=None, headers=None):
        body = json.dumps(obj).encode() if obj is not None else b""
        self.send_response(status)
        for k, v in (headers or {}).items():
            self.send_header(k, v)
        if obj is not None:
            self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(body)

    def form(self):
        n = int(self.headers.get("Content-Length") or 0)
        if n > 65536:
            return None
        data = self.rfile.read(n).decode("utf-8", "replace")
        return {k: v[0] for k, v in urllib.parse.parse_qs(data, keep_blank_values=True).items()}

    def do_GET(self):
        st = self.server.state
        url = urllib.parse.urlsplit(self.path)
        q = {k: v[0] for k, v in urllib.parse.parse_qs(url.query, keep_blank_values=True).items()}
        with st.lock:
            if url.path == "/authorize":
                st.stats["authorize"] += 1
                if "client_secret" in q:
                    st.stats["secret_elsewhere"] += 1
                if q.get("response_type") != "code" or q.get("code_challenge_method") != "S256" \
                        or not q.get("code_challenge") or q.get("client_id") != st.client_id \
                        or not q.get("redirect_uri", "").startswith("http://localhost:"):
                    return self.reply(400, {"error": "invalid_request"})
                if st.deny_next:
                    st.deny_next = False
                    loc = q["redirect_uri"] + "?" + urllib.parse.urlencode(
                        {"error": "access_denied", "error_description": "The user declined.", "state": q.get("state", "")})
                    return self.reply(302, None, {"Location": loc})
                code = "code-" + secrets.token_urlsafe(16)
                st.codes[code] = {"challenge": q["code_challenge"], "redirect_uri": q["redirect_uri"],
                                  "user": q.get("login_hint") or st.user, "used": False}
                loc = q["redirect_uri"] + "?" + urllib.parse.urlencode({"code": code, "state": q.get("state", "")})
                return self.reply(302, None, {"Location": loc})
            if url.path == "/device":
                for d in st.devices.values():
                    if d["user_code"] == q.get("user_code"):
                        d["approved"] = True
                        return self.reply(200, {"approved": True})
                return self.reply(404, {"error": "unknown_code"})
            if url.path == "/admin/stats":
                return self.reply(200, st.stats)
            if url.path == "/admin/deny-next":
                st.deny_next = True
                return self.reply(200, {"deny_next": True})
            if url.path == "/admin/revoke-last":
                # As if the user had revoked the program's access: the access token now fails.
                st.revoked.add(st.last_access)
                return self.reply(200, {"revoked": st.last_access is not None})
        self.reply(404, {"error": "not_found"})

    def do_POST(self):
        st = self.server.state
        f = self.form()
        if f is None:
            return self.reply(413, {"error": "too_large"})
        path = urllib.parse.urlsplit(self.path).path
        with st.lock:
            if path != "/token" and "client_secret" in f:
                st.stats["secret_elsewhere"] += 1
            if path == "/token":
                st.stats["token"] += 1
                grant = f.get("grant_type")
                if f.get("client_id") != st.client_id:
                    return self.reply(401, {"error": "invalid_client"})
                if st.client_secret and f.get("client_secret") != st.client_secret:
                    return self.reply(401, {"error": "invalid_client"})
                if grant == "authorization_code":
                    c = st.codes.get(f.get("code", ""))
                    if not c or c["used"]:
                        return self.reply(400, {"error": "invalid_grant"})
                    c["used"] = True
                    if c["redirect_uri"] != f.get("redirect_uri"):
                        return self.reply(400, {"error": "invalid_grant", "error_description": "redirect_uri"})
                    if b64url(hashlib.sha256(f.get("code_verifier", "").encode()).digest()) != c["challenge"]:
                        return self.reply(400, {"error": "invalid_grant", "error_description": "code_verifier"})
                    return self.reply(200, st.issue(c["user"]))
                if grant == "refresh_token":
                    st.stats["refresh"] += 1
                    r = st.refresh.get(f.get("refresh_token", ""))
                    if not r or r["spent"]:
                        if r:
                            st.stats["refresh_spent"] += 1
                        return self.reply(400, {"error": "invalid_grant"})
                    r["spent"] = True
                    return self.reply(200, st.issue(r["user"]))
                if grant == "urn:ietf:params:oauth:grant-type:device_code":
                    d = st.devices.get(f.get("device_code", ""))
                    if not d:
                        return self.reply(400, {"error": "expired_token"})
                    d["polls"] += 1
                    if st.auto_approve and d["polls"] >= 2:
                        d["approved"] = True
                    if not d["approved"]:
                        return self.reply(400, {"error": "authorization_pending"})
                    del st.devices[f["device_code"]]
                    return self.reply(200, st.issue(d["user"]))
                return self.reply(400, {"error": "unsupported_grant_type"})
            if path == "/devicecode":
                st.stats["device"] += 1
                if f.get("client_id") != st.client_id:
                    return self.reply(401, {"error": "invalid_client"})
                dc = "dc-" + secrets.token_urlsafe(16)
                uc = secrets.token_hex(4).upper()
                st.devices[dc] = {"user_code": uc, "approved": False, "polls": 0, "user": st.user}
                port = self.server.server_address[1]
                return self.reply(200, {"device_code": dc, "user_code": uc,
                                        "verification_uri": "http://127.0.0.1:%d/device" % port,
                                        "interval": 1, "expires_in": 120})
            if path == "/introspect":
                st.stats["introspect"] += 1
                user = st.check_jwt(f.get("token", ""))
                if user is None:
                    return self.reply(200, {"active": False})
                st.stats["introspect_active"] += 1
                return self.reply(200, {"active": True, "username": user})
            if path == "/revoke":
                st.stats["revoke"] += 1
                t = f.get("token", "")
                if t in st.refresh:
                    st.refresh[t]["spent"] = True
                else:
                    st.revoked.add(t)
                return self.reply(200, {})
        self.reply(404, {"error": "not_found"})


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--port-file")
    ap.add_argument("--key-file", help="write the HMAC key here, base64, for Dovecot's local check")
    ap.add_argument("--user", default="test")
    ap.add_argument("--client-id", default="inkwarden-test")
    ap.add_argument("--client-secret", default="")
    ap.add_argument("--token-length", type=int, default=600)
    ap.add_argument("--access-lifetime", type=int, default=3600)
    ap.add_argument("--auto-approve", action="store_true")
    ap.add_argument("--lifetime", type=int, default=600)
    ap.add_argument("--log")
    args = ap.parse_args()
    args.key = os.urandom(32)
    if args.key_file:
        with open(args.key_file, "w") as f:
            f.write(base64.b64encode(args.key).decode())
    srv = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    srv.daemon_threads = True
    srv.state = State(args)
    srv.log = open(args.log, "a") if args.log else None
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(str(srv.server_address[1]))
        os.rename(tmp, args.port_file)
    threading.Timer(args.lifetime, srv.shutdown).start()
    srv.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
