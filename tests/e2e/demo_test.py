#!/usr/bin/python3
"""scripts/demo as its user meets it: the first mails come from the sample page and its linked
page, a change of the page brings a mail of only the new lines, and nothing is left behind."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

demo, exe = sys.argv[1], sys.argv[2]
env = dict(os.environ, QT_QPA_PLATFORM="offscreen", TMPDIR=tempfile.mkdtemp())
# A group of its own, so that a demo that hangs is stopped together with the program it started.
proc = subprocess.Popen([demo, "--exe", exe, "--mails", "4", "--minute", "15"], env=env, start_new_session=True,
                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
try:
    out, _ = proc.communicate(timeout=150)
except subprocess.TimeoutExpired:
    os.killpg(proc.pid, signal.SIGKILL)
    out, _ = proc.communicate()
    print(out)
    print("demo_test: the demo did not end within 150 s")
    sys.exit(1)
print(out)


def fail(message):
    print("demo_test: " + message)
    sys.exit(1)


if proc.returncode != 0:
    fail("the demo ended with %d" % proc.returncode)
mails = re.split(r"\n──── メール \d 受信 [\d:]+ ────\n", out)[1:]
if len(mails) != 4:
    fail("%d mails printed instead of 4" % len(mails))
first, detail, changed, detail2 = mails
if "Subject: デモ新着情報" not in first or "大阪府の求人 ABC商事(第1号)" not in first or "特売 炊飯器 12800円" not in first:
    fail("first mail: %r" % first)
if "東京と大阪" in first:
    fail("a NOT term let a line through: %r" % first)
if "Subject: デモ詳細" not in detail or "奈良の支店(第1号)" not in detail:
    fail("the linked page's mail: %r" % detail)
if "(第2号)" not in changed or "(第1号)" in changed or "特売" in changed:
    fail("the changed page's mail holds more than the new lines: %r" % changed)
if "奈良の支店(第2号)" not in detail2:
    fail("the changed linked page's mail: %r" % detail2)
left = [name for name in os.listdir(env["TMPDIR"]) if name.startswith("korvani-demo-")]
shutil.rmtree(env["TMPDIR"], ignore_errors=True)
if left:
    fail("the demo left %r behind" % left)
