#!/usr/bin/python3
"""A mail server on 127.0.0.1 that takes its time, for the tests and benchmarks of waiting.

Usage: slow_server.py [--delay SECONDS] [--silent] [--pop] [--drop-after-data] [--maildir DIR]

Prints its port on one line once it listens, and ends when its standard input closes.
  --delay            every reply, the greeting included, comes that long after the command
  --silent           takes the connection and never says a word
  --pop              speaks POP3 (any account, STAT answers "+OK 0 0") instead of SMTP
  --drop-after-data  drops the line as soon as the message has been sent after DATA
  --maildir          stores each accepted message into DIR/new, as the test servers do
"""

import argparse
import asyncio
import os
import sys
import time
import uuid


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--delay", type=float, default=0.0)
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--pop", action="store_true")
    parser.add_argument("--drop-after-data", action="store_true")
    parser.add_argument("--maildir")
    args = parser.parse_args()

    async def reply(writer, text):
        await asyncio.sleep(args.delay)
        writer.write(text.encode() + b"\r\n")
        await writer.drain()

    async def store(message):
        if not args.maildir:
            return
        for sub in ("tmp", "new", "cur"):
            os.makedirs(os.path.join(args.maildir, sub), exist_ok=True)
        name = "%d.%s.slow" % (time.time(), uuid.uuid4().hex)
        tmp = os.path.join(args.maildir, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(message)
        os.rename(tmp, os.path.join(args.maildir, "new", name))

    async def smtp(reader, writer):
        await reply(writer, "220 slow ready")
        while True:
            line = await reader.readline()
            if not line:
                return
            verb = line[:4].upper()
            if verb == b"DATA":
                await reply(writer, "354 go ahead")
                message = b""
                while not message.endswith(b"\r\n.\r\n"):
                    chunk = await reader.read(65536)
                    if not chunk:
                        return
                    message += chunk
                if args.drop_after_data:
                    writer.close()
                    return
                await store(message)
                await reply(writer, "250 OK stored")
            elif verb == b"QUIT":
                await reply(writer, "221 bye")
                return
            elif verb in (b"EHLO", b"HELO"):
                await reply(writer, "250 slow")
            else:
                await reply(writer, "250 OK")

    async def pop3(reader, writer):
        await reply(writer, "+OK slow ready")
        while True:
            line = await reader.readline()
            if not line:
                return
            verb = line[:4].upper()
            if verb == b"CAPA":
                await reply(writer, "+OK\r\nUSER\r\n.")
            elif verb == b"STAT":
                await reply(writer, "+OK 0 0")
            elif verb == b"QUIT":
                await reply(writer, "+OK bye")
                return
            else:
                await reply(writer, "+OK")

    async def serve(reader, writer):
        try:
            if args.silent:
                await reader.read()
            elif args.pop:
                await pop3(reader, writer)
            else:
                await smtp(reader, writer)
        except (ConnectionError, asyncio.IncompleteReadError):
            pass
        finally:
            writer.close()

    async def run():
        server = await asyncio.start_server(serve, "127.0.0.1", 0)
        print(server.sockets[0].getsockname()[1], flush=True)
        loop = asyncio.get_running_loop()
        await loop.run_in_executor(None, sys.stdin.read)
        server.close()

    asyncio.run(run())


if __name__ == "__main__":
    main()
