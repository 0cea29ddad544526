#!/usr/bin/python3
"""Pages for the browser tests, served on 127.0.0.1.

Prints "<http port> <https port>" on one line once both listen (the https port is 0 without
--cert/--key). A POST is recorded in --record as post.json (method, path, headers) and
post.body (the bytes as received). With --pages, /files/NAME serves the file NAME of that folder
as UTF-8 HTML, read at every request, so a test can change a page between two visits. With
--log, every request's path is appended to that file as one line. Under /px/ lie pages full of
what only paints (pictures, fonts, video, plugin content, all of it under /px/img/, /px/font/,
/px/media/ and /px/plugin/); /ja/ENCODING serves tests/data/pages/japanese.html in utf-8,
shift_jis or euc-jp.
"""

import argparse
import json
import os
import random
import ssl
import struct
import sys
import threading
import time
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PAGES = {
    "/lines": ("text/html", "<html><head><title>lines</title></head>"
               "<body><p>a</p><p>b</p><div>c<br>d</div></body></html>"),
    "/japanese": ("text/html; charset=utf-8",
                  "<html><head><meta charset='utf-8'><title>巡回テスト 大阪</title></head>"
                  "<body>本日は晴天なり</body></html>"),
    "/notitle": ("text/html", "<html><body>untitled</body></html>"),
    "/dir/links": ("text/html; charset=utf-8",
                   "<html><head><title>links</title></head><body>"
                   "<a href='sub/page'>Sub page</a>"
                   "<a name='anchor-only'>not a link</a>"
                   "<a href='/top?q=1&amp;r=2'>Top</a>"
                   "<a href='../up#frag'><img alt='' src='/none.png'></a>"
                   "<a href='mailto:someone@example.invalid'>Mail  me</a>"
                   "<map name='m'><area href='area-target' shape='rect' coords='0,0,1,1'></map>"
                   "<a href='http://127.0.0.1:1/elsewhere'>全角ＡＢＣ</a>"
                   "</body></html>"),
    "/nolinks": ("text/html", "<html><body><p>nothing to follow</p></body></html>"),
    # Moves on by itself once the test opens the gate, whatever happened to the browser meanwhile.
    "/selfredirect": ("text/html", "<html><body>moving on<script>"
                      "function poll() { fetch('/gate').then(function (r) { return r.text(); }).then("
                      "function (t) { if (t == 'open') location.href = '/slow?ms=3000'; else setTimeout(poll, 50); },"
                      " function () { setTimeout(poll, 50); }); }"
                      "poll();</script></body></html>"),
    "/frameset": ("text/html", "<html><head><title>frames</title></head>"
                  "<frameset cols='*'><frame src='/lines'></frameset></html>"),
    "/svg": ("image/svg+xml", "<svg xmlns='http://www.w3.org/2000/svg'><text y='20'>svg text</text>"
             "<a href='/lines'><text y='40'>svg link</text></a></svg>"),
    "/bodyless": ("text/html", "<html><head><title>bodyless</title></head><body>gone soon<script>"
                  "document.documentElement.removeChild(document.body);</script></body></html>"),
    "/leave": ("text/html", "<html><head><title>leave</title></head><body><input id='box'>a form"
               "<script>window.addEventListener('beforeunload', function (e) {"
               " e.preventDefault(); e.returnValue = 'unsaved'; return 'unsaved'; });</script></body></html>"),
    "/toc": ("text/html; charset=utf-8",
             "<html><head><title>目次</title></head><body>"
             + "".join("<p><a href='#s%d'>節 %d</a></p>" % (i, i) for i in range(50))
             + "<p><a href='#'>先頭</a></p>"
             + "".join("<h2 id='s%d'>節 %d 本文</h2>" % (i, i) for i in range(50)) + "</body></html>"),
    "/many": ("text/html; charset=utf-8", "<html><head><title>many</title></head><body>"
              + "".join("<div>行 %d</div>" % i for i in range(60000)) + "</body></html>"),
    # Login forms as the patrol meets them: only a field the user could type into counts.
    "/pw/visible": ("text/html", "<html><body><form>user <input name=u> <input type=password name=p></form></body></html>"),
    "/pw/none": ("text/html", "<html><body><form>search <input name=q></form></body></html>"),
    "/pw/hidden": ("text/html", "<html><body><div style='display:none'><input type=password></div>text</body></html>"),
    "/pw/invisible": ("text/html", "<html><body><input type=password style='visibility:hidden'>text</body></html>"),
    "/pw/shadow": ("text/html", "<html><body><div id=host></div><script>"
                   "document.getElementById('host').attachShadow({mode: 'open'}).innerHTML ="
                   " '<input type=password>';</script></body></html>"),
    "/dialogs": ("text/html",
                 "<html><head><title>dialogs</title></head><body><script>"
                 "for (var i = 0; i < 200; ++i) alert('alert ' + i);"
                 "var c = confirm('sure?');"
                 "var p = prompt('name?', 'default');"
                 "var w = window.open('/lines');"
                 "document.body.appendChild(document.createTextNode("
                 "'confirm=' + c + ' prompt=' + p + ' open=' + w));"
                 "setInterval(function() { alert('again'); }, 5);"
                 "</script></body></html>"),
}


DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "pages")
ENCODINGS = {"utf-8": "utf-8", "shift_jis": "cp932", "euc-jp": "euc_jp"}


def noise_png(side):
    """A picture of noise, side by side pixels: it neither compresses nor decodes for free."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + random.randbytes(side * 3) for _ in range(side))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 1)) + chunk(b"IEND", b""))


PAINT_ONLY = {"/px/img/": ("image/png", noise_png(48)), "/px/font/": ("font/woff2", b"wOF2" + bytes(2000)),
              "/px/media/": ("video/mp4", bytes(2000)), "/px/plugin/": ("application/x-shockwave-flash", bytes(2000))}


def html(title, body, head=""):
    return ("text/html; charset=utf-8", "<html><head><meta charset='utf-8'><title>%s</title>%s</head><body>%s</body></html>"
            % (title, head, body))


PAGES.update({
    "/px/photos": html("写真の多いページ", "".join(
        "<p>記事の行 %d：大阪の天気は晴れ</p>" % i + ("<img src='/px/img/p%d.png' width='400' height='300'>" % i
                                                      if i % 10 == 0 else "") for i in range(300)),
        "<link rel='preload' as='image' href='/px/img/preload.png'>"
        "<style>body { background: url(/px/img/back.png); }</style>"),
    "/px/onlyimages": html("画像だけ", "".join("<img src='/px/img/o%d.png'>" % i for i in range(20))),
    "/px/onload": html("onload", "<p>画像の前の行</p><img src='/px/img/load.png' onload=\"var d = "
                       "document.createElement('p'); d.textContent = '画像の後の行'; document.body.appendChild(d);\">"),
    "/px/lazy": html("lazy", "<p>最初から見える行</p>"
                     + "".join("<img src='/px/img/l%d.png' width='800' height='400'>" % i for i in range(10))
                     + "<div id='end'>末尾</div><script>new IntersectionObserver(function (e) {"
                     " if (e[0].isIntersecting) { var d = document.createElement('p');"
                     " d.textContent = 'スクロールで現れる行'; document.body.appendChild(d); } })"
                     ".observe(document.getElementById('end'));</script>"),
    "/px/alt": html("alt", "<p>前の行</p><img src='/px/img/alt.png' alt='代替テキスト'><p>後の行</p>"),
    "/px/videos": html("videos", "<p>動画の一覧</p>" + "".join(
        "<video src='/px/media/v%d.mp4' preload='auto' autoplay muted></video>" % i for i in range(2000))),
    "/px/icons": html("icons", "".join("<p><i class='i'>&#x%x;</i> 項目 %d</p>" % (0xe000 + i, i) for i in range(30)),
                      "<style>@font-face { font-family: icons; src: url(/px/font/icons.woff2); }"
                      " .i { font-family: icons; }</style>"),
    "/px/object": html("object", "<object data='/px/plugin/movie.swf' type='application/x-shockwave-flash'>"
                       "プラグインの代わりの行</object><embed src='/px/plugin/clip.swf'>"
                       "<object data='/japanese' type='text/html'>埋め込みの代わりの行</object><p>本文の行</p>"),
})


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    record_dir = None
    pages_dir = None
    log_file = None

    def log_message(self, *args):
        pass

    def send_page(self, ctype, body, status=200):
        data = body.encode("utf-8") if isinstance(body, str) else body
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        if self.log_file:
            with open(self.log_file, "a", encoding="utf-8") as f:
                f.write(self.path + "\n")
        query = self.path.partition("?")[2]
        if path == "/status":
            code = int(query[5:]) if query.startswith("code=") else 500
            self.send_page("text/html", "<html><body>status %d text</body></html>" % code, code)
            return
        if path == "/gate":
            opened = self.record_dir and os.path.exists(os.path.join(self.record_dir, "gate"))
            self.send_page("text/plain", "open" if opened else "shut")
            return
        if path == "/nocontent":
            self.send_response(204)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if path == "/attachment":
            data = b"a file, not a page"
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Disposition", "attachment; filename=notes.txt")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)
            return
        if path == "/archive.zip":
            self.send_page("application/zip", b"PK\x03\x04" + b"\0" * 60)
            return
        if path == "/silent":
            # Takes the request and never answers.
            while True:
                time.sleep(1)
        if path == "/slow":
            # The first half at once, the rest after a pause: the page is loading meanwhile.
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Cache-Control", "no-store")
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(b"<html><body><p>first half</p>" + b" " * 2048)
            self.wfile.flush()
            time.sleep(int(query[3:]) / 1000 if query.startswith("ms=") else 1.5)
            self.wfile.write(b"<p>second half</p></body></html>")
            self.close_connection = True
            return
        if path == "/never":
            # Some text, then nothing more on a connection that stays open.
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Cache-Control", "no-store")
            self.send_header("Connection", "close")
            self.end_headers()
            more = b"<div>second line</div>" if "lines" in self.path else b""
            self.wfile.write(b"<html><head><title>never</title></head><body><p>partial text</p>" + more
                             + b" " * 2048)
            self.wfile.flush()
            while True:
                time.sleep(1)
        for prefix, (ctype, data) in PAINT_ONLY.items():
            if path.startswith(prefix):
                self.send_page(ctype, data)
                return
        if path.startswith("/ja/") and path[4:] in ENCODINGS:
            with open(os.path.join(DATA, "japanese.html"), encoding="utf-8") as f:
                page = f.read().replace("{charset}", path[4:])
            self.send_page("text/html", page.encode(ENCODINGS[path[4:]]))
            return
        if self.pages_dir and path.startswith("/files/"):
            name = os.path.basename(path[len("/files/"):])
            try:
                with open(os.path.join(self.pages_dir, name), "rb") as f:
                    self.send_page("text/html; charset=utf-8", f.read())
            except OSError:
                self.send_page("text/html", "<html><body>missing</body></html>", 404)
            return
        if path in PAGES:
            self.send_page(*PAGES[path])
        else:
            self.send_page("text/html", "<html><body>missing</body></html>", 404)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        if self.record_dir:
            with open(os.path.join(self.record_dir, "post.body"), "wb") as f:
                f.write(body)
            with open(os.path.join(self.record_dir, "post.json"), "w", encoding="utf-8") as f:
                json.dump({"method": self.command, "path": self.path,
                           "headers": [[k, v] for k, v in self.headers.items()]}, f)
        self.send_page("text/html", "<html><head><title>thanks</title></head>"
                       "<body>received %d bytes</body></html>" % len(body))


def serve(server):
    threading.Thread(target=server.serve_forever, daemon=True).start()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--record")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--pages")
    parser.add_argument("--log")
    args = parser.parse_args()
    Handler.record_dir = args.record
    Handler.pages_dir = args.pages
    Handler.log_file = args.log

    ThreadingHTTPServer.daemon_threads = True
    plain = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    serve(plain)
    tls_port = 0
    if args.cert and args.key:
        secure = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        secure.socket = context.wrap_socket(secure.socket, server_side=True)
        serve(secure)
        tls_port = secure.server_address[1]
    print(plain.server_address[1], tls_port, flush=True)
    # Ends when the test closes our standard input or kills us.
    sys.stdin.read()


if __name__ == "__main__":
    main()
