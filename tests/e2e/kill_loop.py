#!/usr/bin/python3
"""kill -9 at random moments, a few hundred times, while a page gains one hit line per round and a
history of 20,000 lines is saved after every mail. After each kill the file must be whole; at the
end every line has been mailed, and the lines mailed twice are counted. Too long for CI: run by hand
against the test mail servers, e.g.
    tests/mail/servers/start /tmp/mr 25500
    KORVANI_EXE=build/app/korvani KORVANI_MAIL_RUN=/tmp/mr KORVANI_MAIL_PORT_BASE=25500 \
        tests/e2e/kill_loop.py 200
    tests/mail/servers/stop /tmp/mr
HIST and RIREKISUU in the environment change the history's size and limit (HIST < RIREKISUU)."""
import os
import random
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402
from e2e import Korvani, Pages, mail_settings, fixture_mails, read_ini, wait_until, check  # noqa: E402

kills = int(sys.argv[1]) if len(sys.argv) > 1 else 200
size = int(os.environ.get("HIST", "20000"))
pages = Pages()
folder = tempfile.mkdtemp(prefix="killloop-")
to = "loop-%s@example.test" % e2e.TAG
history = {"TEXT%d" % i: "過去の行 %05d %s" % (i, "履歴" * 20) for i in range(size)}
k = Korvani(folder)
k.write({"MAIL": mail_settings(to, RIREKISUU=os.environ.get("RIREKISUU", "30000")), "KEYWORD": {"KEY0": "新"},
         "URL": {"URL0": pages.url("/grow")}, "RIREKI": history})
rng = random.Random(1)
lines = []
started = time.time()
for n in range(kills):
    lines.insert(0, "新 行%04d" % n)
    pages.put("/grow", "grow", lines)
    k.start()
    time.sleep(rng.uniform(0.0, 3.0))
    k.kill()
    ini = read_ini(os.path.join(folder, "KVN.ini"))
    rireki = ini.get("RIREKI", {})
    check(ini.get("URL", {}).get("URL0") == pages.url("/grow"), "targets lost after kill %d" % n)
    check(sum(1 for v in rireki.values() if v.startswith("過去の行")) == size, "history torn after kill %d" % n)
    if n % 20 == 19:
        print("%d kills, %.0f s" % (n + 1, time.time() - started), flush=True)
k.start()


def mailed():
    return [l for _, b in fixture_mails(to) for l in b.split("\r\n") if l]


wait_until(lambda: set(lines) <= set(mailed()), 120, "not every line was mailed")
k.stop()
m = mailed()
dups = sorted({l for l in m if m.count(l) > 1})
leftovers = [f for f in os.listdir(folder) if f not in ("KVN.ini", "korvani", "korvani.log")]
print("kills %d, lines %d, mails %d, lines mailed %d, duplicates %d %r, leftovers %r, %.0f s" % (
    kills, len(lines), len(fixture_mails(to)), len(m), len(dups), dups[:10], leftovers, time.time() - started))
print("mails the log calls sent:", k.log_text().count("mail=sent"))
sys.exit(1 if dups or leftovers else 0)
