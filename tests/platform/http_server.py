#!/usr/bin/env python3
"""The local HTTP server of the HTTP tables: it serves fixtures and records
each request, on 127.0.0.1 at a free port, never the network.

    http_server.py -- COMMAND...   runs COMMAND with ZOL_HTTP set to the
                                   server's base url, then stops; exits with
                                   COMMAND's status
    http_server.py                 serves until interrupted (prints the url)

Fixtures: /h "hello"; /dup a header sent twice; /missing a 404 page;
/redirect to /h; /big 5 MB; /lines text with both line ends; /slow answers
after 2 s; /hang never answers. /last answers the request before it as Zol
text: method "..." path "..." headers ["Name" "value" ...] body #{...}.
"""
import os
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

BIG = bytes(range(256)) * (5 * 1024 * 1024 // 256)


def zol_string(text):
    return '"' + text.replace("^", "^^").replace('"', '^"') + '"'


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    last = None

    def log_message(self, *args):
        pass

    def answer(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def serve(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        if self.path == "/last":
            method, path, headers, seen = Handler.last or ("", "", [], b"")
            text = "method %s path %s headers [%s] body #{%s}" % (
                zol_string(method), zol_string(path),
                " ".join(zol_string(n) + " " + zol_string(v) for n, v in headers), seen.hex().upper())
            return self.answer(200, text.encode())
        Handler.last = (self.command, self.path, list(self.headers.items()), body)
        if self.path == "/h":
            self.answer(200, b"hello")
        elif self.path == "/typed":
            self.answer(200, b"12", [("Content-Type", "application/x-tst; charset=utf-8")])
        elif self.path == "/dup":
            self.answer(200, b"dup", [("X-Dup", "1"), ("X-Dup", "2")])
        elif self.path == "/redirect":
            self.answer(302, b"", [("Location", "/h")])
        elif self.path == "/big":
            self.answer(200, BIG)
        elif self.path == "/lines":
            self.answer(200, b"a\r\nb\n\nc")
        elif self.path == "/slow":
            time.sleep(2)
            self.answer(200, b"late")
        elif self.path == "/hang":
            time.sleep(3600)
        else:
            self.answer(404, b"no such page")

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = serve


def main():
    command = sys.argv[1:]
    if command[:1] == ["--"]:
        command = command[1:]
    # Under user-mode emulation Wine's HTTP request object still hangs or
    # dies now and then in a freshly made prefix: the table runs there only
    # when asked (ZOL_HTTP_TESTS=1), as the GUI tests do.
    mark = os.environ.get("ZOL_EMULATION_MARK", "/var/lib/zol/emulated-i386")
    if command and os.path.exists(mark) and os.environ.get("ZOL_HTTP_TESTS") != "1":
        print("http table: skipped under user-mode emulation (set ZOL_HTTP_TESTS=1 to run)")
        return 77
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    base = "http://127.0.0.1:%d" % server.server_address[1]
    if not command:
        print(base, flush=True)
        server.serve_forever()
        return 0
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ, ZOL_HTTP=base, no_proxy="127.0.0.1,localhost")
    for name in ("http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"):
        env.pop(name, None)
    run = subprocess.run(command, env=env, stdout=subprocess.PIPE)
    server.shutdown()
    sys.stdout.write(run.stdout.decode("utf-8", "replace"))
    return run.returncode


if __name__ == "__main__":
    sys.exit(main())
