#!/usr/bin/python3
"""SMTP sink for tests: accepts every message on 127.0.0.1:PORT and appends
one JSON line per message (HELO name, envelope sender, recipients, and the
message as received, Latin-1) to OUTFILE. Runs until terminated.

Optional, after PORT and OUTFILE: CERT KEY to offer STARTTLS with that
certificate, then USER:PASSWORD to require AUTH (PLAIN or LOGIN, over TLS
only) with those credentials, then MECH,... to leave those AUTH mechanisms
out; the login name is recorded as "auth_user". Recipients named in the
environment variable SMTP_SINK_REFUSE (comma-separated) are refused with 550."""

import asyncio
import json
import os
import signal
import ssl
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


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
        with open(self.path, "a", encoding="utf-8") as out:
            out.write(json.dumps(record) + "\n")
        return "250 Message accepted"


def main():
    port, path = int(sys.argv[1]), sys.argv[2]
    options = {}
    if len(sys.argv) > 4:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(sys.argv[3], sys.argv[4])
        options["tls_context"] = context
    if len(sys.argv) > 5:
        user, password = sys.argv[5].split(":", 1)

        def authenticator(server, session, envelope, mechanism, data):
            ok = data.login.decode() == user and data.password.decode() == password
            return AuthResult(success=ok, handled=False, auth_data=data.login if ok else None)

        options.update(authenticator=authenticator, auth_required=True, auth_require_tls=True)
    if len(sys.argv) > 6:
        options["auth_exclude_mechanism"] = sys.argv[6].split(",")
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
