#!/usr/bin/python3
"""SMTP servers for the mail tests, all on 127.0.0.1, all storing into one Maildir.

Usage: smtp_server.py RUN_DIR PORT_BASE

  base+25   plain, AUTH allowed without TLS (the client only sends a password to loopback)
  base+587  STARTTLS, AUTH only after it
  base+465  implicit TLS with AUTH
  base+26   speaks until DATA, then drops the connection after the first bytes of the message

Local parts starting with "reject" are refused as sender or recipient. Every stored message
gets X-Envelope-From and X-Envelope-To lines in front so tests can see the envelope.
"""

import asyncio
import os
import signal
import ssl
import sys
import time
import uuid

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult

USER = b"korvani"
PASSWORD = "pa:ss wörd".encode()


def authenticate(server, session, envelope, mechanism, auth_data):
    ok = getattr(auth_data, "login", None) == USER and getattr(auth_data, "password", None) == PASSWORD
    return AuthResult(success=ok, handled=False)


class MaildirHandler:
    def __init__(self, maildir):
        self.maildir = maildir

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if address.startswith("reject"):
            return "553 5.7.1 Sender address rejected"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("reject"):
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        head = "X-Envelope-From: %s\r\nX-Envelope-To: %s\r\n" % (envelope.mail_from, ", ".join(envelope.rcpt_tos))
        name = "%d.%s.korvani-test" % (time.time(), uuid.uuid4().hex)
        tmp = os.path.join(self.maildir, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(head.encode() + envelope.original_content)
        os.rename(tmp, os.path.join(self.maildir, "new", name))
        return "250 OK stored"


async def drop_in_data(reader, writer):
    writer.write(b"220 drop ready\r\n")
    while True:
        line = await reader.readline()
        if not line:
            break
        verb = line[:4].upper()
        if verb == b"DATA":
            writer.write(b"354 go ahead\r\n")
            await writer.drain()
            await reader.read(64)
            break
        elif verb == b"QUIT":
            writer.write(b"221 bye\r\n")
            break
        elif verb in (b"EHLO", b"HELO"):
            writer.write(b"250 drop\r\n")
        else:
            writer.write(b"250 OK\r\n")
        await writer.drain()
    writer.close()


async def main(run_dir, base):
    maildir = os.path.join(run_dir, "Maildir")
    for sub in ("tmp", "new", "cur"):
        os.makedirs(os.path.join(maildir, sub), exist_ok=True)
    tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    tls.load_cert_chain(os.path.join(run_dir, "cert.pem"), os.path.join(run_dir, "key.pem"))

    handler = MaildirHandler(maildir)
    common = dict(hostname="127.0.0.1", server_hostname="korvani-test", authenticator=authenticate)
    controllers = [
        Controller(handler, port=base + 25, auth_require_tls=False, **common),
        Controller(handler, port=base + 587, tls_context=tls, auth_require_tls=True, **common),
        Controller(handler, port=base + 465, ssl_context=tls, **common),
    ]
    for c in controllers:
        c.start()
    drop = await asyncio.start_server(drop_in_data, "127.0.0.1", base + 26)

    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    with open(os.path.join(run_dir, "smtp.ready"), "w") as f:
        f.write(str(os.getpid()))
    await stop.wait()
    drop.close()
    for c in controllers:
        c.stop()


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1], int(sys.argv[2])))
