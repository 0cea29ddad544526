#!/usr/bin/python3
"""A members-only site on 127.0.0.1 for the tests of pages behind a login: a form POST to /login
sets a session cookie (one that ends with the browser, as many sites' "stay logged in" does),
/members redirects to /login without a live session, and the test can end every session.

Run alone, it serves until killed and prints its port: login_site.py [USER PASSWORD].
"""

import secrets
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LOGIN_PAGE = """<!DOCTYPE html><html><head><meta charset="utf-8"><title>会員ログイン</title></head>
<body><h1>会員ログイン</h1><form method="post" action="/login">
<p>ユーザー名 <input name="user" autofocus></p><p>パスワード <input type="password" name="password"></p>
<p><button type="submit">ログイン</button></p></form></body></html>"""


class LoginSite:
    def __init__(self, user="korvani", password="secret"):
        self.user, self.password = user, password
        self.sessions = set()
        self.lines = ["会員のみなさまへ"]
        self.hits = {}
        self.logins = 0
        self.lock = threading.Lock()
        site = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def send(self, status, body=b"", headers=()):
                self.send_response(status)
                for name, value in headers:
                    self.send_header(name, value)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def session(self):
                for part in self.headers.get("Cookie", "").split(";"):
                    name, _, value = part.strip().partition("=")
                    if name == "sid" and value in site.sessions:
                        return value
                return None

            def do_GET(self):
                path = self.path.split("?", 1)[0]
                with site.lock:
                    site.hits[path] = site.hits.get(path, 0) + 1
                    live = self.session() is not None
                    lines = list(site.lines)
                if path == "/login":
                    self.send(200, LOGIN_PAGE.encode())
                elif path == "/members" and live:
                    body = "".join("<p>%s</p>" % line for line in lines)
                    self.send(200, ("<!DOCTYPE html><html><head><meta charset='utf-8'><title>会員ページ</title>"
                                    "</head><body>%s<p><a href='/logout'>ログアウト</a></p></body></html>"
                                    % body).encode())
                elif path == "/members":
                    self.send(302, headers=[("Location", "/login")])
                else:
                    self.send(404, b"<html><body>not here</body></html>")

            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                form = urllib.parse.parse_qs(self.rfile.read(length).decode("utf-8", "replace"))
                if self.path != "/login" or form.get("user") != [site.user] or form.get("password") != [site.password]:
                    self.send(200, LOGIN_PAGE.encode())
                    return
                token = secrets.token_hex(16)
                with site.lock:
                    site.sessions.add(token)
                    site.logins += 1
                self.send(303, headers=[("Location", "/members"), ("Set-Cookie", "sid=%s; Path=/; HttpOnly" % token)])

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.server.server_address[1], path)

    def count(self, path):
        with self.lock:
            return self.hits.get(path, 0)

    def set_lines(self, lines):
        with self.lock:
            self.lines = list(lines)

    def end_sessions(self):
        with self.lock:
            self.sessions.clear()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


if __name__ == "__main__":
    site = LoginSite(*sys.argv[1:3])
    print(site.server.server_address[1], flush=True)
    threading.Event().wait()
