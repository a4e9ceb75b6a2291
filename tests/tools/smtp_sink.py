#!/usr/bin/python3
"""SMTP sink for tests: accepts every message on 127.0.0.1:PORT and appends
one JSON line per message (HELO name, envelope sender, recipients, and the
message as received, Latin-1) to OUTFILE. Runs until terminated."""

import asyncio
import json
import signal
import sys

from aiosmtpd.controller import Controller


class Sink:
    def __init__(self, path):
        self.path = path

    async def handle_DATA(self, server, session, envelope):
        record = {
            "helo": session.host_name,
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "data": envelope.original_content.decode("latin-1"),
        }
        with open(self.path, "a", encoding="utf-8") as out:
            out.write(json.dumps(record) + "\n")
        return "250 Message accepted"


def main():
    port, path = int(sys.argv[1]), sys.argv[2]
    controller = Controller(Sink(path), hostname="127.0.0.1", port=port)
    controller.start()
    print("READY", flush=True)
    stop = asyncio.new_event_loop()
    signal.signal(signal.SIGTERM, lambda *_: stop.call_soon_threadsafe(stop.stop))
    signal.signal(signal.SIGINT, lambda *_: stop.call_soon_threadsafe(stop.stop))
    stop.run_forever()
    controller.stop()


if __name__ == "__main__":
    main()
