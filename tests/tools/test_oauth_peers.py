"""Self-tests of the OAuth peers on 127.0.0.1: oauth_server.py through its
endpoints, a Dovecot with the settings dovecot.h writes under SetOAuth(),
and smtp_sink.py in its OAuth mode."""

import base64
import grp
import http.client
import json
import os
import pwd
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

DEVICE = "urn:ietf:params:oauth:grant-type:device_code"
CLIENT, USER, REDIRECT = "tessly-test", "alice", "http://127.0.0.1:4711/cb"
# What a refused token's SASL challenge says, per mechanism.
FAILURE = {"XOAUTH2": "401", "OAUTHBEARER": "invalid_token"}


def b64(data):
    return base64.b64encode(data).decode()


def claims_of(token):
    body = token.split(".")[1]
    return json.loads(base64.urlsafe_b64decode(body + "=" * (-len(body) % 4)))


def sasl(mechanism, user, token):
    if mechanism == "XOAUTH2":
        return b64(("user=%s\x01auth=Bearer %s\x01\x01" % (user, token)).encode())
    authzid = "a=" + user if user else ""
    return b64(("n,%s,\x01host=127.0.0.1\x01auth=Bearer %s\x01\x01" % (authzid, token)).encode())


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Line:
    """A line-based client for POP3, IMAP and SMTP."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.file = self.sock.makefile("rwb")

    def read(self):
        return self.file.readline().decode("utf-8", "replace").rstrip("\r\n")

    def ask(self, line):
        self.file.write(line.encode() + b"\r\n")
        self.file.flush()
        return self.read()

    def close(self):
        self.file.close()
        self.sock.close()


class PeersTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = cls.tmp.name
        os.chmod(cls.dir, 0o755)
        cls.key = secrets.token_bytes(32)
        cls.key_file = os.path.join(cls.dir, "jwt.key")
        with open(os.open(cls.key_file, os.O_WRONLY | os.O_CREAT, 0o600), "wb") as f:
            f.write(cls.key)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def server(self, *args):
        """A token server; its port, and its log's path."""
        log = os.path.join(self.dir, "oauth-%s.jsonl" % secrets.token_hex(4))
        proc = subprocess.Popen([sys.executable, os.path.join(HERE, "oauth_server.py"), "--key-file", self.key_file,
                                 "--client-id", CLIENT, "--user", USER, "--log", log, "--watch-stdin"] + list(args),
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(lambda: (proc.stdin.close(), proc.wait(5), proc.stdout.close()))
        self.assertTrue(select.select([proc.stdout], [], [], 10)[0], "no port announced")
        self.port, self.tls, self.log = int(proc.stdout.readline().split()[1]), "--cert" in args, log

    def http(self, method, path, fields=None, headers=None, ctype="application/x-www-form-urlencoded"):
        conn = (http.client.HTTPSConnection("127.0.0.1", self.port, timeout=10,
                                            context=ssl._create_unverified_context())
                if self.tls else http.client.HTTPConnection("127.0.0.1", self.port, timeout=10))
        body = urllib.parse.urlencode(fields) if fields is not None else None
        conn.request(method, path, body, dict(headers or {}, **({"Content-Type": ctype} if body else {})))
        response = conn.getresponse()
        data = response.read()
        conn.close()
        return response.status, json.loads(data) if data[:1] == b"{" else data, response

    def token(self, **fields):
        status, answer, _ = self.http("POST", "/token", dict({"client_id": CLIENT}, **fields))
        return status, answer

    def authorize(self, verifier, **extra):
        query = {"response_type": "code", "client_id": CLIENT, "redirect_uri": REDIRECT, "state": "st8",
                 "scope": "mail", "code_challenge": oauth_server.s256(verifier), "code_challenge_method": "S256"}
        query = {k: v for k, v in dict(query, **extra).items() if v is not None}
        status, body, response = self.http("GET", "/authorize?" + urllib.parse.urlencode(query))
        location = urllib.parse.urlsplit(response.getheader("Location") or "")
        return status, body, {k: v[0] for k, v in urllib.parse.parse_qs(location.query).items()}

    def code_grant(self):
        verifier = secrets.token_urlsafe(48)
        code = self.authorize(verifier)[2]["code"]
        status, answer = self.token(grant_type="authorization_code", code=code, code_verifier=verifier,
                                    redirect_uri=REDIRECT)
        self.assertEqual(200, status, answer)
        return answer


class TokenServerTest(PeersTestCase):
    def test_device_grant(self):
        self.server("--interval", "1", "--slow-down-step", "1", "--lifetime", "900")
        _, dev, _ = self.http("POST", "/device", {"client_id": CLIENT, "scope": "mail offline"})
        other = self.http("POST", "/device", {"client_id": CLIENT})[1]
        self.http("POST", "/control/deny", {"user_code": other["user_code"]})
        # (pause before the poll, control call before it, answer): a poll
        # sooner than the interval slows down and the interval grows to 2 s.
        steps = [(0, None, "slow_down"), (2.05, None, "authorization_pending"), (2.05, "approve", None),
                 (0, None, "invalid_grant")]
        for pause, control, error in steps:
            if control:
                self.http("POST", "/control/" + control, {"user_code": dev["user_code"]})
            time.sleep(pause)
            status, answer = self.token(grant_type=DEVICE, device_code=dev["device_code"])
            self.assertEqual((400 if error else 200, error), (status, answer.get("error")))
            if not error:
                claims = claims_of(answer["access_token"])
                self.assertEqual(answer["access_token"], oauth_server.sign_jwt(claims, self.key))
                self.assertEqual((CLIENT, USER, USER, "mail offline", 900, "http://127.0.0.1:%d" % self.port),
                                 (claims["aud"], claims["sub"], claims["email"], claims["scope"],
                                  claims["exp"] - claims["iat"], claims["iss"]))
                issued = answer["access_token"]
        self.assertEqual("access_denied", self.token(grant_type=DEVICE, device_code=other["device_code"])[1]["error"])
        with open(self.log) as f:
            text = f.read()
        self.assertNotIn(issued, text)
        outcomes = [r["outcome"] for r in map(json.loads, text.splitlines()) if r.get("grant_type") == DEVICE]
        self.assertEqual(["slow_down", "authorization_pending", "ok", "invalid_grant", "access_denied"], outcomes)

    def test_device_code_expires_and_activation_page_over_tls(self):
        if not shutil.which("openssl"):
            self.skipTest("no openssl")
        cert, key = os.path.join(self.dir, "cert.pem"), os.path.join(self.dir, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=127.0.0.1"], check=True, capture_output=True)
        self.server("--interval", "1", "--device-lifetime", "1.5", "--cert", cert, "--key", key)
        codes = [self.http("POST", "/device", {"client_id": CLIENT})[1] for _ in range(2)]
        complete = urllib.parse.urlsplit(codes[0]["verification_uri_complete"])
        self.assertEqual("https", complete.scheme)
        self.assertEqual(200, self.http("GET", complete.path + "?" + complete.query)[0])
        time.sleep(1.05)
        self.assertEqual(200, self.token(grant_type=DEVICE, device_code=codes[0]["device_code"])[0])
        time.sleep(0.5)
        self.assertEqual("expired_token", self.token(grant_type=DEVICE, device_code=codes[1]["device_code"])[1]["error"])

    def test_authorization_code_grant(self):
        self.server()
        verifier = secrets.token_urlsafe(48)
        # (what differs, status, error): a bad redirect URI is never redirected to.
        for extra, status, error in [({"redirect_uri": "http://example.com:4711/cb"}, 400, "invalid_request"),
                                     ({"redirect_uri": "http://localhost:4711/cb"}, 400, "invalid_request"),
                                     ({"redirect_uri": "http://127.0.0.1/cb"}, 400, "invalid_request"),
                                     ({"code_challenge": None, "code_challenge_method": None}, 302, "invalid_request"),
                                     ({"code_challenge_method": "plain"}, 302, "invalid_request"),
                                     ({"response_type": "token"}, 302, "unsupported_response_type")]:
            got, body, query = self.authorize(verifier, **extra)
            self.assertEqual((status, error), (got, (query if got == 302 else body)["error"]), extra)
            self.assertEqual(got == 302, query.get("state") == "st8")
        self.assertIn("code", self.authorize(verifier, redirect_uri="http://[::1]:4711/cb")[2])
        spent = self.authorize(verifier)[2]["code"]
        # (code, verifier, redirect URI, error): any attempt spends a code.
        fresh = [self.authorize(verifier)[2]["code"] for _ in range(2)]
        for code, v, uri, error in [(spent, secrets.token_urlsafe(48), REDIRECT, "invalid_grant"),
                                    (spent, verifier, REDIRECT, "invalid_grant"),
                                    (fresh[0], verifier, "http://127.0.0.1:4712/cb", "invalid_grant"),
                                    (fresh[1], verifier, REDIRECT, None), (fresh[1], verifier, REDIRECT, "invalid_grant")]:
            status, answer = self.token(grant_type="authorization_code", code=code, code_verifier=v, redirect_uri=uri)
            self.assertEqual((400 if error else 200, error), (status, answer.get("error")))

    def test_client_authentication_and_form(self):
        secret = os.path.join(self.dir, "secret")
        with open(secret, "w") as f:
            f.write("s3cret\n")
        self.server("--client-secret-file", secret)
        grant = {"grant_type": "refresh_token", "refresh_token": "unknown"}
        basic = {"Authorization": "Basic " + b64(b"tessly-test:s3cret")}
        for fields, headers, ctype, status, error in [
                (dict(grant, client_id=CLIENT, client_secret="s3cret"), {}, None, 400, "invalid_grant"),
                (grant, basic, None, 400, "invalid_grant"),
                (dict(grant, client_id=CLIENT), {}, None, 401, "invalid_client"),
                (grant, {"Authorization": "Basic " + b64(b"tessly-test:no")}, None, 401, "invalid_client"),
                (dict(grant, client_secret="s3cret"), basic, None, 400, "invalid_request"),
                (dict(grant, client_id=CLIENT, client_secret="s3cret"), {}, "text/plain", 400, "invalid_request"),
                (dict(client_id=CLIENT, client_secret="s3cret", grant_type="password"), {}, None, 400,
                 "unsupported_grant_type")]:
            got, answer, _ = self.http("POST", "/token", fields, headers, ctype or "application/x-www-form-urlencoded")
            self.assertEqual((status, error), (got, answer["error"]), (fields, headers, ctype))

    def test_refresh_rotation_revocation_lifetime(self):
        # (server options, whether a refresh hands out a new refresh token)
        for options, rotates in [((), False), (("--rotate-refresh",), True)]:
            self.server(*options)
            refresh = self.code_grant()["refresh_token"]
            self.http("POST", "/control/lifetime?seconds=2")
            status, answer = self.token(grant_type="refresh_token", refresh_token=refresh)
            self.assertEqual((200, 2), (status, answer["expires_in"]))
            self.assertEqual(2, claims_of(answer["access_token"])["exp"] - claims_of(answer["access_token"])["iat"])
            self.assertEqual(rotates, "refresh_token" in answer)
            old_works = self.token(grant_type="refresh_token", refresh_token=refresh)[0] == 200
            self.assertEqual(not rotates, old_works)
            live = answer.get("refresh_token", refresh)
            self.assertEqual("invalid_scope",
                             self.token(grant_type="refresh_token", refresh_token=live, scope="mail admin")[1]["error"])
            self.http("POST", "/control/revoke")
            self.assertEqual("invalid_grant", self.token(grant_type="refresh_token", refresh_token=live)[1]["error"])


@unittest.skipUnless(os.access("/usr/sbin/dovecot", os.X_OK) and os.access("/usr/lib/dovecot/imap", os.X_OK),
                     "dovecot is not installed")
class DovecotTest(PeersTestCase):
    """Dovecot with the lines dovecot.h writes under SetOAuth()."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        d, root = cls.dir, os.getuid() == 0
        # Dovecot serves mail as "nobody" when run as root, and only its auth
        # process (group dovecot) reads the key.
        nobody = pwd.getpwnam("nobody")
        uid, gid = (nobody.pw_uid, nobody.pw_gid) if root else (os.getuid(), os.getgid())
        for sub in ("mail/alice/new", "mail/alice/cur", "mail/alice/tmp", "run", "state", "oauth-keys/default/HS256"):
            os.makedirs(os.path.join(d, sub))
        with open(os.path.join(d, "oauth-keys/default/HS256/default"), "w") as f:
            f.write(b64(cls.key))
        owners = [(sub, uid, gid, None) for sub in ("mail", "mail/alice", "mail/alice/new", "mail/alice/cur",
                                                    "mail/alice/tmp")]
        owners += [(sub, 0, grp.getgrnam("dovecot").gr_gid if root else 0, mode) for sub, mode in (
            ("oauth-keys", 0o750), ("oauth-keys/default", 0o750), ("oauth-keys/default/HS256", 0o750),
            ("oauth-keys/default/HS256/default", 0o640))]
        for sub, owner, group, mode in owners:
            if mode:
                os.chmod(os.path.join(d, sub), mode)
            if root:
                os.chown(os.path.join(d, sub), owner, group)
        with open(os.path.join(d, "passwd"), "w") as f:
            f.write("alice:{PLAIN}pw-alice:%d:%d::%s/mail/alice\n" % (uid, gid, d))
        with open(os.path.join(d, "oauth2.conf.ext"), "w") as f:
            f.write("introspection_mode = local\nlocal_validation_key_dict = fs:posix:prefix=%s/oauth-keys/\n"
                    "username_attribute = sub\n" % d)
        cls.pop3, cls.imap = free_port(), free_port()
        with open(os.path.join(d, "dovecot.conf"), "w") as f:
            f.write("base_dir = {d}/run\nstate_dir = {d}/state\nlog_path = {d}/dovecot.log\nprotocols = pop3 imap\n"
                    "listen = 127.0.0.1\nssl = no\ndisable_plaintext_auth = no\nauth_failure_delay = 0\n"
                    "mail_location = maildir:{d}/mail/%u\nauth_mechanisms = plain login xoauth2 oauthbearer\n"
                    "passdb {{\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n  args = {d}/oauth2.conf.ext\n}}\n"
                    "passdb {{\n  driver = passwd-file\n  mechanisms = plain login\n  args = scheme=PLAIN {d}/passwd\n}}\n"
                    "userdb {{\n  driver = passwd-file\n  args = {d}/passwd\n}}\n"
                    "service pop3-login {{\n  inet_listener pop3 {{\n    address = 127.0.0.1\n    port = {p}\n  }}\n"
                    "  chroot =\n}}\nservice anvil {{\n  chroot =\n  unix_listener anvil-auth-penalty {{\n"
                    "    mode = 0\n  }}\n}}\nservice imap-login {{\n  inet_listener imap {{\n    address = 127.0.0.1\n"
                    "    port = {i}\n  }}\n  inet_listener imaps {{\n    address = 127.0.0.1\n    port = {s}\n  }}\n"
                    "  chroot =\n}}\n".format(d=d, p=cls.pop3, i=cls.imap, s=free_port()))
        cls.dovecot = subprocess.Popen(["/usr/sbin/dovecot", "-F", "-c", d + "/dovecot.conf"], stdin=subprocess.DEVNULL)
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", cls.imap), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)

    @classmethod
    def tearDownClass(cls):
        cls.dovecot.terminate()
        cls.dovecot.wait(10)
        super().tearDownClass()

    def signs_in(self, protocol, mechanism, user, token):
        """Whether the token signs in; a refusal must follow the SASL failure exchange."""
        c = Line(self.pop3 if protocol == "pop3" else self.imap)
        tag, ok, no = ("", "+OK", "-ERR") if protocol == "pop3" else ("a1 ", "a1 OK", "a1 NO")
        try:
            c.read()
            if protocol == "imap" and mechanism == "OAUTHBEARER":  # without SASL-IR
                self.assertEqual("+ ", c.ask("a1 AUTHENTICATE OAUTHBEARER"))
                line = c.ask(sasl(mechanism, user, token))
            else:
                line = c.ask("%s%s %s %s" % (tag, "AUTH" if protocol == "pop3" else "AUTHENTICATE", mechanism,
                                             sasl(mechanism, user, token)))
            if line.startswith(ok):
                return True
            self.assertEqual(FAILURE[mechanism], json.loads(base64.b64decode(line[2:]))["status"])
            self.assertTrue(c.ask("" if mechanism == "XOAUTH2" else b64(b"\x01")).startswith(no))
            return False
        finally:
            c.close()

    def test_tokens_accepted_and_refused(self):
        self.server()
        good = self.code_grant()["access_token"]
        claims = claims_of(good)
        ways = [(p, m) for p in ("pop3", "imap") for m in ("XOAUTH2", "OAUTHBEARER")]
        # (user named in SASL, token, signs in)
        for user, token, ok in [(USER, good, True), (USER, oauth_server.sign_jwt(claims, b"k" * 32), False),
                                (USER, oauth_server.sign_jwt(dict(claims, sub="bob"), self.key), False),
                                ("bob", good, False), (USER, "pw-alice", False)]:
            self.assertEqual([ok] * 4, [self.signs_in(p, m, user, token) for p, m in ways], (user, token))
        c = Line(self.pop3)
        c.read()
        self.assertTrue(c.ask("AUTH PLAIN " + b64(b"\0alice\0pw-alice")).startswith("+OK"))
        c.close()

    def test_short_lived_token_expires(self):
        self.server()
        self.http("POST", "/control/lifetime", {"seconds": "2"})
        token = self.code_grant()["access_token"]
        self.assertTrue(self.signs_in("pop3", "XOAUTH2", USER, token))
        time.sleep(max(0, claims_of(token)["exp"] + 1.1 - time.time()))
        self.assertFalse(self.signs_in("pop3", "XOAUTH2", USER, token))
        self.assertFalse(self.signs_in("imap", "OAUTHBEARER", USER, token))


@unittest.skipUnless(subprocess.run(["/usr/bin/python3", "-c", "import aiosmtpd"], capture_output=True).returncode == 0,
                     "aiosmtpd is not installed")
class SinkTest(PeersTestCase):
    def test_tokens(self):
        port, out = free_port(), os.path.join(self.dir, "sink.jsonl")
        proc = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "smtp_sink.py"), str(port), out,
                                 "--oauth-key=" + self.key_file, "--oauth-user=" + USER],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (proc.terminate(), proc.wait(5), proc.stdout.close()))
        self.assertTrue(select.select([proc.stdout], [], [], 10)[0] and proc.stdout.readline() == b"READY\n")
        now = int(time.time())
        claims = {"aud": CLIENT, "sub": USER, "email": USER, "iat": now, "exp": now + 60}
        good = oauth_server.sign_jwt(claims, self.key)
        long_token = oauth_server.sign_jwt(dict(claims, pad="x" * 3000), self.key)  # beyond a 1000-octet line
        expired = oauth_server.sign_jwt(dict(claims, exp=now - 10), self.key)
        forged = oauth_server.sign_jwt(claims, b"k" * 32)
        # (mechanism, user named, token, two steps, the failure acknowledgement, final reply)
        for mechanism, user, token, two_step, ack, final in [
                ("XOAUTH2", USER, good, False, None, "235"), ("XOAUTH2", USER, good, True, None, "235"),
                ("OAUTHBEARER", None, long_token, False, None, "235"), ("XOAUTH2", USER, expired, False, "", "535"),
                ("XOAUTH2", "bob", good, False, "", "535"), ("OAUTHBEARER", USER, forged, False, "AQ==", "535"),
                ("OAUTHBEARER", USER, forged, False, "", "501")]:
            c = Line(port)
            c.read()
            self.assertIn("250-AUTH OAUTHBEARER XOAUTH2", [c.ask("EHLO tester")] + [c.read() for _ in range(5)])
            self.assertEqual("530", c.ask("MAIL FROM:<a@example.org>")[:3])
            if two_step:
                self.assertEqual("334 ", c.ask("AUTH " + mechanism))
                line = c.ask(sasl(mechanism, user, token))
            else:
                line = c.ask("AUTH %s %s" % (mechanism, sasl(mechanism, user, token)))
            if ack is not None:
                self.assertEqual(FAILURE[mechanism], json.loads(base64.b64decode(line[4:]))["status"])
                line = c.ask(ack)
            self.assertEqual(final, line[:3], (mechanism, user, two_step, line))
            if final == "235":
                for command in ("MAIL FROM:<a@example.org>", "RCPT TO:<b@example.org>", "DATA",
                                "Subject: t\r\n\r\nhello\r\n."):
                    self.assertIn(c.ask(command)[:3], ("250", "354"))
                with open(out) as f:
                    record = json.loads(f.readlines()[-1])
                self.assertEqual((USER, mechanism), (record["auth_user"], record["auth_mechanism"]))
            c.close()


if __name__ == "__main__":
    unittest.main()
