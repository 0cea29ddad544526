#!/usr/bin/python3
"""Korvani at work without a mail account: a sample Japanese page on 127.0.0.1 whose lines change
every minute, a local mail catcher that prints every mail it receives, and the program started in
a folder of its own whose KVN.ini points at both. Closing the window stops everything.

Usage: scripts/demo [--exe build/app/korvani] [--keep] [--mails N]
  --keep     keep the program's folder (and its KVN.ini) afterwards
  --mails N  close the program by itself after N mails (used by the tests)
  --minute S let the page change every S seconds instead of every minute (used by the tests)
"""

import argparse
import email
import email.policy
import html
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from aiosmtpd.controller import Controller

STARTED = time.time()
TIMERTIME = 10
MINUTE = 60


def minute():
    """1 for the first minute of the demo, 2 for the second, …"""
    return int((time.time() - STARTED) // MINUTE) + 1


def clock(n):
    return time.strftime("%H:%M", time.localtime(STARTED + (n - 1) * MINUTE))


def news_lines():
    # The newest three minutes: each minute brings new lines, the older ones were mailed already.
    lines = []
    for n in range(minute(), max(minute() - 3, 0), -1):
        lines.append("%s 新着　大阪府の求人　ＡＢＣ商事（第%d号）" % (clock(n), n))
        lines.append("%s 東京と大阪の合同説明会" % clock(n))
        lines.append("%s 兵庫県の天気は晴れ　気温は%d度" % (clock(n), 10 + n % 15))
    lines += ["特売　炊飯器　１２８００円", "お知らせはありません"]
    return lines


def detail_lines():
    return ["%s 奈良の支店（第%d号）が開きました" % (clock(minute()), minute()), "所在地は駅前です"]


def page(title, lines, links=()):
    body = "".join("<div>%s</div>" % html.escape(line) for line in lines)
    body += "".join('<p><a href="%s">%s</a></p>' % (href, html.escape(text)) for text, href in links)
    return ('<!DOCTYPE html><html><head><meta charset="utf-8"><title>%s</title></head><body>%s</body></html>'
            % (html.escape(title), body)).encode("utf-8")


class Pages(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        if path == "/news":
            data = page("デモ新着情報", news_lines(), [("詳細はこちら", "/detail"), ("地図", "/map")])
        elif path == "/detail":
            data = page("デモ詳細", detail_lines())
        elif path == "/map":
            data = page("デモ地図", ["駅から徒歩５分"])
        else:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(data)


class Catcher:
    def __init__(self, enough, done):
        self.count = 0
        self.enough = enough
        self.done = done

    async def handle_DATA(self, server, session, envelope):
        msg = email.message_from_bytes(envelope.content, policy=email.policy.default)
        self.count += 1
        out = ["", "──── メール %d 受信 %s ────" % (self.count, time.strftime("%H:%M:%S")),
               "From:    %s" % envelope.mail_from, "To:      %s" % ", ".join(envelope.rcpt_tos),
               "Subject: %s" % msg.get("Subject", ""), ""]
        try:
            out.append(msg.get_content().replace("\r\n", "\n").rstrip("\n"))
        except (KeyError, LookupError, ValueError) as e:
            out.append("(本文を読めません: %s)" % e)
        print("\n".join(out), flush=True)
        if self.enough and self.count >= self.enough:
            self.done.set()
        return "250 OK"


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def ini_text(smtp_port, http_port):
    base = "http://127.0.0.1:%d" % http_port
    sections = [
        ("MAIL", [("SMTP_SERVER", "127.0.0.1:%d" % smtp_port), ("FROM", "korvani-demo@localhost"),
                  ("TO", "you@localhost"), ("SUBJECT", "0"), ("TOPLINE", "2"), ("ENDLINE", "1"),
                  ("CHECK1", "1"), ("CHECK2", "0"), ("TIMERTIME", str(TIMERTIME))]),
        ("KEYWORD", [("KEY0", "大阪 -東京"), ("KEY1", "兵庫|奈良"), ("KEY2", r"\d+円"), ("KEY3", "@ 詳細")]),
        ("URL", [("URL0", base + "/news")]),
    ]
    out = []
    for name, values in sections:
        out.append("[%s]" % name)
        out += ["%s=%s" % kv for kv in values]
    return ("\r\n".join(out) + "\r\n").encode("cp932")


def main():
    parser = argparse.ArgumentParser(description="Korvani with a sample page and a local mail catcher")
    parser.add_argument("--exe", default=os.path.join(os.path.dirname(__file__), "..", "build", "app", "korvani"))
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("--mails", type=int, default=0)
    parser.add_argument("--minute", type=float, default=60)
    args = parser.parse_args()
    global MINUTE
    MINUTE = max(args.minute, 1)

    env = dict(os.environ)
    if not env.get("QT_QPA_PLATFORM") and not env.get("DISPLAY") and not env.get("WAYLAND_DISPLAY"):
        print("scripts/demo: 画面がありません (no DISPLAY). Start it from a desktop session.", file=sys.stderr)
        return 1
    if os.geteuid() == 0:
        env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"

    http = ThreadingHTTPServer(("127.0.0.1", 0), Pages)
    http.daemon_threads = True
    threading.Thread(target=http.serve_forever, daemon=True).start()
    done = threading.Event()
    catcher = Catcher(args.mails, done)
    smtp_port = free_port()
    controller = Controller(catcher, hostname="127.0.0.1", port=smtp_port)
    controller.start()

    folder = tempfile.mkdtemp(prefix="korvani-demo-")
    proc = None
    try:
        shutil.copy(args.exe, os.path.join(folder, "korvani"))
        with open(os.path.join(folder, "KVN.ini"), "wb") as f:
            f.write(ini_text(smtp_port, http.server_address[1]))
        print("Korvani demo")
        print("  sample page:  http://127.0.0.1:%d/news (new lines every %d s)" % (http.server_address[1], MINUTE))
        print("  mail catcher: 127.0.0.1:%d, mails are printed here" % smtp_port)
        print("  program:      %s (KVN.ini beside it)" % folder)
        print("The first page is checked %d s after the window opens. Close the window to stop." % TIMERTIME)
        print("最初のチェックは %d 秒後です。ウィンドウを閉じると終了します。" % TIMERTIME, flush=True)

        proc = subprocess.Popen([os.path.join(folder, "korvani")], cwd=folder, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        signal.signal(signal.SIGTERM, lambda *a: done.set())
        while proc.poll() is None:
            try:
                if done.wait(0.2):
                    proc.send_signal(signal.SIGTERM)
                    proc.wait(10)
            except KeyboardInterrupt:
                done.set()
            except subprocess.TimeoutExpired:
                print("Korvani did not end within 10 s; killed.", file=sys.stderr)
                proc.kill()
                proc.wait()
        print("\nKorvani ended (%d). %d mail(s) received." % (proc.returncode, catcher.count), flush=True)
        return 0 if proc.returncode == 0 else 1
    finally:
        if proc and proc.poll() is None:
            proc.kill()
            proc.wait()
        controller.stop()
        http.shutdown()
        if args.keep:
            print("The program's folder stays: %s" % folder)
        else:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
