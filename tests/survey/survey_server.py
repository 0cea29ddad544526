#!/usr/bin/python3
"""A survey receiver on 127.0.0.1 for the survey tests.

Prints its port once it listens. Every POST is recorded in --record as post.json (method, path,
headers) and post.body (the bytes as received). A POST to /silent is recorded and then never
answered; a GET of /never sends part of a page and then nothing more.
"""

import argparse
import json
import os
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    record_dir = None

    def log_message(self, *args):
        pass

    def send_page(self, body):
        data = body.encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(data)

    def stall(self):
        while True:
            time.sleep(1)

    def do_GET(self):
        if self.path == "/never":
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(b"<html><body><p>still loading</p>" + b" " * 2048)
            self.wfile.flush()
            self.stall()
        self.send_page("<html><body>page</body></html>")

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        # The body first: the test takes post.json as the sign that the post is complete.
        with open(os.path.join(self.record_dir, "post.body"), "wb") as f:
            f.write(body)
        meta = os.path.join(self.record_dir, "post.json")
        with open(meta + ".tmp", "w", encoding="utf-8") as f:
            json.dump({"method": self.command, "path": self.path,
                       "headers": [[k, v] for k, v in self.headers.items()]}, f)
        os.replace(meta + ".tmp", meta)
        if self.path == "/silent":
            self.stall()
        self.send_page("<html><head><title>thanks</title></head>"
                       "<body>received %d bytes</body></html>" % len(body))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--record", required=True)
    args = parser.parse_args()
    Handler.record_dir = args.record

    ThreadingHTTPServer.daemon_threads = True
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(server.server_address[1], flush=True)
    # Ends when the test closes our standard input or kills us.
    sys.stdin.read()


if __name__ == "__main__":
    main()
