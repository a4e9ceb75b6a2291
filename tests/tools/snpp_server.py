#!/usr/bin/python3
"""SNPP level 2 server (RFC 1861) for tests.

Listens on 127.0.0.1 (a free port unless --port is given), prints
"PORT <n>" on standard output once it accepts connections, and appends one
JSON line to --log for every connection, every command line it receives and
every page it accepts. Runs until terminated (SIGTERM) or until standard
input reaches end of file.

Modes (--mode):
  accept        every page is accepted (default)
  reject-pager  PAGE is answered "550 Error, Invalid Pager ID" (only for the
                IDs of --reject-id when given)
  temp-send     SEND is answered "421 Gateway Service Unavailable" and the
                connection closed (--send-code picks another 4xx/5xx code)
  drop-page     the connection is dropped after PAGE, without an answer
  slow-greeting the greeting comes after --greeting-delay seconds
                (default 5)
--tls-cert/--tls-key: TLS from the first byte with that certificate.
--password: PAGE must carry it as its second word (else 550).

Log records: {"event": "connect"}, {"event": "command", "line": "PAGE 123"},
{"event": "data", "line": "..."} for each line between DATA and ".",
{"event": "sent", "pager": "123", "message": "..."} (DATA lines un-stuffed,
joined with "\\n"), {"event": "close"}. Only standard-library modules."""

import argparse
import asyncio
import json
import signal
import ssl
import sys


class Log:
    def __init__(self, path):
        self.path = path

    def write(self, **record):
        if not self.path:
            return
        with open(self.path, "a", encoding="utf-8") as out:
            out.write(json.dumps(record) + "\n")


MAX_LINE = 8192


async def session(reader, writer, args, log):
    log.write(event="connect")

    async def reply(text):
        writer.write(text.encode("latin-1") + b"\r\n")
        await writer.drain()

    try:
        if args.mode == "slow-greeting":
            await asyncio.sleep(args.greeting_delay)
        await reply("220 SNPP test gateway ready")
        pager = None
        message = None
        while True:
            raw = await reader.readline()
            if not raw:
                break
            if len(raw) > MAX_LINE:
                await reply("421 Line too long, Goodbye")
                break
            line = raw.decode("latin-1").rstrip("\r\n")
            log.write(event="command", line=line)
            words = line.split(" ")
            verb = words[0][:4].upper()
            if verb == "PAGE":
                if args.mode == "drop-page":
                    break
                pid = words[1] if len(words) > 1 else ""
                rejected = args.mode == "reject-pager" and (not args.reject_id or pid in args.reject_id)
                wrong_password = args.password and (len(words) < 3 or words[2] != args.password)
                if not pid or rejected or wrong_password:
                    await reply("550 Error, Invalid Pager ID")
                else:
                    pager = pid
                    await reply("250 Pager ID Accepted")
            elif verb == "MESS":
                message = line[5:]
                await reply("250 Message OK")
            elif verb == "DATA":
                await reply("354 Begin Input; End with <CRLF>'.'<CRLF>")
                lines = []
                while True:
                    raw = await reader.readline()
                    if not raw:
                        return
                    text = raw.decode("latin-1").rstrip("\r\n")
                    if text == ".":
                        break
                    log.write(event="data", line=text)
                    lines.append(text[1:] if text.startswith("..") else text)
                message = "\n".join(lines)
                await reply("250 Message OK")
            elif verb == "SEND":
                if pager is None or message is None:
                    await reply("503 Error, Pager ID or Message Incomplete")
                elif args.mode == "temp-send":
                    code = args.send_code
                    await reply("%d Gateway Service Unavailable" % code if code // 100 == 4
                                else "%d Error, failed (test server)" % code)
                    if code // 100 == 4:
                        break
                else:
                    log.write(event="sent", pager=pager, message=message)
                    pager = message = None
                    await reply("250 Message Sent Successfully")
            elif verb == "RESE":
                pager = message = None
                await reply("250 Reset OK")
            elif verb == "HELP":
                await reply("214 PAGE <Pager ID> [Password]")
                await reply("214 MESS <Message> / DATA / SEND / QUIT")
                await reply("250 End of Help Information")
            elif verb == "QUIT":
                await reply("221 OK, Goodbye")
                break
            else:
                await reply("500 Command Not Implemented, Try Again")
    except (ConnectionError, ssl.SSLError, asyncio.IncompleteReadError, ValueError):
        pass
    finally:
        log.write(event="close")
        writer.close()


async def main():
    parser = argparse.ArgumentParser(description="SNPP level 2 test server")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log", default="")
    parser.add_argument("--mode", default="accept",
                        choices=["accept", "reject-pager", "temp-send", "drop-page", "slow-greeting"])
    parser.add_argument("--reject-id", action="append", default=[])
    parser.add_argument("--send-code", type=int, default=421)
    parser.add_argument("--greeting-delay", type=float, default=5.0)
    parser.add_argument("--password", default="")
    parser.add_argument("--tls-cert", default="")
    parser.add_argument("--tls-key", default="")
    args = parser.parse_args()

    context = None
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key or None)
    log = Log(args.log)
    server = await asyncio.start_server(lambda r, w: session(r, w, args, log), "127.0.0.1", args.port,
                                        ssl=context, limit=MAX_LINE * 2)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)

    loop = asyncio.get_running_loop()
    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    def stdin_readable():
        if not sys.stdin.buffer.read1(4096):
            loop.remove_reader(sys.stdin.fileno())
            stop.set()

    try:
        loop.add_reader(sys.stdin.fileno(), stdin_readable)
    except (OSError, ValueError):
        pass  # stdin is a file or /dev/null: run until terminated
    async with server:
        await stop.wait()


if __name__ == "__main__":
    asyncio.run(main())
