#!/usr/bin/python3
"""An OAuth 2.0 authorization server for tests, offline, on 127.0.0.1.

It signs its access tokens as JWTs (HS256) with the key in --key-file, the
file's bytes as they are, so a Dovecot with local validation and the SMTP
sink (smtp_sink.py --oauth-key) accept them. Claims: iss, aud (the client
id), sub and email (the user), iat, exp, scope, jti; the header carries
"kid" when --kid is given. Prints "PORT <n>" on stdout once it listens.

Usage: oauth_server.py --key-file FILE --client-id ID --user USER
         [--port N] [--email ADDR] [--client-secret-file FILE]
         [--cert FILE --key FILE] [--issuer URL] [--kid KID]
         [--interval S] [--slow-down-step S] [--device-lifetime S]
         [--code-lifetime S] [--lifetime S] [--rotate-refresh]
         [--log FILE] [--issued FILE] [--watch-stdin] [--max-runtime S]

Endpoints:
  POST /device     device authorization: client_id, scope. Answers
                   device_code, user_code, verification_uri (/activate),
                   verification_uri_complete, expires_in, interval.
  GET  /activate   a page for the user; with ?user_code=CODE it approves
                   that code, as a user who signs in and agrees.
  GET  /authorize  response_type=code, client_id, redirect_uri (loopback IP
                   literal with a port only), state, scope, code_challenge,
                   code_challenge_method=S256 (required), login_hint.
                   Approves at once for the user: 302 to
                   redirect_uri?code=..&state=..; errors are redirected as
                   error=..&state=.. once the redirect URI is known good.
  POST /token      grant_type device_code (authorization_pending,
                   slow_down, expired_token, access_denied),
                   authorization_code (code_verifier against the challenge,
                   redirect_uri equality, single use) and refresh_token (a
                   new access token; with --rotate-refresh also a new
                   refresh token, and the old one is dead). The body must be
                   application/x-www-form-urlencoded. The client names
                   itself by client_id in the body or by HTTP Basic; with
                   --client-secret-file its secret must come along.
                   Errors: JSON {"error", "error_description"}, status 400
                   (401 for invalid_client).
A device code is polled too fast when the poll comes less than the interval
after the previous one or after the code was issued; the answer is then
slow_down and the interval grows by --slow-down-step for that code.

Control endpoints for tests (POST, parameters in the query or form body):
  /control/approve   user_code=CODE, or every pending device code
  /control/deny      user_code=CODE, or every pending device code
  /control/revoke    every refresh token of user=USER (default: the user)
  /control/lifetime  seconds=N: access-token lifetime of later tokens
Each answers {"ok": true, ...} or 400.

--log appends one JSON line per request: endpoint, grant_type, outcome
(ok or the error code), status, and a few request details; never a token
or secret. It exits on SIGTERM or SIGINT, at end of stdin with --watch-stdin,
or when --max-runtime runs out.
"""

import argparse
import base64
import hashlib
import hmac
import http.server
import ipaddress
import json
import os
import re
import secrets
import signal
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

MAX_BODY = 64 * 1024
MAX_QUERY = 8 * 1024
# RFC 7636: a verifier and an S256 challenge are unreserved characters.
VERIFIER_RE = re.compile(r"^[A-Za-z0-9\-._~]{43,128}$")
CHALLENGE_RE = re.compile(r"^[A-Za-z0-9\-_]{43}$")
USER_CODE_ALPHABET = "BCDFGHJKLMNPQRSTVWXZ"


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode("ascii")


def sign_jwt(claims, key, kid=None):
    header = {"alg": "HS256", "typ": "JWT"}
    if kid:
        header["kid"] = kid
    signing_input = b64url(json.dumps(header, separators=(",", ":")).encode()) + "." + \
        b64url(json.dumps(claims, separators=(",", ":")).encode())
    signature = hmac.new(key, signing_input.encode("ascii"), hashlib.sha256).digest()
    return signing_input + "." + b64url(signature)


def s256(verifier):
    return b64url(hashlib.sha256(verifier.encode("ascii")).digest())


def is_loopback_redirect(uri):
    """A redirect URI on a loopback IP literal with an explicit port, over
    plain HTTP, without a fragment: what a native app listens on."""
    try:
        parts = urllib.parse.urlsplit(uri)
        port = parts.port
    except ValueError:
        return False
    if parts.scheme != "http" or parts.fragment or port is None or not parts.hostname:
        return False
    try:
        return ipaddress.ip_address(parts.hostname).is_loopback
    except ValueError:
        return False


class OAuthError(Exception):
    def __init__(self, error, description, status=400):
        super().__init__(description)
        self.error = error
        self.description = description
        self.status = status


class State:
    """Everything the server remembers, behind one lock."""

    def __init__(self, args, key, client_secret):
        self.args = args
        self.key = key
        self.client_secret = client_secret
        self.lock = threading.RLock()
        self.lifetime = args.lifetime
        self.devices = {}  # device_code -> dict
        self.codes = {}  # authorization code -> dict
        self.refresh = {}  # refresh token -> dict
        self.log_file = None
        if args.log:
            fd = os.open(args.log, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o600)
            self.log_file = os.fdopen(fd, "a", encoding="utf-8")

    def log(self, record):
        if not self.log_file:
            return
        record = dict(record, time=round(time.time(), 3))
        with self.lock:
            self.log_file.write(json.dumps(record) + "\n")
            self.log_file.flush()

    def issue(self, client_id, scope, with_refresh=True, user=None):
        """An access token (and a refresh token) for the user; called with
        the lock held."""
        now = int(time.time())
        user = user or self.args.user
        claims = {"iss": self.args.issuer, "aud": client_id, "sub": user, "email": self.args.email or user,
                  "iat": now, "exp": now + self.lifetime, "scope": scope, "jti": secrets.token_hex(8)}
        answer = {"access_token": sign_jwt(claims, self.key, self.args.kid), "token_type": "Bearer",
                  "expires_in": self.lifetime, "scope": scope}
        if with_refresh:
            token = secrets.token_urlsafe(32)
            self.refresh[token] = {"client_id": client_id, "user": user, "scope": scope, "live": True}
            answer["refresh_token"] = token
        self.note_issued(answer)
        return answer

    def note_issued(self, answer):
        """Every token handed out, one per line, for tests that look for
        them where they must not be."""
        if not self.args.issued:
            return
        fd = os.open(self.args.issued, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o600)
        with os.fdopen(fd, "a", encoding="utf-8") as f:
            for key in ("access_token", "refresh_token"):
                if key in answer:
                    f.write(answer[key] + "\n")

    def new_device(self, client_id, scope, base):
        with self.lock:
            while True:
                raw = "".join(secrets.choice(USER_CODE_ALPHABET) for _ in range(8))
                user_code = raw[:4] + "-" + raw[4:]
                if all(d["user_code"] != user_code for d in self.devices.values()):
                    break
            device_code = secrets.token_urlsafe(24)
            now = time.monotonic()
            self.devices[device_code] = {"user_code": user_code, "client_id": client_id, "scope": scope,
                                         "expires": now + self.args.device_lifetime, "status": "pending",
                                         "last_poll": now, "interval": self.args.interval}
        return {"device_code": device_code, "user_code": user_code, "verification_uri": base + "/activate",
                "verification_uri_complete": base + "/activate?" + urllib.parse.urlencode({"user_code": user_code}),
                "expires_in": int(self.args.device_lifetime), "interval": int(self.args.interval)}

    def decide(self, user_code, status):
        """Approves or denies the pending device code `user_code` (all
        pending ones when None); the user codes changed."""
        changed = []
        with self.lock:
            for d in self.devices.values():
                if d["status"] == "pending" and (user_code is None or d["user_code"] == user_code.upper()):
                    d["status"] = status
                    changed.append(d["user_code"])
        return changed


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TestOAuth/1.0"
    # A client that stalls is dropped after this long.
    timeout = 10

    def log_message(self, fmt, *args):
        pass

    @property
    def state(self):
        return self.server.state

    def base_url(self):
        scheme = "https" if self.server.tls else "http"
        return "%s://127.0.0.1:%d" % (scheme, self.server.server_address[1])

    # --- answers

    def send(self, status, body, content_type="application/json", headers=()):
        data = body if isinstance(body, bytes) else body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.send_header("Pragma", "no-cache")
        if self.close_connection:
            self.send_header("Connection", "close")
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def send_json(self, status, obj, headers=()):
        self.send(status, json.dumps(obj), headers=headers)

    def send_error_json(self, err, record, headers=()):
        record.update(outcome=err.error, status=err.status)
        self.state.log(record)
        self.send_json(err.status, {"error": err.error, "error_description": err.description}, headers)

    # --- request parsing

    def query(self):
        raw = urllib.parse.urlsplit(self.path).query
        if len(raw) > MAX_QUERY:
            raise OAuthError("invalid_request", "query too long")
        return self.parse_form(raw)

    @staticmethod
    def parse_form(raw):
        try:
            pairs = urllib.parse.parse_qsl(raw, keep_blank_values=True, strict_parsing=False,
                                           encoding="utf-8", errors="strict", max_num_fields=100)
        except (ValueError, UnicodeDecodeError):
            raise OAuthError("invalid_request", "malformed parameters")
        out = {}
        for name, value in pairs:
            if name in out:
                raise OAuthError("invalid_request", "parameter %s given twice" % name)
            out[name] = value
        return out

    def read_body(self, require_form=True):
        length = self.headers.get("Content-Length")
        if self.headers.get("Transfer-Encoding"):
            raise OAuthError("invalid_request", "chunked bodies are not accepted")
        if length is None:
            if require_form:
                raise OAuthError("invalid_request", "Content-Length is required")
            return {}
        try:
            size = int(length)
        except ValueError:
            raise OAuthError("invalid_request", "bad Content-Length")
        if size < 0 or size > MAX_BODY:
            raise OAuthError("invalid_request", "body too large")
        data = self.rfile.read(size)
        if len(data) != size:
            raise OAuthError("invalid_request", "body cut short")
        ctype = self.headers.get("Content-Type", "").split(";")[0].strip().lower()
        if ctype != "application/x-www-form-urlencoded":
            if require_form or data:
                raise OAuthError("invalid_request", "Content-Type must be application/x-www-form-urlencoded")
            return {}
        try:
            text = data.decode("ascii")
        except UnicodeDecodeError:
            raise OAuthError("invalid_request", "body is not form-encoded")
        return self.parse_form(text)

    def client(self, form):
        """The authenticated client id: from HTTP Basic or the body, with
        its secret when the server requires one."""
        header = self.headers.get("Authorization")
        basic = None
        if header:
            scheme, _, value = header.partition(" ")
            if scheme.lower() != "basic":
                raise OAuthError("invalid_client", "unsupported client authentication", 401)
            try:
                decoded = base64.b64decode(value.strip(), validate=True).decode("utf-8")
                cid, sep, secret = decoded.partition(":")
                if not sep:
                    raise ValueError
                basic = (urllib.parse.unquote_plus(cid), urllib.parse.unquote_plus(secret))
            except ValueError:
                raise OAuthError("invalid_client", "malformed Basic credentials", 401)
            if "client_secret" in form:
                raise OAuthError("invalid_request", "client authenticated twice")
            if "client_id" in form and form["client_id"] != basic[0]:
                raise OAuthError("invalid_request", "client_id differs from the Basic credentials")
            client_id, secret = basic
        else:
            client_id, secret = form.get("client_id"), form.get("client_secret")
        if not client_id:
            raise OAuthError("invalid_client", "client_id missing", 401)
        if client_id != self.state.args.client_id:
            raise OAuthError("invalid_client", "unknown client", 401)
        expected = self.state.client_secret
        if expected is not None:
            if secret is None or not hmac.compare_digest(secret.encode("utf-8"), expected):
                raise OAuthError("invalid_client", "client authentication failed", 401)
        return client_id

    # --- dispatch

    def do_GET(self):
        self.dispatch({"/authorize": self.authorize, "/activate": self.activate})

    def do_HEAD(self):
        self.do_GET()

    def do_POST(self):
        self.dispatch({"/device": self.device, "/token": self.token, "/activate": self.activate,
                       "/control/approve": self.control_approve, "/control/deny": self.control_deny,
                       "/control/revoke": self.control_revoke, "/control/lifetime": self.control_lifetime})

    def dispatch(self, routes):
        path = urllib.parse.urlsplit(self.path).path
        route = routes.get(path)
        record = {"endpoint": path, "method": self.command}
        if route is None:
            self.close_connection = True
            self.state.log(dict(record, outcome="not_found", status=404))
            self.send_json(404, {"error": "not_found", "error_description": "no such endpoint"})
            return
        try:
            route(record)
        except OAuthError as err:
            # The body may be left unread: the connection ends with this answer.
            self.close_connection = True
            headers = [("WWW-Authenticate", 'Basic realm="test"')] if err.status == 401 else ()
            self.send_error_json(err, record, headers)
        except (ConnectionError, TimeoutError):
            self.close_connection = True

    # --- endpoints

    def device(self, record):
        form = self.read_body()
        client_id = self.client(form)
        scope = form.get("scope", "")
        record.update(client_id=client_id, scope=scope)
        answer = self.state.new_device(client_id, scope, self.base_url())
        self.state.log(dict(record, outcome="ok", status=200, user_code=answer["user_code"]))
        self.send_json(200, answer)

    def activate(self, record):
        params = self.query()
        if self.command == "POST":
            params.update(self.read_body(require_form=False))
        user_code = params.get("user_code")
        if not user_code:
            self.state.log(dict(record, outcome="page", status=200))
            self.send(200, "<html><body><form method=post action=/activate>Code: <input name=user_code>"
                      "<input type=submit></form></body></html>", "text/html; charset=utf-8")
            return
        changed = self.state.decide(user_code, "approved")
        record.update(user_code=user_code)
        if not changed:
            self.state.log(dict(record, outcome="unknown_code", status=404))
            self.send(404, "<html><body>Unknown or used code.</body></html>", "text/html; charset=utf-8")
            return
        self.state.log(dict(record, outcome="ok", status=200))
        self.send(200, "<html><body>Device approved.</body></html>", "text/html; charset=utf-8")

    def authorize(self, record):
        params = self.query()
        redirect_uri = params.get("redirect_uri", "")
        record.update(client_id=params.get("client_id"), redirect_uri=redirect_uri, scope=params.get("scope"),
                      login_hint=params.get("login_hint"))
        # Without a known client and a good redirect URI nothing is redirected.
        if params.get("client_id") != self.state.args.client_id:
            raise OAuthError("invalid_client", "unknown client")
        if not is_loopback_redirect(redirect_uri):
            raise OAuthError("invalid_request", "redirect_uri must be http on a loopback IP literal with a port")
        state = params.get("state")

        def redirect(query, outcome):
            if state is not None:
                query["state"] = state
            sep = "&" if urllib.parse.urlsplit(redirect_uri).query else "?"
            self.state.log(dict(record, outcome=outcome, status=302))
            self.send(302, b"", "text/plain", [("Location", redirect_uri + sep + urllib.parse.urlencode(query))])

        def refuse(error, description):
            redirect({"error": error, "error_description": description}, error)

        if params.get("response_type") != "code":
            return refuse("unsupported_response_type", "only response_type=code")
        if params.get("code_challenge_method") != "S256":
            return refuse("invalid_request", "code_challenge_method must be S256")
        challenge = params.get("code_challenge", "")
        if not CHALLENGE_RE.match(challenge):
            return refuse("invalid_request", "code_challenge missing or malformed")
        code = secrets.token_urlsafe(24)
        with self.state.lock:
            self.state.codes[code] = {"client_id": params["client_id"], "redirect_uri": redirect_uri,
                                      "challenge": challenge, "scope": params.get("scope", ""),
                                      "expires": time.monotonic() + self.state.args.code_lifetime, "used": False}
        redirect({"code": code}, "ok")

    def token(self, record):
        form = self.read_body()
        grant_type = form.get("grant_type")
        record.update(grant_type=grant_type)
        client_id = self.client(form)
        record.update(client_id=client_id)
        grants = {"urn:ietf:params:oauth:grant-type:device_code": self.grant_device,
                  "authorization_code": self.grant_code, "refresh_token": self.grant_refresh}
        if not grant_type:
            raise OAuthError("invalid_request", "grant_type missing")
        if grant_type not in grants:
            raise OAuthError("unsupported_grant_type", "unknown grant_type")
        answer = grants[grant_type](form, client_id, record)
        self.state.log(dict(record, outcome="ok", status=200))
        self.send_json(200, answer)

    def grant_device(self, form, client_id, record):
        device_code = form.get("device_code")
        if not device_code:
            raise OAuthError("invalid_request", "device_code missing")
        st = self.state
        with st.lock:
            d = st.devices.get(device_code)
            if d is None or d["client_id"] != client_id:
                raise OAuthError("invalid_grant", "unknown device_code")
            record.update(user_code=d["user_code"])
            now = time.monotonic()
            if d["status"] == "used":
                raise OAuthError("invalid_grant", "device_code already used")
            if now > d["expires"]:
                raise OAuthError("expired_token", "device_code expired")
            # A little slack for the clock of the request's journey.
            too_fast = now - d["last_poll"] < d["interval"] - 0.05
            d["last_poll"] = now
            if too_fast:
                d["interval"] += st.args.slow_down_step
                record.update(interval=d["interval"])
                raise OAuthError("slow_down", "polling faster than every %g s" % d["interval"])
            if d["status"] == "denied":
                d["status"] = "used"
                raise OAuthError("access_denied", "the user refused")
            if d["status"] == "pending":
                raise OAuthError("authorization_pending", "the user has not approved yet")
            d["status"] = "used"
            return st.issue(client_id, d["scope"])

    def grant_code(self, form, client_id, record):
        code, verifier, redirect_uri = form.get("code"), form.get("code_verifier"), form.get("redirect_uri")
        if not code:
            raise OAuthError("invalid_request", "code missing")
        if not verifier:
            raise OAuthError("invalid_request", "code_verifier missing")
        if not VERIFIER_RE.match(verifier):
            raise OAuthError("invalid_request", "code_verifier malformed")
        st = self.state
        with st.lock:
            c = st.codes.get(code)
            if c is None or c["client_id"] != client_id:
                raise OAuthError("invalid_grant", "unknown code")
            if c["used"]:
                raise OAuthError("invalid_grant", "code already used")
            # A code is spent by any attempt to redeem it.
            c["used"] = True
            if time.monotonic() > c["expires"]:
                raise OAuthError("invalid_grant", "code expired")
            if redirect_uri != c["redirect_uri"]:
                raise OAuthError("invalid_grant", "redirect_uri differs from the authorization request")
            if not hmac.compare_digest(s256(verifier), c["challenge"]):
                raise OAuthError("invalid_grant", "code_verifier does not match the challenge")
            return st.issue(client_id, c["scope"])

    def grant_refresh(self, form, client_id, record):
        token = form.get("refresh_token")
        if not token:
            raise OAuthError("invalid_request", "refresh_token missing")
        st = self.state
        with st.lock:
            r = st.refresh.get(token)
            if r is None or r["client_id"] != client_id:
                raise OAuthError("invalid_grant", "unknown refresh_token")
            if not r["live"]:
                raise OAuthError("invalid_grant", "refresh_token revoked or replaced")
            scope = form.get("scope", r["scope"])
            if not set(scope.split()) <= set(r["scope"].split()):
                raise OAuthError("invalid_scope", "scope wider than granted")
            rotate = st.args.rotate_refresh
            record.update(rotated=rotate)
            if rotate:
                r["live"] = False
            return st.issue(client_id, scope, with_refresh=rotate, user=r["user"])

    # --- control

    def control_params(self):
        params = self.query()
        params.update(self.read_body(require_form=False))
        return params

    def control_decide(self, record, status):
        user_code = self.control_params().get("user_code")
        changed = self.state.decide(user_code, status)
        record.update(user_code=user_code, changed=changed)
        if user_code and not changed:
            raise OAuthError("invalid_request", "no pending device code %s" % user_code)
        self.state.log(dict(record, outcome="ok", status=200))
        self.send_json(200, {"ok": True, "user_codes": changed})

    def control_approve(self, record):
        self.control_decide(record, "approved")

    def control_deny(self, record):
        self.control_decide(record, "denied")

    def control_revoke(self, record):
        user = self.control_params().get("user") or self.state.args.user
        with self.state.lock:
            revoked = 0
            for r in self.state.refresh.values():
                if r["user"] == user and r["live"]:
                    r["live"] = False
                    revoked += 1
        self.state.log(dict(record, user=user, revoked=revoked, outcome="ok", status=200))
        self.send_json(200, {"ok": True, "revoked": revoked})

    def control_lifetime(self, record):
        value = self.control_params().get("seconds", "")
        if not value.isdigit() or not 1 <= int(value) <= 10 ** 7:
            raise OAuthError("invalid_request", "seconds must be a whole number from 1")
        with self.state.lock:
            self.state.lifetime = int(value)
        self.state.log(dict(record, seconds=int(value), outcome="ok", status=200))
        self.send_json(200, {"ok": True, "seconds": int(value)})


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    tls = None

    def finish_request(self, request, client_address):
        # The TLS handshake runs in the request's own thread, under the
        # handler's time limit, so a stalled client holds up nobody else.
        if self.tls:
            request.settimeout(Handler.timeout)
            try:
                request = self.tls.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError):
                request.close()
                return
        super().finish_request(request, client_address)


def parse_args(argv):
    ap = argparse.ArgumentParser(description="OAuth 2.0 authorization server for tests")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--key-file", required=True, help="HS256 signing key (the file's bytes)")
    ap.add_argument("--client-id", required=True)
    ap.add_argument("--client-secret-file", help="require this secret (the file's first line)")
    ap.add_argument("--user", required=True, help="the user every grant is for (sub)")
    ap.add_argument("--email", help="the email claim (default: the user)")
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--issuer", help="iss claim (default: this server's base URL)")
    ap.add_argument("--kid", help="kid header of the tokens")
    ap.add_argument("--interval", type=int, default=1, help="device polling interval, seconds")
    ap.add_argument("--slow-down-step", type=int, default=5, help="interval growth on slow_down")
    ap.add_argument("--device-lifetime", type=float, default=600, help="device code lifetime, seconds")
    ap.add_argument("--code-lifetime", type=float, default=60, help="authorization code lifetime, seconds")
    ap.add_argument("--lifetime", type=int, default=3600, help="access token lifetime, seconds")
    ap.add_argument("--rotate-refresh", action="store_true", help="a refresh grant replaces the refresh token")
    ap.add_argument("--log", help="JSON-lines request log")
    ap.add_argument("--issued", help="append every token issued to this file, one per line")
    ap.add_argument("--watch-stdin", action="store_true", help="exit at end of stdin")
    ap.add_argument("--max-runtime", type=float, default=0)
    args = ap.parse_args(argv)
    if bool(args.cert) != bool(args.key):
        ap.error("--cert and --key go together")
    return args


def main(argv=None):
    args = parse_args(argv)
    with open(args.key_file, "rb") as f:
        key = f.read()
    if not key:
        print("oauth_server: the key file is empty", file=sys.stderr)
        return 2
    secret = None
    if args.client_secret_file:
        with open(args.client_secret_file, "rb") as f:
            secret = f.read().split(b"\n")[0].rstrip(b"\r")
    server = Server(("127.0.0.1", args.port), Handler)
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.tls = context
    port = server.server_address[1]
    if not args.issuer:
        args.issuer = "%s://127.0.0.1:%d" % ("https" if args.cert else "http", port)
    server.state = State(args, key, secret)

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True).start()
    if args.watch_stdin:
        def watch():
            while sys.stdin.buffer.read(4096):
                pass
            stop.set()
        threading.Thread(target=watch, daemon=True).start()
    print("PORT %d" % port, flush=True)
    stop.wait(args.max_runtime if args.max_runtime > 0 else None)
    server.shutdown()
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
