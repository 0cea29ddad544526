#!/usr/bin/python3
"""CPU and memory of the running program, its browser processes included.

Runs the built korvani from a temporary folder against pages served here on 127.0.0.1 and
reads /proc for the whole process tree (the renderer is a grandchild):
  - CPU while it waits between steps (TIMERTIME 3600, nothing to do),
  - CPU while a step waits for a page that never finishes,
  - summed PSS after 20 and after 200 steps with TIMERTIME 1.

Usage: bench/resources.py [build/app/korvani] [--steps 200] [--json FILE]
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

TICKS = os.sysconf("SC_CLK_TCK")
visits = {"page": 0}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path.startswith("/never"):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(b"<html><body><p>waiting</p>" + b" " * 4096)
            self.wfile.flush()
            try:
                while True:
                    time.sleep(1)
            except OSError:
                return
        if self.path.startswith("/page"):
            visits["page"] += 1
        body = ("<html><head><meta charset='utf-8'><title>small</title></head><body>"
                + "".join("<div>行 %d 大阪の天気 visit %d</div>" % (i, visits["page"]) for i in range(50))
                + "<a href='/other'>link</a></body></html>").encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(body)


def tree(root):
    children = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, ValueError, IndexError):
            continue
        children.setdefault(ppid, []).append(int(name))
    out, todo = [], [root]
    while todo:
        pid = todo.pop()
        out.append(pid)
        todo.extend(children.get(pid, []))
    return out


def cpu_seconds(pids):
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except (OSError, ValueError, IndexError):
            pass
    return total / TICKS


def pss_mib(pids):
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/smaps_rollup" % pid) as f:
                for line in f:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total / 1024


def cpu_share(root, seconds):
    pids = tree(root)
    start = cpu_seconds(pids)
    time.sleep(seconds)
    return (cpu_seconds(tree(root)) - start) / seconds * 100


def start(folder, ini):
    with open(os.path.join(folder, "KVN.ini"), "wb") as f:
        f.write(ini.encode("cp932"))
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    if os.geteuid() == 0:
        env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"
    return subprocess.Popen([os.path.join(folder, "korvani")], cwd=folder, env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop(proc):
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe", nargs="?", default="build/app/korvani")
    parser.add_argument("--steps", type=int, default=200)
    parser.add_argument("--json", help="also write the figures to this file")
    args = parser.parse_args()

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = "http://127.0.0.1:%d" % server.server_address[1]
    folder = tempfile.mkdtemp()
    shutil.copy(args.exe, os.path.join(folder, "korvani"))
    keys = "[KEYWORD]\r\nKEY0=大阪 -東京\r\nKEY1=@ link\r\n"
    try:
        proc = start(folder, "[MAIL]\r\nTIMERTIME=3600\r\n" + keys
                     + "[URL]\r\nURL0=%s/page\r\n" % base)
        time.sleep(8)
        idle = cpu_share(proc.pid, 20)
        stop(proc)

        proc = start(folder, "[MAIL]\r\nTIMERTIME=1\r\n" + keys + "[URL]\r\nURL0=%s/never\r\n" % base)
        time.sleep(4)
        waiting = cpu_share(proc.pid, 10)
        stop(proc)

        visits["page"] = 0
        proc = start(folder, "[MAIL]\r\nTIMERTIME=1\r\n" + keys + "[URL]\r\nURL0=%s/page\r\n" % base)
        marks = {}
        t0 = time.time()
        while visits["page"] < args.steps and time.time() - t0 < args.steps * 5:
            for mark in (20, args.steps):
                if mark not in marks and visits["page"] >= mark:
                    time.sleep(0.5)
                    marks[mark] = pss_mib(tree(proc.pid))
            time.sleep(0.05)
        time.sleep(0.5)
        marks[args.steps] = pss_mib(tree(proc.pid))
        processes = len(tree(proc.pid))
        steps_done = visits["page"]
        per_step = (time.time() - t0) / max(steps_done, 1)
        stop(proc)
    finally:
        shutil.rmtree(folder, ignore_errors=True)

    print("CPU between steps:        %.2f %% of a core" % idle)
    print("CPU waiting for a page:   %.2f %% of a core" % waiting)
    first = marks.get(20, float("nan"))
    last = marks.get(args.steps, float("nan"))
    print("PSS after 20 steps:       %.0f MiB" % first)
    print("PSS after %d steps:      %.0f MiB (%+.1f %%)" % (args.steps, last, (last / first - 1) * 100))
    print("steps done: %d, %.2f s per step, %d processes in the tree" % (steps_done, per_step, processes))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"cpu_idle_percent": idle, "cpu_waiting_percent": waiting, "pss_first_mib": first,
                       "pss_last_mib": last, "steps": args.steps, "steps_done": steps_done,
                       "seconds_per_step": per_step}, f)


if __name__ == "__main__":
    sys.exit(main())
