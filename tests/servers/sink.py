#!/usr/bin/python3
"""Recording SMTP server for the transport tests (Debian's python3-aiosmtpd).

Each accepted message becomes SPOOL/NNNNNN.eml (the DATA bytes as received: CR LF kept,
dot-stuffing removed) and then SPOOL/NNNNNN.json (envelope), written last through a rename
so that a reader can wait for it. Recipients whose local part starts with "reject" get 550.
"""
import argparse
import asyncio
import itertools
import json
import os
import signal

from aiosmtpd.smtp import SMTP

sequence = itertools.count(1)


class Recorder:
    def __init__(self, spool):
        self.spool = spool

    async def handle_RCPT(self, server, session, envelope, address, options):
        if address.lower().startswith("reject"):
            return "550 5.1.1 <%s>: Recipient address rejected: User unknown" % address
        envelope.rcpt_tos.append(address)
        return "250 2.1.5 OK"

    async def handle_DATA(self, server, session, envelope):
        base = os.path.join(self.spool, "%06d" % next(sequence))
        with open(base + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content)
        os.rename(base + ".eml.tmp", base + ".eml")
        meta = {"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                "mail_options": envelope.mail_options,
                "helo": session.host_name, "size": len(envelope.original_content)}
        with open(base + ".json.tmp", "w", encoding="utf-8") as f:
            json.dump(meta, f)
        os.rename(base + ".json.tmp", base + ".json")
        return "250 2.0.0 OK queued"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--spool", required=True)
    args = ap.parse_args()
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    handler = Recorder(args.spool)

    def factory():
        return SMTP(handler, hostname="sink.test.invalid", decode_data=False,
                    data_size_limit=64 * 1024 * 1024, enable_SMTPUTF8=True,
                    auth_exclude_mechanism=["PLAIN", "LOGIN"])

    server = loop.run_until_complete(
        loop.create_server(factory, host="127.0.0.1", port=args.port, reuse_address=True))
    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    loop.run_until_complete(stop.wait())
    server.close()


if __name__ == "__main__":
    main()
