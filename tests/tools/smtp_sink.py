#!/usr/bin/python3
"""SMTP sink for tests: accepts every message on 127.0.0.1:PORT and appends
one JSON line per message (HELO name, envelope sender, recipients, and the
message as received, Latin-1) to OUTFILE. Runs until terminated.

Optional, after PORT and OUTFILE: CERT KEY to offer STARTTLS with that
certificate, then USER:PASSWORD to require AUTH (PLAIN or LOGIN, over TLS
only) with those credentials, then MECH,... to leave those AUTH mechanisms
out; the login name is recorded as "auth_user". Recipients named in the
environment variable SMTP_SINK_REFUSE (comma-separated) are refused with 550.

OAuth mode: --oauth-key=FILE (anywhere among the arguments; the positional
ones keep their places) offers AUTH XOAUTH2 and OAUTHBEARER and requires
AUTH. Over TLS only when CERT KEY are given, in clear otherwise. A token
passes when it is a JWT signed HS256 with the file's bytes, not expired,
and its sub or email claim is the user of --oauth-user=USER (default: the
USER of USER:PASSWORD), as is the user the client names. A refused token
gets "334 <base64 JSON status>" (status "401" for XOAUTH2,
"invalid_token" for OAUTHBEARER); the client answers (an empty line for
XOAUTH2, %x01 for OAUTHBEARER), then 535. PLAIN and LOGIN stay offered
only with USER:PASSWORD. Each message's line then also records
"auth_mechanism"."""

import asyncio
import base64
import binascii
import collections
import hashlib
import hmac
import json
import os
import signal
import ssl
import sys
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import MISSING, SMTP, AuthResult

# An AUTH line may carry a long token (RFC 4954 allows 12288 octets).
AUTH_LINE_LIMIT = 12288
MAX_TOKEN = 8192


class Sink:
    def __init__(self, path):
        self.path = path
        # Recipients refused with 550, comma-separated in SMTP_SINK_REFUSE.
        self.refused = {a.strip().lower() for a in os.environ.get("SMTP_SINK_REFUSE", "").split(",") if a.strip()}

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.refused:
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        record = {
            "helo": session.host_name,
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "data": envelope.original_content.decode("latin-1"),
            "auth_user": session.auth_data.decode() if isinstance(session.auth_data, bytes) else None,
        }
        mechanism = getattr(session, "auth_mechanism", None)
        if mechanism:
            record["auth_mechanism"] = mechanism
        with open(self.path, "a", encoding="utf-8") as out:
            out.write(json.dumps(record) + "\n")
        return "250 Message accepted"


def b64url_decode(text):
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


def token_user(token, key, now=None):
    """The user (sub, email) of a valid token, or None with the reason."""
    if len(token) > MAX_TOKEN:
        return None, "token too long"
    parts = token.split(".")
    if len(parts) != 3:
        return None, "not a JWT"
    try:
        header = json.loads(b64url_decode(parts[0]))
        claims = json.loads(b64url_decode(parts[1]))
        signature = b64url_decode(parts[2])
    except (ValueError, binascii.Error):
        return None, "malformed JWT"
    if not isinstance(header, dict) or not isinstance(claims, dict):
        return None, "malformed JWT"
    if header.get("alg") != "HS256":
        return None, "algorithm is not HS256"
    expected = hmac.new(key, (parts[0] + "." + parts[1]).encode("ascii"), hashlib.sha256).digest()
    if not hmac.compare_digest(signature, expected):
        return None, "bad signature"
    exp = claims.get("exp")
    now = time.time() if now is None else now
    if not isinstance(exp, (int, float)) or isinstance(exp, bool) or exp <= now:
        return None, "expired"
    nbf = claims.get("nbf")
    if isinstance(nbf, (int, float)) and nbf > now + 5:
        return None, "not yet valid"
    return (claims.get("sub"), claims.get("email")), None


def bearer(value):
    """The token of an "auth=Bearer <token>" value, or None."""
    scheme, _, token = value.partition(" ")
    return token.strip() if scheme.lower() == "bearer" and token.strip() else None


def parse_xoauth2(blob):
    """(user, token) of "user=U^Aauth=Bearer T^A^A", or None."""
    if not blob.endswith(b"\x01\x01"):
        return None
    fields = {}
    for item in blob[:-2].split(b"\x01"):
        name, sep, value = item.partition(b"=")
        if not sep or name in fields:
            return None
        fields[name] = value.decode("utf-8", "replace")
    token = bearer(fields.get(b"auth", ""))
    if b"user" not in fields or not token:
        return None
    return fields[b"user"], token


def parse_oauthbearer(blob):
    """(authzid or None, token) of an RFC 7628 initial response, or None."""
    gs2, sep, rest = blob.partition(b"\x01")
    if not sep or not rest.endswith(b"\x01\x01"):
        return None
    flags = gs2.split(b",")
    if len(flags) != 3 or flags[0] not in (b"n", b"y") or flags[2] != b"":
        return None
    authzid = None
    if flags[1]:
        if not flags[1].startswith(b"a="):
            return None
        authzid = flags[1][2:].replace(b"=2C", b",").replace(b"=3D", b"=").decode("utf-8", "replace")
    fields = {}
    for item in rest[:-2].split(b"\x01"):
        name, sep, value = item.partition(b"=")
        if not sep or not name.isalpha() or name in fields:
            return None
        fields[name] = value.decode("utf-8", "replace")
    token = bearer(fields.get(b"auth", ""))
    return (authzid, token) if token else None


class OAuthSink(Sink):
    """Sink whose AUTH XOAUTH2 and OAUTHBEARER check a signed token."""

    def __init__(self, path, key, user):
        super().__init__(path)
        self.key = key
        self.user = user

    async def auth_XOAUTH2(self, server, args):
        return await self.oauth(server, args, "XOAUTH2", parse_xoauth2, "401", b"")

    async def auth_OAUTHBEARER(self, server, args):
        return await self.oauth(server, args, "OAUTHBEARER", parse_oauthbearer, "invalid_token", b"\x01")

    async def oauth(self, server, args, mechanism, parse, failure, dummy):
        if len(args) == 1:
            blob = await server.challenge_auth("", encode_to_b64=False)
            if blob is MISSING:
                return AuthResult(success=False, handled=True)
        else:
            try:
                blob = base64.b64decode(args[1].encode(), validate=True)
            except (binascii.Error, ValueError):
                await server.push("501 5.5.2 Can't decode base64")
                return AuthResult(success=False, handled=True)
        parsed = parse(blob)
        if parsed is None:
            await server.push("501 5.5.2 Malformed %s response" % mechanism)
            return AuthResult(success=False, handled=True)
        named, token = parsed
        users, _reason = token_user(token, self.key)
        if users is not None and self.user in users and (named is None or named in users):
            server.session.auth_mechanism = mechanism
            return AuthResult(success=True, auth_data=self.user.encode())
        status = {"status": failure, "schemes": "bearer", "scope": "mail"}
        answer = await server.challenge_auth(json.dumps(status))
        if answer is MISSING:
            return AuthResult(success=False, handled=True)
        if answer != dummy:
            await server.push("501 5.5.2 Expected the %s failure acknowledgement" % mechanism)
            return AuthResult(success=False, handled=True)
        return AuthResult(success=False, handled=False, message="535 5.7.8 Username and Password not accepted")


class OAuthSMTP(SMTP):
    # The read buffer holds a long AUTH line; DATA lines keep the usual limit.
    line_length_limit = AUTH_LINE_LIMIT + 2

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.line_length_limit = SMTP.line_length_limit
        self.command_size_limits = collections.defaultdict(lambda: SMTP.command_size_limit,
                                                           {"AUTH": AUTH_LINE_LIMIT})


class OAuthController(Controller):
    def factory(self):
        return OAuthSMTP(self.handler, **self.SMTP_kwargs)


def take_option(argv, name):
    """Removes "--name=VALUE" from argv; its value or None."""
    for arg in list(argv):
        if arg.startswith(name + "="):
            argv.remove(arg)
            return arg[len(name) + 1:]
    return None


def main():
    argv = list(sys.argv)
    oauth_key = take_option(argv, "--oauth-key")
    oauth_user = take_option(argv, "--oauth-user")
    port, path = int(argv[1]), argv[2]
    options = {}
    if len(argv) > 4:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(argv[3], argv[4])
        options["tls_context"] = context
    if len(argv) > 5:
        user, password = argv[5].split(":", 1)

        def authenticator(server, session, envelope, mechanism, data):
            ok = data.login.decode() == user and data.password.decode() == password
            if ok and oauth_key:
                session.auth_mechanism = mechanism
            return AuthResult(success=ok, handled=False, auth_data=data.login if ok else None)

        options.update(authenticator=authenticator, auth_required=True, auth_require_tls=True)
        oauth_user = oauth_user or user
    if len(argv) > 6:
        options["auth_exclude_mechanism"] = argv[6].split(",")
    if oauth_key:
        if not oauth_user:
            sys.exit("smtp_sink: --oauth-key needs --oauth-user or USER:PASSWORD")
        with open(oauth_key, "rb") as f:
            key = f.read()
        if len(argv) <= 5:
            options["auth_exclude_mechanism"] = ["PLAIN", "LOGIN"]
        options.update(auth_required=True, auth_require_tls="tls_context" in options)
        controller = OAuthController(OAuthSink(path, key, oauth_user), hostname="127.0.0.1", port=port, **options)
    else:
        controller = Controller(Sink(path), hostname="127.0.0.1", port=port, **options)
    controller.start()
    print("READY", flush=True)
    stop = asyncio.new_event_loop()
    signal.signal(signal.SIGTERM, lambda *_: stop.call_soon_threadsafe(stop.stop))
    signal.signal(signal.SIGINT, lambda *_: stop.call_soon_threadsafe(stop.stop))
    stop.run_forever()
    controller.stop()


if __name__ == "__main__":
    main()
