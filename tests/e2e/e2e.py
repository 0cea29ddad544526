#!/usr/bin/python3
"""The built program as its user meets it: korvani copied into a folder with a prepared KVN.ini,
patrolling pages served here on 127.0.0.1, mailing through real SMTP and POP3 servers, stopped
with SIGTERM. Each scenario checks what arrives in the mailbox and what KVN.ini holds afterwards.

Usage: e2e.py SCENARIO... (or "all"); the environment names the program and the mail servers:
KORVANI_EXE, KORVANI_MAIL_RUN (the fixture's run folder), KORVANI_MAIL_PORT_BASE.
"""

import base64
import email
import email.header
import email.policy
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

EXE = os.environ.get("KORVANI_EXE", "build/app/korvani")
RUN = os.environ.get("KORVANI_MAIL_RUN", "")
BASE = int(os.environ.get("KORVANI_MAIL_PORT_BASE", "0") or 0)
TAG = "%d" % os.getpid()


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


# ---------------------------------------------------------------- pages

class Pages:
    def __init__(self):
        self.pages = {}
        self.hits = {}
        self.times = {}
        self.lock = threading.Lock()
        pages = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                path = self.path.split("?", 1)[0]
                with pages.lock:
                    pages.hits[path] = pages.hits.get(path, 0) + 1
                    pages.times.setdefault(path, []).append(time.time())
                    body = pages.pages.get(path)
                if path == "/busy":
                    return self.busy()
                if path == "/never":
                    self.send_response(200)
                    self.send_header("Content-Type", "text/html; charset=utf-8")
                    self.send_header("Connection", "close")
                    self.end_headers()
                    self.wfile.write("<html><body><div>読み込み中</div><div>続き</div>".encode() + b" " * 4096)
                    self.wfile.flush()
                    try:
                        while True:
                            time.sleep(1)
                    except OSError:
                        return
                self.answer(body)

            def do_HEAD(self):
                if self.path == "/busy":
                    return self.busy(body=False)
                self.send_response(405)
                self.send_header("Content-Length", "0")
                self.end_headers()

            def busy(self, body=True):
                data = b"<html><body>too many</body></html>"
                self.send_response(429)
                self.send_header("Retry-After", "20")
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                if body:
                    self.wfile.write(data)

            def answer(self, body):
                if body is None:
                    data = b"<html><body>not here</body></html>"
                    self.send_response(404)
                else:
                    data = body.encode("utf-8")
                    self.send_response(200)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(data)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(data)

        ThreadingHTTPServer.daemon_threads = True
        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.base = "http://127.0.0.1:%d" % self.server.server_address[1]

    def url(self, path):
        return self.base + path

    def put(self, path, title, lines, links=(), extra=""):
        html = ["<html><head><meta charset='utf-8'><title>%s</title></head><body>%s" % (title, extra)]
        html += ["<div>%s</div>" % line for line in lines]
        html += ["<div><a href='%s'>%s</a></div>" % (href, text) for text, href in links]
        html.append("<div>おわり</div></body></html>")
        with self.lock:
            self.pages[path] = "".join(html)

    def count(self, path):
        with self.lock:
            return self.hits.get(path, 0)


# ---------------------------------------------------------------- the program

def ini_text(sections):
    out = []
    for name, values in sections.items():
        out.append("[%s]" % name)
        out += ["%s=%s" % kv for kv in values.items()]
    return "\r\n".join(out) + "\r\n"


def read_ini(path):
    sections, current = {}, None
    with open(path, "rb") as f:
        text = f.read().decode("cp932")
    for line in text.split("\r\n"):
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1].upper(), {})
        elif "=" in line and current is not None:
            key, value = line.split("=", 1)
            current[key.strip().upper()] = value.strip()
    return sections


RUNNING = []


class Korvani:
    def __init__(self, folder, display=None, env=None):
        self.folder = folder
        self.display = display
        self.env = env or {}
        self.proc = None
        if not os.path.exists(os.path.join(folder, "korvani")):
            shutil.copy(EXE, os.path.join(folder, "korvani"))

    def write(self, sections):
        with open(os.path.join(self.folder, "KVN.ini"), "wb") as f:
            f.write(ini_text(sections).encode("cp932"))

    def start(self, journal=False, **extra):
        """extra: environment variables to set, or with None to unset."""
        env = dict(os.environ, LANG="C.UTF-8")
        for key, value in extra.items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        if self.display:
            env["DISPLAY"] = self.display
            env["QT_QPA_PLATFORM"] = "xcb"
        else:
            env["QT_QPA_PLATFORM"] = "offscreen"
        if os.geteuid() == 0:
            env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"
        env.update(self.env)
        self.log = open(os.path.join(self.folder, "korvani.log"), "ab")
        if journal:
            # As systemd names the stream it hands a service for its standard error.
            st = os.fstat(self.log.fileno())
            env["JOURNAL_STREAM"] = "%d:%d" % (st.st_dev, st.st_ino)
        self.proc = subprocess.Popen([os.path.join(self.folder, "korvani")], cwd="/", env=env,
                                     stdout=self.log, stderr=self.log)
        RUNNING.append(self.proc)
        wait_until(self.catches_term, 30, "the program never set up its signal handler")
        time.sleep(0.3)

    def catches_term(self):
        check(self.proc.poll() is None, "the program ended by itself (exit %s)" % self.proc.returncode)
        try:
            with open("/proc/%d/status" % self.proc.pid) as f:
                for line in f:
                    if line.startswith("SigCgt:"):
                        return (int(line.split()[1], 16) >> (signal.SIGTERM - 1)) & 1
        except OSError:
            pass
        return False

    def kill(self):
        """Like a power cut or the out-of-memory killer: nothing runs after it."""
        self.proc.kill()
        self.proc.wait()
        self.log.close()

    def log_text(self):
        with open(os.path.join(self.folder, "korvani.log"), encoding="utf-8", errors="replace") as f:
            return f.read()

    def stop(self, limit=5.0):
        started = time.time()
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(limit)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise Failure("the program did not end within %.0f s of SIGTERM" % limit)
        self.log.close()
        check(self.proc.returncode == 0, "the program ended with %s" % self.proc.returncode)
        return time.time() - started, read_ini(os.path.join(self.folder, "KVN.ini"))


def wait_until(condition, seconds, message):
    end = time.time() + seconds
    while time.time() < end:
        if condition():
            return
        time.sleep(0.1)
    raise Failure(message)


# ---------------------------------------------------------------- mail

def decode_header(value):
    return str(email.header.make_header(email.header.decode_header(value or "")))


def mails_in(folder, recipient):
    found = []
    for sub in ("new", "cur"):
        d = os.path.join(folder, sub)
        if not os.path.isdir(d):
            continue
        for name in sorted(os.listdir(d)):
            with open(os.path.join(d, name), "rb") as f:
                raw = f.read()
            # The test server puts two envelope lines in front of the message.
            head, _, rest = raw.partition(b"\n")
            head2, _, rest = rest.partition(b"\n")
            if recipient.encode() not in head + head2:
                continue
            msg = email.message_from_bytes(rest, policy=email.policy.compat32)
            body = base64.b64decode(msg.get_payload()).decode("utf-8")
            found.append((os.stat(os.path.join(d, name)).st_mtime_ns, decode_header(msg["Subject"]), body))
    return [(s, b) for _, s, b in sorted(found)]


def fixture_mails(recipient):
    return mails_in(os.path.join(RUN, "Maildir"), recipient)


def mail_settings(recipient, **extra):
    settings = {"SMTP_SERVER": "127.0.0.1:%d" % (BASE + 25), "FROM": "korvani@example.test",
                "TO": recipient, "TIMERTIME": "1"}
    settings.update(extra)
    return settings


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class MuteSmtp:
    """Takes each message with 250 and then never answers QUIT, holding the line open. With
    hold_data, the 250 waits until release is set; received is set once a message is in."""

    def __init__(self, close_after_data=False, hold_data=False):
        self.messages = []
        self.lock = threading.Lock()
        self.close_after_data = close_after_data
        self.hold_data = hold_data
        self.received = threading.Event()
        self.release = threading.Event()
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(5)
        self.port = self.sock.getsockname()[1]
        self.held = []
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()

    def serve(self, conn):
        f = conn.makefile("rb")
        try:
            conn.sendall(b"220 mute ready\r\n")
            while True:
                line = f.readline()
                if not line:
                    return
                verb = line[:4].upper()
                if verb == b"DATA":
                    conn.sendall(b"354 go ahead\r\n")
                    message = b""
                    while not message.endswith(b"\r\n.\r\n"):
                        chunk = f.readline()
                        if not chunk:
                            return
                        message += chunk
                    with self.lock:
                        self.messages.append(message)
                    self.received.set()
                    if self.hold_data:
                        self.release.wait()
                    conn.sendall(b"250 OK taken\r\n")
                    if self.close_after_data:
                        conn.close()
                        return
                elif verb == b"QUIT":
                    self.held.append(conn)  # never answered, never closed
                    return
                else:
                    conn.sendall(b"250 OK\r\n")
        except OSError:
            return

    def count(self):
        with self.lock:
            return len(self.messages)

    def close(self):
        self.sock.close()
        for c in self.held:
            c.close()


# ---------------------------------------------------------------- scenarios

def japanese_pages(pages, folder, display=None):
    """Two Japanese targets, AND, NOT, "|" and a link-only condition followed one level deep."""
    to = "japanese-%s-%s@example.test" % (TAG, "x" if display else "o")
    pages.put("/jobs", "求人　関西", ["大阪府の求人　ＡＢＣ商事", "大阪と東京の求人", "　", "京都の求人"],
              [("詳細はこちら", "/detail"), ("地図", "/map")])
    pages.put("/detail", "詳細", ["詳細だけの行", "奈良の大仏", "詳細　兵庫の支店"], [("詳細 奥へ", "/deeper")])
    pages.put("/map", "地図", ["地図の説明"])
    pages.put("/deeper", "奥", ["奈良の奥の行"])
    pages.put("/weather", "天気", ["兵庫県は晴れ", "ＡＢＣ１２３　", "東京は雨"])
    k = Korvani(folder, display)
    k.write({"MAIL": mail_settings(to, TOPLINE="2", ENDLINE="1", SUBJECT="0"),
             "KEYWORD": {"KEY0": "大阪 -東京", "KEY1": "兵庫|奈良", "KEY2": "@ 詳細", "KEY5": "abc\\d+"},
             "URL": {"URL3": pages.url("/jobs"), "URL7": pages.url("/weather")}})
    k.start()
    wait_until(lambda: len(fixture_mails(to)) >= 3 and pages.count("/jobs") >= 2, 60, "three mails did not arrive")
    time.sleep(2)
    seconds, ini = k.stop()
    mails = fixture_mails(to)
    jobs, detail, weather = pages.url("/jobs"), pages.url("/detail"), pages.url("/weather")
    expected = [
        ("求人　関西", jobs + "\r\n大阪府の求人 ABC商事\r\n--\r\n求人　関西"),
        ("詳細", detail + "\r\n奈良の大仏\r\n詳細 兵庫の支店\r\n--\r\n詳細"),
        ("天気", weather + "\r\n兵庫県は晴れ\r\nABC123\r\n--\r\n天気"),
    ]
    check(mails == expected, "mails: %r" % mails)
    check(pages.count("/deeper") == 0, "a link of a linked page was followed")
    check(pages.count("/map") == 0, "a link that hits nothing was followed")
    history = set(ini.get("RIREKI", {}).values())
    for line in ("大阪府の求人 ABC商事", "奈良の大仏", "詳細 兵庫の支店", "兵庫県は晴れ", "ABC123"):
        check(line in history, "history lacks %s: %r" % (line, ini.get("RIREKI")))
    check(ini["URL"].get("URL0") == jobs and ini["URL"].get("URL1") == weather, "targets: %r" % ini["URL"])
    check(ini["KEYWORD"].get("KEY0") == "@ 詳細", "conditions not saved sorted: %r" % ini["KEYWORD"])
    log = k.log_text()
    visits = [line for line in log.splitlines() if " target " in line]
    check(visits and all(line.startswith("korvani: 20") for line in visits), "log on a terminal: %r" % visits[:3])
    check_engine_quiet(log)
    return "%d mails, ended %.1f s after SIGTERM" % (len(mails), seconds)


def changing_page(pages, folder):
    """Only new lines are mailed; after a restart nothing already mailed goes out again."""
    to = "changing-%s@example.test" % TAG
    pages.put("/news", "ニュース", ["新着 一", "古い記事"])
    k = Korvani(folder)
    k.write({"MAIL": mail_settings(to, SUBJECT="1"), "KEYWORD": {"KEY0": "新着"},
             "URL": {"URL0": pages.url("/news")}})
    k.start()
    wait_until(lambda: len(fixture_mails(to)) == 1, 30, "the first mail did not arrive")
    pages.put("/news", "ニュース", ["新着 二", "新着 一", "古い記事"])
    wait_until(lambda: len(fixture_mails(to)) == 2, 30, "the second mail did not arrive")
    visits = pages.count("/news")
    wait_until(lambda: pages.count("/news") >= visits + 2, 30, "the patrol stopped")
    k.stop()
    k.start()
    visits = pages.count("/news")
    wait_until(lambda: pages.count("/news") >= visits + 3, 30, "the patrol did not resume after the restart")
    check(len(fixture_mails(to)) == 2, "mailed again after the restart: %r" % fixture_mails(to))
    pages.put("/news", "ニュース", ["新着 三", "新着 二", "新着 一"])
    wait_until(lambda: len(fixture_mails(to)) == 3, 30, "the third mail did not arrive")
    seconds, ini = k.stop()
    bodies = [b for _, b in fixture_mails(to)]
    check(bodies == ["新着 一\r\n", "新着 二\r\n", "新着 三\r\n"], "bodies: %r" % bodies)
    check([s for s, _ in fixture_mails(to)] == ["[KVS]"] * 3, "subjects")
    check(list(ini["RIREKI"].values())[:3] == ["新着 三", "新着 二", "新着 一"], "history: %r" % ini["RIREKI"])
    return "3 mails over 2 runs, none twice"


def smtp_down(pages, folder):
    """A visit while the SMTP server is down keeps its lines; they arrive at the next visit."""
    from aiosmtpd.controller import Controller

    class Keep:
        def __init__(self):
            self.messages = []

        async def handle_DATA(self, server, session, envelope):
            self.messages.append(envelope.content)
            return "250 OK"

    port = free_port()
    to = "down-%s@example.test" % TAG
    pages.put("/status", "状態", ["障害 発生中"])
    k = Korvani(folder)
    k.write({"MAIL": mail_settings(to, SMTP_SERVER="127.0.0.1:%d" % port), "KEYWORD": {"KEY0": "障害"},
             "URL": {"URL0": pages.url("/status")}})
    k.start()
    wait_until(lambda: pages.count("/status") >= 2, 30, "the page was not visited")
    keep = Keep()
    controller = Controller(keep, hostname="127.0.0.1", port=port)
    controller.start()
    try:
        wait_until(lambda: keep.messages, 30, "the kept lines never arrived")
        visits = pages.count("/status")
        wait_until(lambda: pages.count("/status") >= visits + 2, 30, "the patrol stopped")
    finally:
        controller.stop()
    _, ini = k.stop()
    check(len(keep.messages) == 1, "%d mails instead of one" % len(keep.messages))
    msg = email.message_from_bytes(keep.messages[0], policy=email.policy.compat32)
    check(base64.b64decode(msg.get_payload()).decode() == "障害 発生中\r\n", "body")
    check(ini["RIREKI"].get("TEXT0") == "障害 発生中", "history: %r" % ini.get("RIREKI"))
    return "mailed once after the server came back"


def pop_before_smtp(pages, folder):
    """CHECK2 "1": a POP login precedes the mail. The program verifies certificates against the
    system's store, which does not know the test certificate, so this runs servers of its own whose
    POP3 offers no STLS."""
    run = os.path.join(folder, "servers")
    base = BASE + 4000
    servers = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mail", "servers")
    subprocess.run([os.path.join(servers, "start"), run, str(base)], check=True,
                   env=dict(os.environ, KORVANI_POP_TLS="no"), stdout=subprocess.DEVNULL)
    try:
        to = "pop-%s@example.test" % TAG
        pages.put("/pop", "POP", ["郵便 試験行"])
        k = Korvani(folder)
        k.write({"MAIL": mail_settings(to, SMTP_SERVER="127.0.0.1:%d" % (base + 25), CHECK2="1",
                                       POP_SERVER="127.0.0.1:%d" % (base + 110), POP_ACCOUNT="korvani",
                                       POP_PASSWORD="pop-secret"),
                 "KEYWORD": {"KEY0": "郵便"}, "URL": {"URL0": pages.url("/pop")}})
        k.start()
        wait_until(lambda: mails_in(os.path.join(run, "Maildir"), to), 30, "the mail did not arrive")
        k.stop()
        with open(os.path.join(run, "dovecot.log"), "rb") as f:
            logins = re.findall(rb"pop3-login: Info: Login: user=<korvani>", f.read())
        check(logins, "no POP login in the dovecot log")
        mails = mails_in(os.path.join(run, "Maildir"), to)
        check(mails[0][1] == "郵便 試験行\r\n", "body: %r" % mails)
        return "%d POP login(s) before the mail" % len(logins)
    finally:
        subprocess.run([os.path.join(servers, "stop"), run], stdout=subprocess.DEVNULL)


def bad_pages(pages, folder):
    """A page that never ends, one that does not exist and one of 50,000 lines: the patrol goes on."""
    to = "bad-%s@example.test" % TAG
    big = ["行 %d の内容です" % i for i in range(50000)]
    big[49998] = "巨大な頁の的"
    pages.put("/big", "big", big)
    pages.put("/last", "last", ["最後の的"])
    k = Korvani(folder)
    k.write({"MAIL": mail_settings(to), "KEYWORD": {"KEY0": "的$"},
             "URL": {"URL0": pages.url("/never"), "URL1": pages.url("/missing"), "URL2": pages.url("/big"),
                     "URL3": pages.url("/last")}})
    started = time.time()
    k.start()
    wait_until(lambda: len(fixture_mails(to)) >= 2, 90, "the patrol did not get past the bad pages")
    took = time.time() - started
    k.stop()
    bodies = [b for _, b in fixture_mails(to)]
    check(bodies == ["巨大な頁の的\r\n", "最後の的\r\n"], "bodies: %r" % bodies)
    check(pages.count("/missing") >= 1 and pages.count("/never") >= 1, "a target was skipped")
    return "past all of them in %.0f s" % took


def image_heavy(pages, folder):
    """A page of photographs, a web font and a video: its lines are mailed as ever, nothing that
    only paints is fetched, and the visit's log line tells what it cost."""
    to = "pixels-%s@example.test" % TAG
    paint = ("<style>@font-face { font-family: f; src: url(/font/f.woff2); }"
             " body { font-family: f; background: url(/img/back.jpg); }</style><link rel='icon' href='/img/icon.png'>"
             + "".join("<img src='/img/p%d.jpg' width='400' height='300' alt='写真 %d'>" % (i, i) for i in range(30))
             + "<video src='/media/v.mp4' poster='/img/poster.jpg' preload='auto' autoplay muted></video>")
    lines = ["写真 %d 枚目の説明" % i for i in range(30)] + ["ＡＢＣ１２３　大阪の求人", "東京の求人"]
    pages.put("/photos", "写真", lines, extra=paint)
    k = Korvani(folder)
    k.write({"MAIL": mail_settings(to, SUBJECT="0"), "KEYWORD": {"KEY0": "大阪|説明$"},
             "URL": {"URL0": pages.url("/photos")}})
    k.start()
    wait_until(lambda: fixture_mails(to) and pages.count("/photos") >= 2, 30, "the mail did not arrive")
    k.stop()
    expected = [("写真", "".join(line + "\r\n" for line in lines[:30]) + "ABC123 大阪の求人\r\n")]
    check(fixture_mails(to) == expected, "mails: %r" % fixture_mails(to))
    with pages.lock:
        painted = [p for p in pages.hits if p.startswith(("/img/", "/font/", "/media/"))]
    check(not painted, "fetched what only paints: %r" % painted)
    cost = re.findall(r"target %s \[正常\] lines=32 new=31 mail=sent ms=(\d+) bytes=(\d+) rss=(\d+)M"
                      % re.escape(pages.url("/photos")), k.log_text())
    check(cost, "no cost in the log line: %r" % k.log_text()[-600:])
    ms, size, rss = (int(x) for x in cost[0])
    check(size >= len(pages.pages["/photos"].encode()) and rss > 0, "cost: %r" % (cost[0],))
    return "%d ms, %d bytes, %d MiB" % (ms, size, rss)


def sigterm_mid_load(pages, folder):
    """SIGTERM while a page loads: the lists are saved and the program ends within 5 s."""
    k = Korvani(folder)
    k.write({"MAIL": {"TIMERTIME": "1"}, "KEYWORD": {"KEY4": "b", "KEY9": "a"},
             "URL": {"URL5": pages.url("/never")}, "RIREKI": {"TEXT0": "kept"}})
    k.start()
    wait_until(lambda: pages.count("/never") >= 1, 30, "the page was not requested")
    time.sleep(1)
    seconds, ini = k.stop(5.0)
    check(ini["KEYWORD"].get("KEY0") == "a" and ini["KEYWORD"].get("KEY1") == "b", "conditions: %r" % ini["KEYWORD"])
    check(ini["URL"].get("URL0") == pages.url("/never"), "targets: %r" % ini["URL"])
    check(ini["RIREKI"].get("TEXT0") == "kept", "history: %r" % ini["RIREKI"])
    cut = "target %s [中断] lines=0 new=0 mail=none" % pages.url("/never")
    check(k.log_text().count(cut) == 1, "no line for the visit cut short: %r" % k.log_text()[-500:])
    return "ended %.1f s after SIGTERM" % seconds


def sigterm_mid_mail(pages, folder):
    """SIGTERM while a hit mail waits on a server that never answers: the program ends within 2 s,
    the unsent line stays out of the saved history, and the next run mails it."""
    silent = socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen(5)
    held = []

    def take():
        while True:
            try:
                held.append(silent.accept()[0])
            except OSError:
                return

    threading.Thread(target=take, daemon=True).start()
    to = "midmail-%s@example.test" % TAG
    pages.put("/notice", "お知らせ", ["送信 待ちの行"])
    k = Korvani(folder)
    k.write({"MAIL": mail_settings(to, SMTP_SERVER="127.0.0.1:%d" % silent.getsockname()[1]),
             "KEYWORD": {"KEY0": "送信"}, "URL": {"URL0": pages.url("/notice")}, "RIREKI": {"TEXT0": "kept"}})
    k.start()
    try:
        wait_until(lambda: held, 30, "the mail server was never reached")
        time.sleep(0.5)
        seconds, ini = k.stop(2.0)
    finally:
        silent.close()
        for c in held:
            c.close()
    history = list(ini.get("RIREKI", {}).values())
    check("送信 待ちの行" not in history, "the unsent line was saved as sent: %r" % history)
    cut = r"target %s \[中断\] lines=\d+ new=1 mail=failed\(終了のため中断しました。\)" % re.escape(pages.url("/notice"))
    check(len(re.findall(cut, k.log_text())) == 1, "no line for the visit cut short: %r" % k.log_text()[-500:])
    check(ini["RIREKI"].get("TEXT0") == "kept", "history: %r" % ini["RIREKI"])
    sections = read_ini(os.path.join(folder, "KVN.ini"))
    sections["MAIL"]["SMTP_SERVER"] = "127.0.0.1:%d" % (BASE + 25)
    k.write(sections)
    k.start()
    wait_until(lambda: fixture_mails(to), 30, "the line was not mailed at the next run")
    k.stop()
    check([b for _, b in fixture_mails(to)] == ["送信 待ちの行\r\n"], "mails: %r" % fixture_mails(to))
    return "ended %.1f s after SIGTERM, mailed at the next run" % seconds


def error_alerts(pages, folder):
    """ERRORMAIL 2: one alert mail when the target has failed twice in a row, one when it works
    again, each visit one line on standard error, and nothing more however often it is visited."""
    to = "alerts-%s@example.test" % TAG
    url = pages.url("/flaky")
    k = Korvani(folder)
    k.write({"MAIL": mail_settings(to, ERRORMAIL="2"), "KEYWORD": {"KEY0": "回復"}, "URL": {"URL0": url}})
    k.start(journal=True)
    wait_until(lambda: fixture_mails(to), 30, "no alert mail arrived")
    # Killed between the alert and the recovery: the next start neither alerts again nor forgets.
    time.sleep(1)
    k.kill()
    k.start(journal=True)
    visits = pages.count("/flaky")
    wait_until(lambda: pages.count("/flaky") >= visits + 3, 30, "the patrol stopped")
    check(len(fixture_mails(to)) == 1, "more than one alert: %r" % fixture_mails(to))
    pages.put("/flaky", "復旧", ["回復しました"])
    wait_until(lambda: len(fixture_mails(to)) >= 3, 30, "no recovery mail arrived")
    visits = pages.count("/flaky")
    wait_until(lambda: pages.count("/flaky") >= visits + 3, 30, "the patrol stopped")
    k.stop()
    mails = fixture_mails(to)
    subjects = [s for s, _ in mails]
    check(subjects[0] == "[KVS] 巡回エラー " + url, "alert subject: %r" % subjects)
    check("連続失敗: 2回" in mails[0][1] and "ページが見つかりません（HTTP 404）" in mails[0][1], "alert body: %r" % mails[0][1])
    check(sorted(subjects[1:]) == sorted(["[KVS] 巡回回復 " + url, "復旧"]), "subjects: %r" % subjects)
    check(len(mails) == 3, "mails: %r" % subjects)
    with open(os.path.join(folder, "korvani.log"), encoding="utf-8", errors="replace") as f:
        log = f.read()
    visit_lines = [line for line in log.splitlines() if " target %s " % url in line]
    check(len(visit_lines) >= 8, "one log line per visit: %r" % visit_lines)
    check(any("[ページが見つかりません（HTTP 404）]" in line for line in visit_lines), "failures not logged: %r" % visit_lines[:3])
    check(any("[正常] lines=" in line and "mail=sent" in line for line in visit_lines), "success not logged")
    check(log.count("alert-sent") == 2, "alerts in the log: %d" % log.count("alert-sent"))
    # Standard error is the journal here: every line carries its priority, failures a warning.
    for line in log.splitlines():
        check(re.match(r"<[3-7]>", line), "a line without its priority: %r" % line)
        if " target %s " % url in line:
            priority = 5 if "[中断]" in line else 4 if "[ページが見つかりません（HTTP 404）]" in line else 6
            check(line.startswith("<%d>korvani: " % priority), "priority: %r" % line)
        if "alert-sent" in line:
            check(line.startswith("<5>korvani: "), "priority: %r" % line)
    check_engine_quiet(log)
    return "1 alert, 1 recovery over %d visits" % len(visit_lines)


def quit_unanswered(pages, folder):
    """A server that takes the mail and never answers QUIT (or closes the line at once): the patrol
    goes on within seconds, and after SIGTERM and a restart nothing is mailed again."""
    results = []
    for close in (False, True):
        server = MuteSmtp(close_after_data=close)
        try:
            path = "/quiet%d" % close
            pages.put(path, "静か", ["静かな 行一", "ほかの行"])
            sub = os.path.join(folder, "close" if close else "silent")
            os.mkdir(sub)
            k = Korvani(sub)
            k.write({"MAIL": mail_settings("q@example.test", SMTP_SERVER="127.0.0.1:%d" % server.port),
                     "KEYWORD": {"KEY0": "静か"}, "URL": {"URL0": pages.url(path)}})
            k.start()
            wait_until(lambda: server.count() == 1, 30, "the mail did not arrive")
            taken = time.time()
            visits = pages.count(path)
            wait_until(lambda: pages.count(path) >= visits + 2, 8, "the patrol waited on the goodbye")
            went_on = time.time() - taken
            k.stop()
            k.start()
            visits = pages.count(path)
            wait_until(lambda: pages.count(path) >= visits + 3, 30, "the patrol did not resume")
            k.stop()
            check(server.count() == 1, "mailed %d times" % server.count())
            results.append("%.1f s" % went_on)
        finally:
            server.close()
    return "patrol went on %s after the verdict, one mail each" % " / ".join(results)


def killed_after_mail(pages, folder):
    """kill -9 right after each mail is taken, three times: no line goes out a second time."""
    to = "killed-%s@example.test" % TAG
    lines = []
    k = Korvani(folder)
    k.write({"MAIL": mail_settings(to, SUBJECT="1"), "KEYWORD": {"KEY0": "速報"},
             "URL": {"URL0": pages.url("/flash")}})
    for round_ in range(3):
        lines.insert(0, "速報 その%d" % round_)
        pages.put("/flash", "速報", lines)
        k.start()
        wait_until(lambda: k.log_text().count("mail=sent") > round_, 30, "mail %d was not sent" % round_)
        k.kill()
    k.start()
    visits = pages.count("/flash")
    wait_until(lambda: pages.count("/flash") >= visits + 3, 30, "the patrol did not resume")
    _, ini = k.stop()
    bodies = [b for _, b in fixture_mails(to)]
    check(bodies == ["速報 その0\r\n", "速報 その1\r\n", "速報 その2\r\n"], "bodies: %r" % bodies)
    check(list(ini["RIREKI"].values())[:3] == ["速報 その2", "速報 その1", "速報 その0"], "history: %r" % ini["RIREKI"])
    return "3 kills, 3 mails"


def two_starts(pages, folder):
    """A second start on the same file does not patrol: it says why and ends; one mail only."""
    to = "twice-%s@example.test" % TAG
    pages.put("/once", "一度", ["一度だけ 届く行"])
    k = Korvani(folder)
    k.write({"MAIL": mail_settings(to), "KEYWORD": {"KEY0": "一度"}, "URL": {"URL0": pages.url("/once")}})
    k.start()
    env = dict(os.environ, LANG="C.UTF-8", QT_QPA_PLATFORM="offscreen")
    if os.geteuid() == 0:
        env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"
    second = subprocess.run([os.path.join(folder, "korvani")], cwd="/", env=env, capture_output=True, timeout=30)
    err = second.stderr.decode("utf-8", "replace")
    check(second.returncode == 3, "second start ended with %s: %s" % (second.returncode, err))
    check("すでに動いています" in err and os.path.join(folder, "KVN.ini") in err, "stderr: %r" % err)
    wait_until(lambda: fixture_mails(to), 30, "the mail did not arrive")
    visits = pages.count("/once")
    wait_until(lambda: pages.count("/once") >= visits + 3, 30, "the first start stopped")
    k.stop()
    check(len(fixture_mails(to)) == 1, "mails: %r" % fixture_mails(to))
    # Its own folder, its own file: a second portable copy runs beside the first.
    other = os.path.join(folder, "other")
    os.mkdir(other)
    k2 = Korvani(other)
    k2.write({"MAIL": {"TIMERTIME": "1"}})
    k.start()
    k2.start()
    k2.stop()
    k.stop()
    return "second start refused with status 3"


def killed_while_saving(pages, folder):
    """kill -9 at random moments while the page gains a hit line per start and a history of 20,000
    lines is saved after every mail: the file is whole every time, every line is mailed in the end
    and none twice, and nothing a start left behind stays. KORVANI_KILLS=200 makes it the long
    loop run by hand (HIST sets the history's size)."""
    import random
    to = "saving-%s@example.test" % TAG
    kills = int(os.environ.get("KORVANI_KILLS", "12"))
    size = int(os.environ.get("HIST", "20000"))
    history = {"TEXT%d" % i: "過去の行 %05d %s" % (i, "履歴" * 20) for i in range(size)}
    k = Korvani(folder)
    k.write({"MAIL": mail_settings(to, RIREKISUU=str(size + kills + 10)), "KEYWORD": {"KEY0": "新"},
             "URL": {"URL0": pages.url("/grow")}, "RIREKI": history})
    rng = random.Random(int(TAG))
    lines = []
    for n in range(kills):
        lines.insert(0, "新 行%04d" % n)
        pages.put("/grow", "grow", lines)
        k.start()
        time.sleep(rng.uniform(0.0, 3.0))
        k.kill()
        ini = read_ini(os.path.join(folder, "KVN.ini"))
        rireki = ini.get("RIREKI", {})
        check(ini.get("URL", {}).get("URL0") == pages.url("/grow"), "targets lost after kill %d" % n)
        check(sum(1 for v in rireki.values() if v.startswith("過去の行")) == size,
              "history torn after kill %d: %d entries" % (n, len(rireki)))

    def mailed():
        return [line for _, body in fixture_mails(to) for line in body.split("\r\n") if line]

    k.start()
    wait_until(lambda: set(lines) <= set(mailed()), 60, "not every line was mailed")
    k.stop()
    sent = mailed()
    twice = sorted({line for line in sent if sent.count(line) > 1})
    check(not twice, "mailed twice: %r" % twice)
    # The browser profile is kept on purpose: it holds the logins.
    leftovers = [f for f in os.listdir(folder) if f not in ("KVN.ini", "korvani", "korvani.log", "KVN.ini.browser")]
    check(not leftovers, "left behind: %r" % leftovers)
    return "%d kills, the file whole after each, %d mails, no line twice" % (kills, len(fixture_mails(to)))


def killed_with_dialog_open(pages, folder):
    """The server takes a mail while 動作設定 is open over the window, and kill -9 strikes before the
    dialog is closed: the mail's line was on disk at the server's 250 all the same, and the restart
    does not mail it again."""
    need("Xvfb", "dbus-daemon", "xdotool")
    import urllib.parse
    line = "臨時 設定中の行"
    pages.put("/modal", "臨時", [line])
    server = MuteSmtp(hold_data=True)
    journal = os.path.join(folder, "KVN.ini.sent")
    record = urllib.parse.quote(line.encode("utf-8"), safe=" ").encode()
    try:
        with Desktop(folder) as d:
            k = Korvani(folder, d.display, d.env)
            k.write({"MAIL": mail_settings("modal@example.test", SMTP_SERVER="127.0.0.1:%d" % server.port),
                     "KEYWORD": {"KEY0": "臨時"}, "URL": {"URL0": pages.url("/modal")}})
            k.start()
            check(server.received.wait(30), "the mail did not reach the server")
            windows = []

            def found(name):
                windows[:] = d.run(["xdotool", "search", "--name", name]).stdout.split()
                return bool(windows)

            wait_until(lambda: found("^Korvani  "), 10, "no main window found")
            d.run(["xdotool", "windowfocus", "--sync", windows[0]])
            d.run(["xdotool", "key", "ctrl+comma"])
            wait_until(lambda: found("^動作設定$"), 10, "動作設定 did not open")
            server.release.set()

            def journalled():
                try:
                    with open(journal, "rb") as f:
                        return record in f.read()
                except OSError:
                    return False

            wait_until(journalled, 10, "the taken mail's line is not in the journal while the dialog is open")
            check(found("^動作設定$"), "the dialog closed by itself")
            saved = read_ini(os.path.join(folder, "KVN.ini")).get("RIREKI", {}).values()
            k.kill()
        k = Korvani(folder)
        k.start()
        visits = pages.count("/modal")
        wait_until(lambda: pages.count("/modal") >= visits + 3, 30, "the patrol did not resume")
        _, ini = k.stop()
    finally:
        server.release.set()
        server.close()
    check(server.count() == 1, "mailed %d times" % server.count())
    check(list(ini["RIREKI"].values())[:1] == [line], "history: %r" % ini["RIREKI"])
    return "one mail; the file %s the line at the kill" % ("held" if line in saved else "did not hold")


def untrusted_settings(pages, folder):
    """A KVN.ini beside the program that others may write is not used: the settings go to
    ~/.config/korvani, the file is left as it was, and standard error says why, once."""
    k = Korvani(folder)
    k.write({"MAIL": {"TIMERTIME": "1", "SMTP_SERVER": "smtp://them:x@127.0.0.1:%d" % (BASE + 25)},
             "URL": {"URL0": pages.url("/theirs")}})
    planted = os.path.join(folder, "KVN.ini")
    os.chmod(planted, 0o666)
    with open(planted, "rb") as f:
        before = f.read()
    home = os.path.join(folder, "home")
    os.mkdir(home)
    k.start(HOME=home, XDG_CONFIG_HOME=None)
    time.sleep(3)
    k.stop()
    with open(planted, "rb") as f:
        check(f.read() == before, "the planted KVN.ini was written")
    own = os.path.join(home, ".config", "korvani", "KVN.ini")
    check(os.path.exists(own) and oct(os.stat(own).st_mode & 0o777) == "0o600", "no settings file of the user's")
    check(pages.count("/theirs") == 0, "the planted file's target was visited")
    log = k.log_text()
    said = "korvani: %s は他のユーザーも書き込めます。設定は %s を使います。" % (planted, own)
    check(log.count(said) == 1, "the reason was not said once: %r" % log)
    if os.geteuid() == 0:
        check(log.count("ブラウザーのサンドボックスが無効です") == 1, "running as root not said once: %r" % log)
    return "settings in %s" % own


def own_clocks(pages, folder):
    """Two targets on clocks of their own (10 and 30 s) under a 1 s countdown; a page that answers
    429 with Retry-After: 20 is asked once in those 20 s; 30 links to one host keep the 1 s gap."""
    to = "clocks-%s@example.test" % TAG
    fast, slow = pages.url("/every10"), pages.url("/every30")
    pages.put("/every10", "10", ["十秒"])
    pages.put("/every30", "30", ["三十秒"])
    k = Korvani(folder)
    k.write({"MAIL": mail_settings(to, CHECK1="0"), "URL": {"URL0": fast, "URL1": slow},
             "SCHEDULE": {"COUNT": "3", "S0": "10||" + fast, "S1": "30||" + slow, "S2": "0||bad"}})
    k.start()
    started = time.time()
    time.sleep(35)
    k.stop()
    counts = (pages.count("/every10"), pages.count("/every30"))
    check(3 <= counts[0] <= 5 and 1 <= counts[1] <= 2, "visits in %.0f s: %r" % (time.time() - started, counts))
    check("S2" in k.log_text(), "the unreadable entry was not reported")

    busy = pages.url("/busy")
    k.write({"MAIL": mail_settings(to, CHECK1="0"), "URL": {"URL0": busy}})
    k.start()
    wait_until(lambda: pages.count("/busy") >= 1, 20, "the busy page was never asked")
    first = pages.times["/busy"][0]
    time.sleep(max(0.0, first + 18 - time.time()))
    check(pages.count("/busy") == 1, "asked again within its Retry-After: %d" % pages.count("/busy"))
    wait_until(lambda: pages.count("/busy") >= 2, 15, "never asked again after its Retry-After")
    k.stop()
    check(pages.times["/busy"][1] - first >= 19.5, "asked again after %.1f s" % (pages.times["/busy"][1] - first))
    check("HTTP 429" in k.log_text() and "まで待ちます" in k.log_text(), "429 not logged with its time")

    links = [("詳細 %d" % i, "/link%d" % i) for i in range(30)]
    for _, path in links:
        pages.put(path, path, ["リンク先"])
    pages.put("/thirty", "thirty", ["目次"], links)
    k.write({"MAIL": mail_settings(to, CHECK1="1", TIMERTIME="2"), "KEYWORD": {"KEY0": "@ 詳細"},
             "URL": {"URL0": pages.url("/thirty")}})
    k.start()
    wait_until(lambda: pages.count("/thirty") >= 1, 20, "the page of links was never asked")
    wait_until(lambda: all(pages.count(p) >= 1 for _, p in links), 60, "not every link was followed")
    k.stop()
    times = sorted([pages.times["/thirty"][0]] + [pages.times[p][0] for _, p in links])
    gaps = [b - a for a, b in zip(times, times[1:])]
    check(min(gaps) >= 0.9, "two visits to one host %.2f s apart" % min(gaps))
    return "visits %r; 429 asked again after %.1f s; link gaps >= %.2f s" % (
        counts, pages.times["/busy"][1] - first, min(gaps))


def check_engine_quiet(log):
    for noise in ("GL Type", "Init Parameters", "propagateSizeHints", ":ERROR:", ":WARNING:"):
        check(noise not in log, "the engine's %r in the log" % noise)


def japanese_pages_xvfb(pages, folder):
    display = ":%d" % (90 + os.getpid() % 100)
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_until(lambda: os.path.exists("/tmp/.X11-unix/X" + display[1:]), 10, "Xvfb did not start")
        return japanese_pages(pages, folder, display)
    finally:
        xvfb.terminate()
        xvfb.wait()


# ---------------------------------------------------------------- the desktop

HERE = os.path.dirname(os.path.abspath(__file__))
SESSION_BUS_CONF = os.path.join(HERE, "..", "data", "session-bus.conf")


class Skip(Exception):
    pass


def need(*programs):
    missing = [p for p in programs if not (shutil.which(p) or os.access(p, os.X_OK))]
    if missing:
        raise Skip("not installed: " + ", ".join(missing))


class Desktop:
    """A display of its own (Xvfb) and a private session bus that starts no service by itself;
    the services a scenario wants are started on it by name."""

    def __init__(self, folder):
        self.folder = folder
        self.procs = []
        read, write = os.pipe()
        self.spawn(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                   pass_fds=(write,))
        os.close(write)
        with os.fdopen(read) as f:
            self.display = ":" + f.readline().strip()
        check(self.display != ":", "Xvfb did not start")
        bus = self.spawn(["dbus-daemon", "--config-file=" + SESSION_BUS_CONF, "--nofork", "--print-address=1"],
                         stdout=subprocess.PIPE)
        self.bus = bus.stdout.readline().decode().strip()
        check(self.bus, "the session bus did not start")
        # The services keep their files in the scenario's folder, not in the user's.
        self.env = {"DBUS_SESSION_BUS_ADDRESS": self.bus, "XDG_CONFIG_HOME": folder, "XDG_RUNTIME_DIR": folder,
                    "DISPLAY": self.display}

    def spawn(self, argv, **kwargs):
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        proc = subprocess.Popen(argv, **kwargs)
        self.procs.append(proc)
        return proc

    def run(self, argv, **kwargs):
        return subprocess.run(argv, env=dict(os.environ, **self.env), capture_output=True, timeout=20, **kwargs)

    def has_owner(self, name):
        r = self.run(["dbus-send", "--session", "--print-reply=literal", "--dest=org.freedesktop.DBus",
                      "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name])
        return b"true" in r.stdout

    def service(self, argv, name):
        log = open(os.path.join(self.folder, os.path.basename(argv[0]) + ".log"), "ab")
        self.spawn(argv, env=dict(os.environ, **self.env), stdout=log, stderr=log)
        wait_until(lambda: self.has_owner(name), 20, "%s did not take %s" % (argv[0], name))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()


def log_in(desktop, site):
    """As the user does it: ログイン… (Ctrl+L) on the main window, the form typed into the login
    window, which is then closed."""
    def window(name):
        r = desktop.run(["xdotool", "search", "--onlyvisible", "--name", name])
        ids = r.stdout.decode().split()
        return ids[0] if ids else None
    main = window("^Korvani ")
    check(main, "no main window on the display")
    logins = site.logins
    desktop.run(["xdotool", "windowfocus", "--sync", main])
    desktop.run(["xdotool", "key", "--window", main, "ctrl+l"])
    wait_until(lambda: window("^ログイン - 会員ログイン$"), 30, "the login window did not show the login page")
    login = window("^ログイン - 会員ログイン$")
    desktop.run(["xdotool", "windowfocus", "--sync", login])
    time.sleep(1)
    desktop.run(["xdotool", "type", "--delay", "40", site.user])
    desktop.run(["xdotool", "key", "Tab"])
    desktop.run(["xdotool", "type", "--delay", "40", site.password])
    desktop.run(["xdotool", "key", "Return"])
    wait_until(lambda: site.logins > logins, 20, "the form typed into the login window never arrived")
    wait_until(lambda: window("^ログイン - 会員ページ$"), 20, "the login window did not show the members page")
    desktop.run(["xdotool", "key", "ctrl+w"])
    wait_until(lambda: not window("^ログイン - "), 10, "the login window did not close")


def check_command(folder, *arguments):
    env = dict(os.environ, LANG="C.UTF-8")
    if os.geteuid() == 0:
        env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"
    return subprocess.run([os.path.join(folder, "korvani"), *arguments], env=env, capture_output=True, text=True,
                          timeout=60)


def login_session(pages, folder):
    """A members page behind a login: logged in through the login window, its hits are mailed, also
    after SIGTERM and a restart; when the site ends the session the visit fails with
    ログインが必要です and one alert goes out, and logging in again brings the recovery mail."""
    need("Xvfb", "xdotool", "dbus-daemon")
    sys.path.insert(0, HERE)
    from login_site import LoginSite
    site = LoginSite()
    to = "login-%s@example.test" % TAG
    url = site.url("/members")
    try:
        with Desktop(folder) as desktop:
            k = Korvani(folder, display=desktop.display, env={"DBUS_SESSION_BUS_ADDRESS": desktop.bus})
            k.write({"MAIL": mail_settings(to, ERRORMAIL="1", TIMERTIME="2"), "KEYWORD": {"KEY0": "求人"},
                     "URL": {"URL0": url}})
            k.start(journal=True)
            wait_until(lambda: site.count("/login") >= 1, 30, "the patrol never met the login page")
            site.set_lines(["会員限定 求人 一件目"])
            log_in(desktop, site)
            wait_until(lambda: fixture_mails(to), 40, "no mail of the members page")
            check("一件目" in fixture_mails(to)[0][1], "mail: %r" % fixture_mails(to))

            k.stop()
            check(os.stat(folder + "/KVN.ini.browser").st_mode & 0o077 == 0, "the profile is open to others")
            site.set_lines(["会員限定 求人 二件目"])
            k.start(journal=True)
            wait_until(lambda: len(fixture_mails(to)) >= 2, 40, "no mail of the members page after a restart")
            check("二件目" in fixture_mails(to)[1][1], "mail: %r" % fixture_mails(to)[1:])

            busy = check_command(folder, "--check", "--session", url)
            check(busy.returncode == 2 and "--session は使えません" in busy.stderr, "beside the window: %r" % (busy,))

            site.end_sessions()
            wait_until(lambda: len(fixture_mails(to)) >= 3, 40, "no alert when the session ended")
            visits = site.count("/login")
            wait_until(lambda: site.count("/login") >= visits + 2, 30, "the patrol stopped")
            subjects = [s for s, _ in fixture_mails(to)]
            check(subjects[2:] == ["[KVS] ログイン切れ " + url], "alert: %r" % subjects)
            check("ログインが必要です" in fixture_mails(to)[2][1], "alert body: %r" % fixture_mails(to)[2][1])

            log_in(desktop, site)
            wait_until(lambda: len(fixture_mails(to)) >= 4, 40, "no recovery mail after logging in again")
            k.stop()
        # Alone, the check may use the logins; without --session it is not logged in.
        logged_in = check_command(folder, "--check", "--session", url, "求人")
        check(logged_in.returncode == 0 and "二件目" in logged_in.stdout, "--session: %r" % (logged_in,))
        anonymous = check_command(folder, "--check", url, "求人")
        check(anonymous.returncode == 1 and "会員ﾛｸﾞｲﾝ" in anonymous.stdout, "no --session: %r" % (anonymous,))
    finally:
        site.close()
    subjects = [s for s, _ in fixture_mails(to)]
    check(subjects[3:] == ["[KVS] 巡回回復 " + url], "recovery: %r" % subjects)
    log = k.log_text()
    lost = [line for line in log.splitlines() if " target %s " % url in line and "[ログインが必要です]" in line]
    check(lost and all(line.startswith("<4>korvani: ") for line in lost), "log: %r" % lost[:2])
    check_engine_quiet(log)
    return "%d mails, %d visits needing a login" % (len(subjects), len(lost))


def shown_notifications(desktop):
    """Every notification dunst has shown, oldest first: what is on screen is closed into the
    history, which dunstctl reports."""
    import json
    desktop.run(["dunstctl", "close-all"])
    r = desktop.run(["dunstctl", "history"])
    data = json.loads(r.stdout.decode() or "{}").get("data", [[]])[0]
    return sorted(({k: v["data"] for k, v in n.items()} for n in data), key=lambda n: n["id"])


def desktop_notifications(pages, folder):
    """NOTIFY 1 with a real notification service, dunst, on a bus and a display of its own: a page
    with new hits, a target's alert and its recovery each show; the page's markup stays text; the
    mail goes out as before."""
    need("Xvfb", "dbus-daemon", "dbus-send", "dunst", "dunstctl")
    to = "notify-%s@example.test" % TAG
    pages.put("/offers", "&lt;b&gt;求人&lt;/b&gt; &amp; 募集",
              ["求人 &lt;i&gt;急募&lt;/i&gt; &amp; 高給", "ほかの行", "求人 二", "求人 三", "求人 四"])
    with Desktop(folder) as d:
        d.service(["dunst"], "org.freedesktop.Notifications")
        k = Korvani(folder, d.display, d.env)
        k.write({"MAIL": mail_settings(to, NOTIFY="1", ERRORMAIL="1"), "KEYWORD": {"KEY0": "求人"},
                 "URL": {"URL0": pages.url("/offers"), "URL1": pages.url("/back")}})
        k.start()
        seen = []

        def has(summary):
            seen[:] = shown_notifications(d)
            return any(n["summary"] == summary for n in seen)

        wait_until(lambda: has("巡回エラー"), 30, "no alert was shown: %r" % seen)
        pages.put("/back", "戻った", ["元通り"])
        wait_until(lambda: has("巡回回復"), 30, "no recovery was shown: %r" % seen)
        check(has("<b>求人</b> & 募集"), "no notification of the page: %r" % seen)
        wait_until(lambda: fixture_mails(to), 30, "the mail did not arrive")
        seconds, _ = k.stop()
    hit = next(n for n in seen if n["summary"] == "<b>求人</b> & 募集")
    check(hit["body"] == "求人 &lt;i&gt;急募&lt;/i&gt; &amp; 高給\n求人 二\n求人 三\n新着 4 件",
          "body of the page's notification: %r" % hit["body"])
    check(hit["appname"] == "Korvani", "application: %r" % hit["appname"])
    alert = next(n for n in seen if n["summary"] == "巡回エラー")
    check(pages.url("/back") in alert["body"] and "ページが見つかりません（HTTP 404）" in alert["body"], "alert: %r" % alert["body"])
    check(len([n for n in seen if n["summary"] == "<b>求人</b> & 募集"]) == 1, "told twice: %r" % seen)
    mails = fixture_mails(to)
    check(mails[0][0] == "<b>求人</b> & 募集" and mails[0][1].startswith("求人 <i>急募</i> & 高給\r\n"),
          "mail: %r" % mails)
    check("デスクトップ通知を表示できません" not in k.log_text(), "said unavailable: %s" % k.log_text()[-500:])

    # Without a session bus the hit is mailed all the same, nothing waits, and it is said once.
    sub = os.path.join(folder, "no-bus")
    os.mkdir(sub)
    pages.put("/quiet", "静か", ["静か 一"])
    k = Korvani(sub, None, {"DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/bus"})
    to = "no-bus-%s@example.test" % TAG
    k.write({"MAIL": mail_settings(to, NOTIFY="1"), "KEYWORD": {"KEY0": "静か"}, "URL": {"URL0": pages.url("/quiet")}})
    k.start()
    wait_until(lambda: fixture_mails(to), 30, "the hit without a bus was not mailed")
    visits = pages.count("/quiet")
    wait_until(lambda: pages.count("/quiet") >= visits + 2, 30, "the patrol stopped without a bus")
    without, _ = k.stop()
    check(k.log_text().count("デスクトップ通知を表示できません（セッションバスに接続できません）") == 1,
          "without a bus: %s" % k.log_text()[-500:])
    return "%d notifications, ended %.1f s after SIGTERM; without a bus %.1f s" % (len(seen), seconds, without)


def accessibility(pages, folder):
    """The main window through AT-SPI, as a screen reader sees it: every control has a name. Then
    with the keyboard alone: Tab to the target list, Enter, type an address, Enter."""
    need("Xvfb", "dbus-daemon", "dbus-send", "xdotool", "/usr/libexec/at-spi-bus-launcher")
    probe = subprocess.run(["/usr/bin/python3", "-c", "import pyatspi"], capture_output=True)
    if probe.returncode != 0:
        raise Skip("python3-pyatspi is not installed")
    address = pages.url("/typed")
    with Desktop(folder) as d:
        d.service(["/usr/libexec/at-spi-bus-launcher"], "org.a11y.Bus")
        k = Korvani(folder, d.display, dict(d.env, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
        pages.put("/shown", "表示中", ["検索 の行"], [("リンク", "/shown"), ("もう一つ", "/shown")])
        k.write({"MAIL": {"TIMERTIME": "600"}, "KEYWORD": {"KEY0": "検索"}, "URL": {"URL5": pages.url("/shown")}})
        k.start()

        def tree():
            r = d.run(["/usr/bin/python3", os.path.join(HERE, "atspi_tree.py"), "korvani"])
            import json
            return [json.loads(line) for line in r.stdout.decode().splitlines()]

        nodes = []

        def listed():
            nodes[:] = tree()
            return any(n["role"] == "list" for n in nodes)

        wait_until(listed, 30, "the window never showed through AT-SPI")
        controls = [n for n in nodes if n["showing"] and n["role"] not in ("list item", "document web")
                    and (n["focusable"] or n["role"] in ("push button", "menu item", "check box", "combo box"))]
        nameless = [n for n in controls if not n["name"].strip()]
        check(len(controls) >= 10, "too few controls found: %r" % controls)
        check(not nameless, "controls without a name: %r" % nameless)
        names = {n["name"] for n in controls}
        for name in ("開始", "停止", "強制実行", "履歴消去", "対象URL(ダブルクリックで変更)", "送信履歴", "送信本文",
                     "動作設定"):
            check(name in names, "%s not found among %r" % (name, sorted(names)))

        window = d.run(["xdotool", "search", "--name", "^Korvani  "]).stdout.split()
        check(window, "no window found")
        d.run(["xdotool", "windowfocus", "--sync", window[0]])
        # F5 runs a step: the browser area then holds a page with links, which Tab must pass by.
        d.run(["xdotool", "key", "F5"])
        wait_until(lambda: "target %s " % pages.url("/shown") in k.log_text(), 30, "F5 did not run a step")
        target = "対象URL(ダブルクリックで変更)"

        def on_target_list():
            return any(n["role"] == "list" and n["name"] == target and n["focused"] for n in tree())

        tabs = 0
        while not on_target_list():
            check(tabs < 8, "Tab never reached the target list")
            d.run(["xdotool", "key", "Tab"])
            tabs += 1
        d.run(["xdotool", "key", "Return"])
        time.sleep(0.5)
        d.run(["xdotool", "type", "--delay", "10", address])
        d.run(["xdotool", "key", "Return"])
        # An edit is on disk within a second.
        wait_until(lambda: read_ini(os.path.join(folder, "KVN.ini")).get("URL", {}).get("URL0") == address, 10,
                   "the row does not hold the typed address: %r" % read_ini(os.path.join(folder, "KVN.ini")).get("URL"))
        check(any(n["role"] == "list item" and n["name"] == address for n in tree()),
              "a screen reader does not read the typed address in the list")
        seconds, ini = k.stop()
    check(ini["URL"]["URL0"] == address, "targets: %r" % ini["URL"])
    return "%d named controls, %d Tab(s) to the target list" % (len(controls), tabs)


SCENARIOS = {f.__name__: f for f in (japanese_pages, japanese_pages_xvfb, changing_page, smtp_down,
                                     pop_before_smtp, bad_pages, sigterm_mid_load, sigterm_mid_mail,
                                     error_alerts, quit_unanswered, killed_after_mail, two_starts,
                                     killed_while_saving, desktop_notifications, accessibility,
                                     untrusted_settings, killed_with_dialog_open, login_session,
                                     own_clocks, image_heavy)}


def main(names):
    if names == ["all"]:
        names = list(SCENARIOS)
    check(os.path.exists(EXE), "no program at %s" % EXE)
    check(RUN and BASE, "run through ctest: the mail servers are a fixture")
    pages = Pages()
    failed = skipped = 0
    for name in names:
        folder = tempfile.mkdtemp(prefix="korvani-e2e-")
        started = time.time()
        try:
            result = SCENARIOS[name](pages, folder)
            print("PASS %-20s %5.1f s  %s" % (name, time.time() - started, result), flush=True)
            shutil.rmtree(folder, ignore_errors=True)
        except Skip as e:
            skipped += 1
            print("SKIP %-20s %s" % (name, e), flush=True)
            shutil.rmtree(folder, ignore_errors=True)
        except Exception as e:  # a scenario's failure must not hide the others
            failed += 1
            print("FAIL %-20s %5.1f s  %s: %s (folder kept: %s)" % (name, time.time() - started,
                                                                   type(e).__name__, e, folder), flush=True)
        finally:
            for proc in RUNNING:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
            RUNNING.clear()
    # ctest's SKIP_RETURN_CODE: only when nothing failed and nothing ran.
    return 1 if failed else 77 if skipped == len(names) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:] or ["all"]))
