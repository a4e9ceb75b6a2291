#!/usr/bin/python3
"""WCTP carrier simulator for tests.

Takes HTTP POSTs of WCTP operations on 127.0.0.1, appends one JSON line per
request (path, content type, body) to the log file, and answers the way the
current mode says. Prints "PORT <n>" on stdout once it listens.

    wctp_server.py [--port N] [--log FILE] [--tls CERT KEY]
                   [--mode success|failure|slow|http500|close]
                   [--code N] [--text TEXT] [--delay SECONDS]

Modes:
  success  wctp-Confirmation / wctp-Success 200 (trackingNumber = count)
  failure  wctp-Confirmation / wctp-Failure with --code and --text
  slow     success, but only after --delay seconds
  http500  HTTP 500 with a plain text body
  close    closes the connection without any answer
  big      a success answer padded to 100 KiB

A wctp-PollForMessages is answered (in every mode but http500 and close)
with a wctp-PollResponse holding a "DELIVERED" wctp-StatusInfo for each
page so far that asked notifyWhenDelivered.

Control lines on stdin: "mode MODE [CODE [TEXT]]", "delay SECONDS",
"quit". End of stdin ends the server, so a test that dies leaves none
behind (--no-stdin to run it by hand).
"""

import argparse
import http.server
import json
import re
import socketserver
import ssl
import sys
import threading
import time
from xml.sax.saxutils import escape, quoteattr

OPERATION = (
    '<?xml version="1.0" encoding="UTF-8"?>\n'
    '<!DOCTYPE wctp-Operation SYSTEM "http://dtd.wctp.org/wctp-dtd-v1r3.dtd">\n'
    '<wctp-Operation wctpVersion="wctp-dtd-v1r3">\n{}\n</wctp-Operation>\n'
)


class State:
    def __init__(self, args):
        self.lock = threading.Lock()
        self.mode = args.mode
        self.code = args.code
        self.text = args.text
        self.delay = args.delay
        self.log = args.log
        self.count = 0
        self.notify = []  # messageIDs that asked for delivery notification


STATE = None


def confirmation_success(number):
    return OPERATION.format(
        '  <wctp-Confirmation>\n'
        '    <wctp-Success successCode="200" successText="Message accepted" '
        'trackingNumber="{0}">Message accepted</wctp-Success>\n'
        '  </wctp-Confirmation>'.format(number))


def confirmation_failure(code, text):
    return OPERATION.format(
        '  <wctp-Confirmation>\n'
        '    <wctp-Failure errorCode="{0}" errorText={1}>{2}</wctp-Failure>\n'
        '  </wctp-Confirmation>'.format(code, quoteattr(text), escape(text)))


def poll_response(ids):
    items = []
    for mid in ids:
        items.append(
            '    <wctp-Message>\n'
            '      <wctp-StatusInfo>\n'
            '        <wctp-ResponseHeader responseTimestamp="{0}">\n'
            '          <wctp-Originator senderID="carrier"/>\n'
            '          <wctp-MessageControl messageID={1}/>\n'
            '          <wctp-Recipient recipientID="poller"/>\n'
            '        </wctp-ResponseHeader>\n'
            '        <wctp-Notification type="DELIVERED"/>\n'
            '      </wctp-StatusInfo>\n'
            '    </wctp-Message>'.format(time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime()), quoteattr(mid)))
    return OPERATION.format('  <wctp-PollResponse>\n{}\n  </wctp-PollResponse>'.format("\n".join(items)))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body, content_type="text/xml; charset=utf-8"):
        data = body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(data)
        self.close_connection = True

    def do_POST(self):
        length = min(int(self.headers.get("Content-Length") or 0), 1 << 20)
        body = self.rfile.read(length).decode("utf-8", "replace")
        with STATE.lock:
            STATE.count += 1
            number = STATE.count
            mode, code, text, delay = STATE.mode, STATE.code, STATE.text, STATE.delay
            with open(STATE.log, "a", encoding="utf-8") as out:
                out.write(json.dumps({"path": self.path, "content_type": self.headers.get("Content-Type"),
                                      "body": body}) + "\n")
            is_poll = "<wctp-PollForMessages" in body
            if not is_poll and re.search(r'notifyWhenDelivered="true"', body):
                m = re.search(r'messageID="([^"]*)"', body)
                if m:
                    STATE.notify.append(m.group(1))
            pending = list(STATE.notify)
        if mode == "close":
            self.close_connection = True
            self.connection.close()
            return
        if mode == "http500":
            self.answer(500, "internal error\n", "text/plain")
            return
        if is_poll:
            self.answer(200, poll_response(pending))
            return
        if mode == "slow":
            time.sleep(delay)
        if mode == "failure":
            self.answer(200, confirmation_failure(code, text))
        elif mode == "big":
            self.answer(200, confirmation_success(number) + " " * (100 * 1024))
        else:
            self.answer(200, confirmation_success(number))


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def control(server):
    for line in sys.stdin:
        words = line.split(None, 3)
        if not words:
            continue
        with STATE.lock:
            if words[0] == "mode" and len(words) > 1:
                STATE.mode = words[1]
                if len(words) > 2:
                    STATE.code = int(words[2])
                if len(words) > 3:
                    STATE.text = words[3].strip()
            elif words[0] == "delay" and len(words) > 1:
                STATE.delay = float(words[1])
            elif words[0] == "quit":
                break
        print("OK", flush=True)
    server.shutdown()


def main():
    global STATE
    p = argparse.ArgumentParser(description="WCTP carrier simulator")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--log", default="/dev/null")
    p.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    p.add_argument("--mode", default="success", choices=["success", "failure", "slow", "http500", "close", "big"])
    p.add_argument("--code", type=int, default=403)
    p.add_argument("--text", default="Invalid recipientID")
    p.add_argument("--delay", type=float, default=5.0)
    p.add_argument("--no-stdin", action="store_true")
    args = p.parse_args()
    STATE = State(args)
    server = Server(("127.0.0.1", args.port), Handler)
    if args.tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.tls[0], args.tls[1])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    if not args.no_stdin:
        threading.Thread(target=control, args=(server,), daemon=True).start()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
