#!/usr/bin/python3
"""The same transport work as bench_transport, done by Python's smtplib and poplib, so that
bench/transport.sh can compare the two in one run. Prints one JSON object of medians."""
import json
import poplib
import smtplib
import ssl
import statistics
import sys
import time
import resource

env = dict(l.rstrip("\n").split("=", 1) for l in open(sys.argv[1]) if "=" in l)
reps = int(sys.argv[2]) if len(sys.argv) > 2 else 5
small = ("From: bench@test.invalid\r\nTo: sink@test.invalid\r\nSubject: bench\r\n\r\n"
         + "x" * 20 + "\r\nA small message body line.\r\n")


def smtp_send():
    t = time.perf_counter()
    s = smtplib.SMTP("127.0.0.1", int(env["SINK_PORT"]), timeout=30)
    s.ehlo()
    for _ in range(1000):
        s.sendmail("bench@test.invalid", ["sink@test.invalid"], small)
    s.quit()
    return time.perf_counter() - t


def pop_fetch():
    t = time.perf_counter()
    p = poplib.POP3("127.0.0.1", int(env["POP3_PORT"]), timeout=30)
    p.user("bench")
    p.pass_("benchpw")
    p.stat()
    for i in range(1, 1001):
        p.retr(i)
    p.quit()
    return time.perf_counter() - t


def pop_big(tls):
    t = time.perf_counter()
    if tls:
        ctx = ssl.create_default_context(cafile=env["CA_FILE"])
        p = poplib.POP3_SSL("localhost", int(env["POP3S_PORT"]), context=ctx, timeout=60)
    else:
        p = poplib.POP3("127.0.0.1", int(env["POP3_PORT"]), timeout=60)
    p.user("erin")
    p.pass_("erinpw")
    _, lines, octets = p.retr(1)
    p.quit()
    return time.perf_counter() - t


out = {
    "SmtpSend1000": statistics.median(smtp_send() for _ in range(reps)),
    "Pop3Fetch1000": statistics.median(pop_fetch() for _ in range(reps)),
    "Pop3Fetch20MB": statistics.median(pop_big(False) for _ in range(reps)),
    "Pop3TlsFetch20MB": statistics.median(pop_big(True) for _ in range(reps)),
    "peak_rss_mb": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0,
}
print(json.dumps(out))
