"""Self-tests of the OAuth peers: oauth_server.py through its HTTP
endpoints, a Dovecot configured as tests/integration/dovecot.h does with
SetOAuth(), and smtp_sink.py in its OAuth mode, all on 127.0.0.1."""

import base64
import hashlib
import hmac
import http.client
import json
import os
import secrets
import select
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import oauth_server  # noqa: E402

SYSTEM_PYTHON = "/usr/bin/python3"
DOVECOT = "/usr/sbin/dovecot"
DEVICE_GRANT = "urn:ietf:params:oauth:grant-type:device_code"
CLIENT = "tessly-test"
USER = "alice"


def b64(data):
    return base64.b64encode(data).decode("ascii")


def decode_jwt(token, key):
    """The claims of a token after checking its HS256 signature."""
    head, body, sig = token.split(".")
    expected = oauth_server.b64url(hmac.new(key, (head + "." + body).encode(), hashlib.sha256).digest())
    assert sig == expected, "bad signature"
    return json.loads(base64.urlsafe_b64decode(body + "=" * (-len(body) % 4)))


def xoauth2(user, token):
    return b64(("user=%s\x01auth=Bearer %s\x01\x01" % (user, token)).encode())


def oauthbearer(user, token):
    authzid = "a=%s" % user if user else ""
    return b64(("n,%s,\x01host=127.0.0.1\x01auth=Bearer %s\x01\x01" % (authzid, token)).encode())


def read_port(proc, what):
    ready, _, _ = select.select([proc.stdout], [], [], 10)
    if not ready:
        proc.kill()
        raise AssertionError("%s did not announce its port" % what)
    line = proc.stdout.readline().decode()
    if not line.startswith("PORT "):
        proc.kill()
        raise AssertionError("%s said %r" % (what, line))
    return int(line.split()[1])


def wait_for_port(port, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_certificate(directory):
    """A self-signed certificate and key for 127.0.0.1; None without openssl."""
    if not shutil.which("openssl"):
        return None
    cert, key = os.path.join(directory, "cert.pem"), os.path.join(directory, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1"],
                   check=True, capture_output=True)
    return cert, key


class TokenServer:
    """One oauth_server.py process and a client for it."""

    def __init__(self, directory, key_file, *args, tls=None):
        self.log = os.path.join(directory, "oauth-%s.jsonl" % secrets.token_hex(4))
        command = [sys.executable, os.path.join(HERE, "oauth_server.py"), "--key-file", key_file, "--client-id",
                   CLIENT, "--user", USER, "--log", self.log, "--watch-stdin", "--max-runtime", "60"]
        if tls:
            command += ["--cert", tls[0], "--key", tls[1]]
        self.proc = subprocess.Popen(command + list(args), stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.port = read_port(self.proc, "oauth_server")
        self.tls = tls

    def close(self):
        self.proc.stdin.close()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()

    def request(self, method, path, fields=None, headers=None, content_type="application/x-www-form-urlencoded"):
        if self.tls:
            conn = http.client.HTTPSConnection("127.0.0.1", self.port, timeout=10,
                                               context=ssl._create_unverified_context())
        else:
            conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        body = urllib.parse.urlencode(fields) if fields is not None else None
        all_headers = dict(headers or {})
        if body is not None:
            all_headers["Content-Type"] = content_type
        conn.request(method, path, body, all_headers)
        response = conn.getresponse()
        data = response.read()
        conn.close()
        parsed = json.loads(data) if response.getheader("Content-Type") == "application/json" else data
        return response.status, parsed, response

    def token(self, **fields):
        fields.setdefault("client_id", CLIENT)
        return self.request("POST", "/token", fields)

    def control(self, name, **fields):
        status, answer, _ = self.request("POST", "/control/" + name, fields)
        assert status == 200, answer
        return answer

    def authorize(self, verifier, redirect="http://127.0.0.1:4711/cb", **extra):
        query = {"response_type": "code", "client_id": CLIENT, "redirect_uri": redirect, "state": "st8",
                 "scope": "mail", "code_challenge": oauth_server.s256(verifier), "code_challenge_method": "S256"}
        query.update(extra)
        query = {k: v for k, v in query.items() if v is not None}
        return self.request("GET", "/authorize?" + urllib.parse.urlencode(query))

    def code_grant(self, verifier=None):
        """Tokens through the authorization code grant."""
        verifier = verifier or secrets.token_urlsafe(48)
        status, _, response = self.authorize(verifier)
        assert status == 302, status
        code = urllib.parse.parse_qs(urllib.parse.urlsplit(response.getheader("Location")).query)["code"][0]
        status, answer, _ = self.token(grant_type="authorization_code", code=code, code_verifier=verifier,
                                       redirect_uri="http://127.0.0.1:4711/cb")
        assert status == 200, answer
        return answer

    def records(self):
        with open(self.log, encoding="utf-8") as f:
            return [json.loads(line) for line in f]


class PeersTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = cls.tmp.name
        os.chmod(cls.dir, 0o755)
        cls.key = secrets.token_bytes(32)
        cls.key_file = os.path.join(cls.dir, "jwt.key")
        with open(cls.key_file, "wb") as f:
            f.write(cls.key)
        os.chmod(cls.key_file, 0o600)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def server(self, *args, **kwargs):
        server = TokenServer(self.dir, self.key_file, *args, **kwargs)
        self.addCleanup(server.close)
        return server


class DeviceGrantTest(PeersTestCase):
    def test_pending_slow_down_approve_token(self):
        srv = self.server("--interval", "1", "--slow-down-step", "1", "--lifetime", "900")
        status, dev, response = srv.request("POST", "/device", {"client_id": CLIENT, "scope": "mail offline"})
        self.assertEqual(200, status)
        self.assertEqual("no-store", response.getheader("Cache-Control"))
        self.assertEqual(1, dev["interval"])
        self.assertTrue(dev["verification_uri_complete"].startswith(dev["verification_uri"] + "?user_code="))
        poll = {"grant_type": DEVICE_GRANT, "device_code": dev["device_code"]}
        # Polled at once, before the interval: slow down, and the interval grows to 2 s.
        status, answer, _ = srv.token(**poll)
        self.assertEqual((400, "slow_down"), (status, answer["error"]))
        time.sleep(2.05)
        status, answer, _ = srv.token(**poll)
        self.assertEqual((400, "authorization_pending"), (status, answer["error"]))
        self.assertEqual([dev["user_code"]], srv.control("approve", user_code=dev["user_code"])["user_codes"])
        time.sleep(2.05)
        status, answer, _ = srv.token(**poll)
        self.assertEqual(200, status, answer)
        self.assertEqual("Bearer", answer["token_type"])
        self.assertIn("refresh_token", answer)
        access_token = answer["access_token"]
        claims = decode_jwt(access_token, self.key)
        self.assertEqual((CLIENT, USER, USER, "mail offline", 900),
                         (claims["aud"], claims["sub"], claims["email"], claims["scope"],
                          claims["exp"] - claims["iat"]))
        self.assertEqual("http://127.0.0.1:%d" % srv.port, claims["iss"])
        # A device code gives tokens once.
        status, answer, _ = srv.token(**poll)
        self.assertEqual("invalid_grant", answer["error"])
        outcomes = [(r["endpoint"], r.get("grant_type"), r["outcome"]) for r in srv.records()]
        self.assertEqual([("/device", None, "ok"), ("/token", DEVICE_GRANT, "slow_down"),
                          ("/token", DEVICE_GRANT, "authorization_pending"), ("/control/approve", None, "ok"),
                          ("/token", DEVICE_GRANT, "ok"), ("/token", DEVICE_GRANT, "invalid_grant")], outcomes)
        with open(srv.log, encoding="utf-8") as f:
            self.assertNotIn(access_token, f.read())

    def test_denied_and_expired_codes(self):
        srv = self.server("--interval", "1", "--device-lifetime", "2")
        codes = [srv.request("POST", "/device", {"client_id": CLIENT})[1] for _ in range(2)]
        srv.control("deny", user_code=codes[0]["user_code"])
        time.sleep(1.1)
        cases = [(codes[0], "access_denied", 0), (codes[1], "expired_token", 1.0)]
        for code, error, wait in cases:
            time.sleep(wait)
            status, answer, _ = srv.token(grant_type=DEVICE_GRANT, device_code=code["device_code"])
            self.assertEqual((400, error), (status, answer["error"]))

    def test_activation_page_approves_over_tls(self):
        certs = make_certificate(self.dir)
        if not certs:
            self.skipTest("no openssl")
        srv = self.server("--interval", "1", tls=certs)
        _, dev, _ = srv.request("POST", "/device", {"client_id": CLIENT})
        self.assertTrue(dev["verification_uri"].startswith("https://127.0.0.1:"))
        path = urllib.parse.urlsplit(dev["verification_uri_complete"])
        self.assertEqual(200, srv.request("GET", path.path + "?" + path.query)[0])
        time.sleep(1.05)
        status, answer, _ = srv.token(grant_type=DEVICE_GRANT, device_code=dev["device_code"])
        self.assertEqual(200, status, answer)


class CodeGrantTest(PeersTestCase):
    def test_authorize_refusals(self):
        srv = self.server()
        verifier = secrets.token_urlsafe(48)
        # (what differs, HTTP status, error in the redirect or the body)
        cases = [
            ({"redirect_uri": "http://example.com:4711/cb"}, 400, "invalid_request"),
            ({"redirect_uri": "http://localhost:4711/cb"}, 400, "invalid_request"),
            ({"redirect_uri": "https://127.0.0.1:4711/cb"}, 400, "invalid_request"),
            ({"redirect_uri": "http://127.0.0.1/cb"}, 400, "invalid_request"),
            ({"client_id": "other"}, 400, "invalid_client"),
            ({"code_challenge": None, "code_challenge_method": None}, 302, "invalid_request"),
            ({"code_challenge_method": "plain"}, 302, "invalid_request"),
            ({"code_challenge": "short"}, 302, "invalid_request"),
            ({"response_type": "token"}, 302, "unsupported_response_type"),
        ]
        for extra, status, error in cases:
            with self.subTest(extra=extra):
                got, body, response = srv.authorize(verifier, **extra)
                self.assertEqual(status, got)
                if status == 302:
                    query = urllib.parse.parse_qs(urllib.parse.urlsplit(response.getheader("Location")).query)
                    self.assertEqual(([error], ["st8"]), (query["error"], query["state"]))
                    self.assertNotIn("code", query)
                else:
                    self.assertEqual(error, body["error"])
        ok, _, response = srv.authorize(verifier, redirect="http://[::1]:4711/cb", login_hint="alice")
        self.assertEqual(302, ok)
        self.assertTrue(response.getheader("Location").startswith("http://[::1]:4711/cb?code="))

    def test_verifier_redirect_and_single_use(self):
        srv = self.server()

        def new_code(verifier):
            _, _, response = srv.authorize(verifier)
            query = urllib.parse.parse_qs(urllib.parse.urlsplit(response.getheader("Location")).query)
            self.assertEqual(["st8"], query["state"])
            return query["code"][0]

        good = secrets.token_urlsafe(48)
        redirect = "http://127.0.0.1:4711/cb"
        spent = new_code(good)
        # (code, verifier, redirect_uri, outcome): a code is spent by any try.
        cases = [
            (spent, secrets.token_urlsafe(48), redirect, "invalid_grant"),
            (spent, good, redirect, "invalid_grant"),
            (new_code(good), good, "http://127.0.0.1:4712/cb", "invalid_grant"),
            (new_code(good), "too-short", redirect, "invalid_request"),
            (new_code(good), good, redirect, None),
        ]
        for code, verifier, uri, error in cases:
            status, answer, _ = srv.token(grant_type="authorization_code", code=code, code_verifier=verifier,
                                          redirect_uri=uri)
            self.assertEqual(error, answer.get("error"), (verifier, uri))
            self.assertEqual(400 if error else 200, status)
        status, answer, _ = srv.token(grant_type="authorization_code", code=cases[-1][0], code_verifier=good,
                                      redirect_uri=redirect)
        self.assertEqual("invalid_grant", answer["error"])

    def test_token_request_form_and_client_authentication(self):
        secret_file = os.path.join(self.dir, "client-secret")
        with open(secret_file, "w") as f:
            f.write("s3cret\n")
        srv = self.server("--client-secret-file", secret_file)
        refresh = {"grant_type": "refresh_token", "refresh_token": "unknown"}
        basic = {"Authorization": "Basic " + b64(("%s:s3cret" % CLIENT).encode())}
        wrong = {"Authorization": "Basic " + b64(("%s:nope" % CLIENT).encode())}
        # (fields, headers, content type, status, error)
        cases = [
            (dict(refresh, client_id=CLIENT, client_secret="s3cret"), {}, None, 400, "invalid_grant"),
            (refresh, basic, None, 400, "invalid_grant"),
            (dict(refresh, client_id=CLIENT), {}, None, 401, "invalid_client"),
            (dict(refresh, client_id=CLIENT, client_secret="nope"), {}, None, 401, "invalid_client"),
            (refresh, wrong, None, 401, "invalid_client"),
            (dict(refresh, client_secret="s3cret"), basic, None, 400, "invalid_request"),
            (dict(refresh, client_id=CLIENT, client_secret="s3cret"), {}, "application/json", 400,
             "invalid_request"),
            ({"client_id": CLIENT, "client_secret": "s3cret", "grant_type": "password"}, {}, None, 400,
             "unsupported_grant_type"),
        ]
        for fields, headers, ctype, status, error in cases:
            with self.subTest(fields=fields, headers=headers, ctype=ctype):
                got, answer, _ = srv.request("POST", "/token", fields, headers,
                                             ctype or "application/x-www-form-urlencoded")
                self.assertEqual((status, error), (got, answer["error"]))
                self.assertIn("error_description", answer)
        # A parameter given twice is refused.
        conn = http.client.HTTPConnection("127.0.0.1", srv.port, timeout=5)
        conn.request("POST", "/token", "grant_type=refresh_token&grant_type=refresh_token&client_id=" + CLIENT,
                     {"Content-Type": "application/x-www-form-urlencoded"})
        response = conn.getresponse()
        self.assertEqual((400, "invalid_request"), (response.status, json.loads(response.read())["error"]))
        conn.close()


class RefreshTest(PeersTestCase):
    def test_refresh_without_rotation_then_revocation(self):
        srv = self.server()
        first = srv.code_grant()
        for _ in range(2):
            status, answer, _ = srv.token(grant_type="refresh_token", refresh_token=first["refresh_token"])
            self.assertEqual(200, status, answer)
            self.assertNotIn("refresh_token", answer)
            self.assertNotEqual(first["access_token"], answer["access_token"])
        status, answer, _ = srv.token(grant_type="refresh_token", refresh_token=first["refresh_token"],
                                      scope="mail admin")
        self.assertEqual("invalid_scope", answer["error"])
        self.assertEqual(1, srv.control("revoke")["revoked"])
        status, answer, _ = srv.token(grant_type="refresh_token", refresh_token=first["refresh_token"])
        self.assertEqual((400, "invalid_grant"), (status, answer["error"]))

    def test_rotation_and_lifetime(self):
        srv = self.server("--rotate-refresh")
        old = srv.code_grant()["refresh_token"]
        srv.control("lifetime", seconds="2")
        status, answer, _ = srv.token(grant_type="refresh_token", refresh_token=old)
        self.assertEqual(200, status, answer)
        claims = decode_jwt(answer["access_token"], self.key)
        self.assertEqual((2, 2), (answer["expires_in"], claims["exp"] - claims["iat"]))
        new = answer["refresh_token"]
        self.assertNotEqual(old, new)
        self.assertEqual("invalid_grant", srv.token(grant_type="refresh_token", refresh_token=old)[1]["error"])
        self.assertEqual(200, srv.token(grant_type="refresh_token", refresh_token=new)[0])
        self.assertEqual(400, srv.request("POST", "/control/lifetime", {"seconds": "0"})[0])


class Line:
    """A line-based client for the POP3, IMAP and SMTP checks."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.file = self.sock.makefile("rwb")

    def read(self):
        return self.file.readline().decode("utf-8", "replace").rstrip("\r\n")

    def send(self, line):
        self.file.write(line.encode() + b"\r\n")
        self.file.flush()

    def ask(self, line):
        self.send(line)
        return self.read()

    def close(self):
        self.file.close()
        self.sock.close()


FAILURE_STATUS = {"XOAUTH2": "401", "OAUTHBEARER": "invalid_token"}


def failure_status(line, prefix):
    """The JSON status in a SASL failure challenge such as "+ <base64>"."""
    assert line.startswith(prefix), line
    return json.loads(base64.b64decode(line[len(prefix):]))["status"]


@unittest.skipUnless(os.access(DOVECOT, os.X_OK) and os.access("/usr/lib/dovecot/imap", os.X_OK),
                     "dovecot is not installed")
class DovecotTest(PeersTestCase):
    """Dovecot with the settings dovecot.h writes under SetOAuth()."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        d = cls.dir
        uid, gid = os.getuid(), os.getgid()
        if uid == 0:
            import pwd
            nobody = pwd.getpwnam("nobody")
            uid, gid = nobody.pw_uid, nobody.pw_gid
        for sub in ("new", "cur", "tmp"):
            os.makedirs(os.path.join(d, "mail", USER, sub))
        for sub in ("run", "state"):
            os.makedirs(os.path.join(d, sub))
        if os.getuid() == 0:
            for root, dirs, _ in os.walk(os.path.join(d, "mail")):
                os.chown(root, uid, gid)
        with open(os.path.join(d, "passwd"), "w") as f:
            f.write("%s:{PLAIN}pw-%s:%d:%d::%s/mail/%s\n" % (USER, USER, uid, gid, d, USER))
        key_dir = os.path.join(d, "oauth-keys", "default", "HS256")
        os.makedirs(key_dir)
        with open(os.path.join(key_dir, "default"), "w") as f:
            f.write(b64(cls.key))
        paths = [os.path.join(d, "oauth-keys"), os.path.join(d, "oauth-keys", "default"), key_dir]
        for path in paths:
            os.chmod(path, 0o750)
        os.chmod(os.path.join(key_dir, "default"), 0o640)
        if os.getuid() == 0:
            import grp
            for path in paths + [os.path.join(key_dir, "default")]:
                os.chown(path, 0, grp.getgrnam("dovecot").gr_gid)
        with open(os.path.join(d, "oauth2.conf.ext"), "w") as f:
            f.write("introspection_mode = local\nlocal_validation_key_dict = fs:posix:prefix=%s/oauth-keys/\n"
                    "username_attribute = sub\n" % d)
        cls.pop3, cls.imap = free_port(), free_port()
        conf = os.path.join(d, "dovecot.conf")
        with open(conf, "w") as f:
            f.write("base_dir = {d}/run\nstate_dir = {d}/state\nlog_path = {d}/dovecot.log\n"
                    "protocols = pop3 imap\nlisten = 127.0.0.1\nssl = no\n"
                    "disable_plaintext_auth = no\nauth_failure_delay = 0\n"
                    "mail_location = maildir:{d}/mail/%u\n"
                    "auth_mechanisms = plain login xoauth2 oauthbearer\n"
                    "passdb {{\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n"
                    "  args = {d}/oauth2.conf.ext\n}}\n"
                    "passdb {{\n  driver = passwd-file\n  mechanisms = plain login\n"
                    "  args = scheme=PLAIN {d}/passwd\n}}\n"
                    "userdb {{\n  driver = passwd-file\n  args = {d}/passwd\n}}\n"
                    "service pop3-login {{\n  inet_listener pop3 {{\n    address = 127.0.0.1\n"
                    "    port = {pop3}\n  }}\n  chroot =\n}}\n"
                    "service anvil {{\n  chroot =\n  unix_listener anvil-auth-penalty {{\n"
                    "    mode = 0\n  }}\n}}\n"
                    "service imap-login {{\n  inet_listener imap {{\n    address = 127.0.0.1\n"
                    "    port = {imap}\n  }}\n  inet_listener imaps {{\n    address = 127.0.0.1\n"
                    "    port = {imaps}\n  }}\n  chroot =\n}}\n".format(d=d, pop3=cls.pop3, imap=cls.imap,
                                                                    imaps=free_port()))
        cls.dovecot = subprocess.Popen([DOVECOT, "-F", "-c", conf], stdin=subprocess.DEVNULL)
        if not (wait_for_port(cls.pop3) and wait_for_port(cls.imap)):
            cls.tearDownClass()
            raise AssertionError("dovecot did not start")

    @classmethod
    def tearDownClass(cls):
        cls.dovecot.terminate()
        try:
            cls.dovecot.wait(5)
        except subprocess.TimeoutExpired:
            cls.dovecot.kill()
            cls.dovecot.wait()
        super().tearDownClass()

    def pop3_auth(self, mechanism, blob):
        c = Line(self.pop3)
        try:
            self.assertTrue(c.read().startswith("+OK"))
            line = c.ask("AUTH %s %s" % (mechanism, blob))
            if line.startswith("+OK"):
                return True
            self.assertEqual(FAILURE_STATUS[mechanism], failure_status(line, "+ "))
            self.assertTrue(c.ask("" if mechanism == "XOAUTH2" else b64(b"\x01")).startswith("-ERR"))
            return False
        finally:
            c.close()

    def imap_auth(self, mechanism, blob, initial=True):
        c = Line(self.imap)
        try:
            self.assertIn("AUTH=%s" % mechanism, c.read())
            if initial:
                line = c.ask("a1 AUTHENTICATE %s %s" % (mechanism, blob))
            else:
                self.assertEqual("+ ", c.ask("a1 AUTHENTICATE %s" % mechanism))
                line = c.ask(blob)
            if line.startswith("a1 OK"):
                return True
            self.assertEqual(FAILURE_STATUS[mechanism], failure_status(line, "+ "))
            self.assertTrue(c.ask("" if mechanism == "XOAUTH2" else b64(b"\x01")).startswith("a1 NO"))
            return False
        finally:
            c.close()

    def sign_ins(self, user, token):
        """Whether each way of presenting the token signs in."""
        return {"pop3 xoauth2": self.pop3_auth("XOAUTH2", xoauth2(user, token)),
                "pop3 oauthbearer": self.pop3_auth("OAUTHBEARER", oauthbearer(user, token)),
                "imap xoauth2": self.imap_auth("XOAUTH2", xoauth2(user, token)),
                "imap oauthbearer": self.imap_auth("OAUTHBEARER", oauthbearer(user, token), initial=False)}

    def test_tokens_accepted_and_refused(self):
        srv = self.server()
        good = srv.code_grant()["access_token"]
        claims = decode_jwt(good, self.key)
        forged = oauth_server.sign_jwt(claims, b"another key of thirty-two bytes!")
        other_user = oauth_server.sign_jwt(dict(claims, sub="bob"), self.key)
        unsigned = good.rsplit(".", 1)[0] + "."
        # (case, user named in SASL, token, signs in)
        cases = [("fresh token", USER, good, True), ("forged signature", USER, forged, False),
                 ("token of another user", USER, other_user, False), ("user differs", "bob", good, False),
                 ("no signature", USER, unsigned, False), ("password as token", USER, "pw-alice", False)]
        for name, user, token, ok in cases:
            with self.subTest(name):
                self.assertEqual({k: ok for k in ("pop3 xoauth2", "pop3 oauthbearer", "imap xoauth2",
                                                  "imap oauthbearer")}, self.sign_ins(user, token))
        c = Line(self.pop3)
        c.read()
        self.assertTrue(c.ask("AUTH PLAIN " + b64(b"\0alice\0pw-alice")).startswith("+OK"))
        c.close()

    def test_short_lived_token_expires(self):
        srv = self.server()
        srv.control("lifetime", seconds="2")
        token = srv.code_grant()["access_token"]
        exp = decode_jwt(token, self.key)["exp"]
        self.assertTrue(self.pop3_auth("XOAUTH2", xoauth2(USER, token)))
        time.sleep(max(0, exp + 1.1 - time.time()))
        self.assertFalse(self.pop3_auth("XOAUTH2", xoauth2(USER, token)))
        self.assertFalse(self.imap_auth("OAUTHBEARER", oauthbearer(USER, token)))


def aiosmtpd_available():
    return os.access(SYSTEM_PYTHON, os.X_OK) and subprocess.run(
        [SYSTEM_PYTHON, "-c", "import aiosmtpd"], capture_output=True).returncode == 0


@unittest.skipUnless(aiosmtpd_available(), "aiosmtpd is not installed")
class SinkTest(PeersTestCase):
    def sink(self, *args):
        port = free_port()
        out = os.path.join(self.dir, "sink-%d.jsonl" % port)
        proc = subprocess.Popen([SYSTEM_PYTHON, os.path.join(HERE, "smtp_sink.py"), str(port), out] + list(args),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

        def stop():
            proc.terminate()
            proc.wait(5)
            proc.stdout.close()

        self.addCleanup(stop)
        ready, _, _ = select.select([proc.stdout], [], [], 10)
        self.assertTrue(ready and proc.stdout.readline() == b"READY\n")
        return port, out

    def session(self, port):
        c = Line(port)
        self.assertTrue(c.read().startswith("220"))
        c.send("EHLO tester")
        ehlo = []
        while True:
            line = c.read()
            ehlo.append(line)
            if not line.startswith("250-"):
                break
        return c, ehlo

    def send_mail(self, c):
        for line, code in (("MAIL FROM:<a@example.org>", "250"), ("RCPT TO:<b@example.org>", "250"),
                           ("DATA", "354")):
            self.assertTrue(c.ask(line).startswith(code))
        self.assertTrue(c.ask("Subject: t\r\n\r\nhello\r\n.").startswith("250"))

    def test_tokens_in_clear(self):
        port, out = self.sink("--oauth-key=" + self.key_file, "--oauth-user=" + USER)
        now = int(time.time())
        claims = {"iss": "x", "aud": CLIENT, "sub": USER, "email": USER, "iat": now, "exp": now + 60}
        good = oauth_server.sign_jwt(claims, self.key)
        # A token beyond the usual 1000-octet SMTP line.
        long_token = oauth_server.sign_jwt(dict(claims, pad="x" * 3000), self.key)
        expired = oauth_server.sign_jwt(dict(claims, iat=now - 100, exp=now - 10), self.key)
        forged = oauth_server.sign_jwt(claims, b"k" * 32)
        bob = oauth_server.sign_jwt(dict(claims, sub="bob", email="bob"), self.key)
        # (mechanism, initial response or None for a two-step exchange, the
        # second step, the failure acknowledgement, the final reply code)
        cases = [
            ("XOAUTH2", xoauth2(USER, good), None, None, "235"),
            ("XOAUTH2", None, xoauth2(USER, good), None, "235"),
            ("OAUTHBEARER", oauthbearer(USER, good), None, None, "235"),
            ("OAUTHBEARER", oauthbearer(None, long_token), None, None, "235"),
            ("XOAUTH2", xoauth2(USER, expired), None, "", "535"),
            ("XOAUTH2", xoauth2("bob", good), None, "", "535"),
            ("OAUTHBEARER", oauthbearer(USER, forged), None, b64(b"\x01"), "535"),
            ("OAUTHBEARER", oauthbearer(None, bob), None, b64(b"\x01"), "535"),
            ("OAUTHBEARER", oauthbearer(USER, expired), None, "", "501"),
            ("OAUTHBEARER", b64(b"n,,auth=Bearer x"), None, None, "501"),
        ]
        for mechanism, initial, second, ack, final in cases:
            with self.subTest(mechanism=mechanism, initial=initial, second=second):
                c, ehlo = self.session(port)
                self.assertIn("250-AUTH OAUTHBEARER XOAUTH2", ehlo)
                self.assertTrue(c.ask("MAIL FROM:<a@example.org>").startswith("530"))
                if initial:
                    line = c.ask("AUTH %s %s" % (mechanism, initial))
                else:
                    self.assertEqual("334 ", c.ask("AUTH " + mechanism))
                    line = c.ask(second)
                if ack is not None:
                    self.assertEqual(FAILURE_STATUS[mechanism], failure_status(line, "334 "))
                    line = c.ask(ack)
                self.assertEqual(final, line[:3], line)
                if final == "235":
                    self.send_mail(c)
                    with open(out) as f:
                        record = json.loads(f.readlines()[-1])
                    self.assertEqual((USER, mechanism), (record["auth_user"], record["auth_mechanism"]))
                c.close()

    def test_tls_with_password_beside_tokens(self):
        certs = make_certificate(self.dir)
        if not certs:
            self.skipTest("no openssl")
        port, out = self.sink(certs[0], "--oauth-key=" + self.key_file, certs[1], "%s:pw" % USER)
        c, ehlo = self.session(port)
        self.assertFalse(any("AUTH" in line for line in ehlo))
        self.assertTrue(c.ask("STARTTLS").startswith("220"))
        tls = ssl._create_unverified_context().wrap_socket(c.sock, server_hostname="127.0.0.1")
        c.sock, c.file = tls, tls.makefile("rwb")
        c.send("EHLO tester")
        lines = [c.read()]
        while lines[-1].startswith("250-"):
            lines.append(c.read())
        self.assertIn("250-AUTH LOGIN OAUTHBEARER PLAIN XOAUTH2", lines)
        self.assertTrue(c.ask("AUTH PLAIN " + b64(b"\0alice\0pw")).startswith("235"))
        self.send_mail(c)
        c.close()
        with open(out) as f:
            record = json.loads(f.readline())
        self.assertEqual((USER, "PLAIN"), (record["auth_user"], record["auth_mechanism"]))


if __name__ == "__main__":
    unittest.main()
