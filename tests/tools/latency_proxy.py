#!/usr/bin/env python3
"""A TCP relay that delays every byte in each direction by a fixed time, to
show how a program behaves over a slow network.

    python3 tests/tools/latency_proxy.py --target-port 110 --delay-ms 15
    {"port": 40123}

Listens on 127.0.0.1 (a free port unless --port is given), prints one JSON
line with the port, and relays every connection to --target-host and
--target-port. Each piece of data is passed on --delay-ms milliseconds after
it arrived, in order, so a round trip through the relay takes twice that
long. Data is not held back by the delay of the piece before it: a stream
keeps its throughput, only its latency grows. The relay ends when stdin
reaches end of file (a test that dies closes the pipe), on SIGTERM, or on
"quit" on stdin."""
import argparse
import asyncio
import json
import signal
import sys


async def pump(reader, writer, delay):
    """Copies reader to writer, each piece `delay` seconds after it arrived."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def receive():
        while True:
            data = await reader.read(65536)
            await queue.put((loop.time() + delay, data))
            if not data:
                return

    async def send():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()

    try:
        await asyncio.gather(receive(), send())
    except (ConnectionError, OSError):
        pass


async def relay(client_reader, client_writer, args):
    try:
        server_reader, server_writer = await asyncio.open_connection(args.target_host, args.target_port)
    except OSError:
        client_writer.close()
        return
    delay = args.delay_ms / 1000.0
    try:
        await asyncio.gather(pump(client_reader, server_writer, delay), pump(server_reader, client_writer, delay))
    finally:
        for w in (client_writer, server_writer):
            w.close()


async def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--target-host", default="127.0.0.1")
    parser.add_argument("--target-port", type=int, required=True)
    parser.add_argument("--delay-ms", type=float, required=True, help="delay in each direction")
    parser.add_argument("--no-stdin", action="store_true", help="do not end at end of file on stdin")
    args = parser.parse_args()
    if args.delay_ms < 0:
        parser.error("--delay-ms must not be negative")

    server = await asyncio.start_server(lambda r, w: relay(r, w, args), "127.0.0.1", args.port)
    print(json.dumps({"port": server.sockets[0].getsockname()[1]}), flush=True)

    loop = asyncio.get_running_loop()
    done = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        loop.add_signal_handler(sig, lambda: done.done() or done.set_result(None))
    if not args.no_stdin:
        def stdin_ready():
            line = sys.stdin.readline()
            if (not line or line.strip() == "quit") and not done.done():
                done.set_result(None)
        loop.add_reader(sys.stdin.fileno(), stdin_ready)
    await done
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
