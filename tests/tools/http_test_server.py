#!/usr/bin/python3
"""A small HTTP (or HTTPS) server for Webwire's integration tests.

Listens on 127.0.0.1 on a free port and prints "PORT <n>" on standard
output once it accepts connections. Answers:
  /ok                 200 with the body "hello from the test server"
  /missing            404 with an HTML error page
  /redirect/<n>       302 to /redirect/<n-1> (absolute path); /redirect/0 is 200 "landed"
  /setcookie          200 with "Set-Cookie: id=42;path=/"
  /showcookie         200 with the request's Cookie header as the body
  /slow               accepts and never answers (until the client gives up)
  anything else       404

Usage: http_test_server.py [--cert FILE --key FILE]
"""

import argparse
import http.server
import socketserver
import ssl
import sys
import time


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, fmt, *args):
        pass

    def answer(self, code, body, headers=()):
        data = body.encode("latin-1")
        self.send_response(code)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(data)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        path = self.path
        if path == "/ok":
            self.answer(200, "hello from the test server",
                        [("Last-Modified", "Mon, 06 Dec 1999 10:00:00 GMT")])
        elif path == "/missing":
            self.answer(404, "<html><body>No such page</body></html>")
        elif path.startswith("/redirect/"):
            n = int(path.rsplit("/", 1)[1] or "0")
            if n <= 0:
                self.answer(200, "landed")
            else:
                self.answer(302, "moved %d" % n, [("Location", "/redirect/%d" % (n - 1))])
        elif path == "/setcookie":
            self.answer(200, "cookie set", [("Set-Cookie", "id=42;path=/")])
        elif path == "/showcookie":
            self.answer(200, "cookie=" + (self.headers.get("Cookie") or ""))
        elif path == "/slow":
            time.sleep(120)
        else:
            self.answer(404, "not found")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cert")
    ap.add_argument("--key")
    args = ap.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
