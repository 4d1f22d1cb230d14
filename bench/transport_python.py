#!/usr/bin/python3
"""The same transport work as bench_transport, done by Python's smtplib and poplib, so that
bench/transport.sh can compare the two in one run. Prints one JSON object of medians
(wall and CPU seconds) for the named works (all by default).

    transport_python.py ENV_FILE REPETITIONS [WORK...]"""
import email
import email.policy
import json
import os
import poplib
import smtplib
import ssl
import statistics
import sys
import time
from email.message import EmailMessage
import resource

env = dict(l.rstrip("\n").split("=", 1) for l in open(sys.argv[1]) if "=" in l)
reps = int(sys.argv[2]) if len(sys.argv) > 2 else 5
small = ("From: bench@test.invalid\r\nTo: sink@test.invalid\r\nSubject: bench\r\n\r\n"
         + "x" * 20 + "\r\nA small message body line.\r\n")


def timed(fn, *args):
    """Wall and CPU seconds of one run."""
    w, c = time.perf_counter(), time.process_time()
    fn(*args)
    return time.perf_counter() - w, time.process_time() - c


def smtp_send(port_key):
    s = smtplib.SMTP("127.0.0.1", int(env[port_key]), timeout=30)
    s.ehlo()
    for _ in range(1000):
        s.sendmail("bench@test.invalid", ["sink@test.invalid"], small)
    s.quit()


def smtp_send_email():
    msg = EmailMessage()
    msg["From"] = "Bench Sender <bench@test.invalid>"
    msg["To"] = "Sink <sink@test.invalid>"
    msg["Subject"] = "bench"
    msg.set_content("x" * 20 + "\nA small message body line.\n")
    s = smtplib.SMTP("127.0.0.1", int(env["FAST_SINK_PORT"]), timeout=30)
    s.ehlo()
    for _ in range(1000):
        s.send_message(msg)
    s.quit()


def pop_fetch(port_key):
    p = poplib.POP3("127.0.0.1", int(env[port_key]), timeout=30)
    p.user("bench")
    p.pass_("benchpw")
    p.stat()
    for i in range(1, 1001):
        p.retr(i)
    p.quit()


def pop_big(tls):
    if tls:
        ctx = ssl.create_default_context(cafile=env["CA_FILE"])
        p = poplib.POP3_SSL("localhost", int(env["POP3S_PORT"]), context=ctx, timeout=60)
    else:
        p = poplib.POP3("127.0.0.1", int(env["POP3_PORT"]), timeout=60)
    p.user("erin")
    p.pass_("erinpw")
    _, lines, octets = p.retr(1)
    p.quit()


def send_bundle(port_key):
    """1,000 message objects built, then sent over one session, as SendBundle does."""
    msgs = []
    for i in range(1000):
        msg = EmailMessage()
        msg["From"] = "Bench Sender <bench@test.invalid>"
        msg["To"] = "Sink <sink@test.invalid>"
        msg["Subject"] = "bench %d" % i
        msg.set_content("A small message body line.\nAnd a second one.\n")
        msgs.append(msg)
    s = smtplib.SMTP("127.0.0.1", int(env[port_key]), timeout=30)
    s.ehlo()
    for msg in msgs:
        s.send_message(msg)
    s.quit()


def bench_message(i):
    msg = EmailMessage()
    msg["From"] = "Bench Sender <bench@test.invalid>"
    msg["To"] = "Sink <sink@test.invalid>"
    msg["Subject"] = "bench %d" % i
    msg.set_content("A small message body line.\nAnd a second one.\n")
    return msg


def send_emails_exim(one_connection, count):
    """Messages built and sent one at a time through Exim: over one held connection, or one
    connection each."""
    port = int(env["EXIM_CYRUS_PORT"])
    s = smtplib.SMTP("127.0.0.1", port, timeout=30) if one_connection else None
    for i in range(count):
        msg = bench_message(i)
        if one_connection:
            s.send_message(msg)
        else:
            with smtplib.SMTP("127.0.0.1", port, timeout=30) as c:
                c.send_message(msg)
    if s:
        s.quit()


def smtp_sessions(tls):
    """50 sessions to Dovecot's submission port: EHLO (and STARTTLS, EHLO again), QUIT."""
    ctx = ssl.create_default_context(cafile=env["CA_FILE"]) if tls else None
    for _ in range(50):
        s = smtplib.SMTP("127.0.0.1", int(env["SUBMISSION_PORT"]), timeout=30)
        s.ehlo()
        if tls:
            s.starttls(context=ctx)
            s.ehlo()
        s.quit()


def refill_bench_mailbox():
    """The 1,000 messages bench/transport.sh puts in bench's maildir (not timed)."""
    import pwd
    md = os.path.join(env["MAIL_ROOT"], "bench", "Maildir")
    for sub in ("new", "cur", "tmp"):
        for name in os.listdir(os.path.join(md, sub)):
            os.remove(os.path.join(md, sub, name))
    pw = pwd.getpwnam("dovecot")
    for i in range(1000):
        path = os.path.join(md, "new", "%06d.m" % i)
        with open(path, "wb") as f:
            f.write(b"From: a@test.invalid\r\nSubject: m %d\r\n\r\n" % i
                    + b"A small message line.\r\n" * 20)
        os.chown(path, pw.pw_uid, pw.pw_gid)


def transfer_mail():
    """Fetch, parse and delete every message, then QUIT, as TransferMail does."""
    p = poplib.POP3("127.0.0.1", int(env["POP3_PORT"]), timeout=30)
    p.user("bench")
    p.pass_("benchpw")
    count, _ = p.stat()
    parsed = []
    for i in range(1, count + 1):
        _, lines, _ = p.retr(i)
        parsed.append(email.message_from_bytes(b"\r\n".join(lines), policy=email.policy.default))
        p.dele(i)
    p.quit()
    assert len(parsed) == 1000


def medians(fn, *args, setup=None):
    runs = []
    for _ in range(reps):
        if setup:
            setup()
        runs.append(timed(fn, *args))
    if setup:
        setup()  # later works read the mailbox as transport.sh filled it
    return [statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs)]


work = {
    "SmtpSend1000": (smtp_send, "SINK_PORT"),
    "SmtpSend1000Fast": (smtp_send, "FAST_SINK_PORT"),
    "SmtpSendEmail1000Fast": (smtp_send_email,),
    "Pop3Fetch1000": (pop_fetch, "POP3_PORT"),
    "Pop3Fetch1000Fast": (pop_fetch, "FAST_POP3_PORT"),
    # poplib has no pipelining: the same fetch loop is what the pipelined work is measured by.
    "Pop3RetrMany1000": (pop_fetch, "POP3_PORT"),
    "Pop3RetrMany1000Fast": (pop_fetch, "FAST_POP3_PORT"),
    "Pop3Fetch20MB": (pop_big, False),
    "Pop3TlsFetch20MB": (pop_big, True),
    "SendBundle": (send_bundle, "SINK_PORT"),
    "SendBundleFast": (send_bundle, "FAST_SINK_PORT"),
    "TransferMail": (transfer_mail,),
    "SendEmail1000Exim": (send_emails_exim, True, 1000),
    "SendEmail100EximNoReuse": (send_emails_exim, False, 100),
    "SmtpSessions50": (smtp_sessions, False),
    "SmtpStartTlsSessions50": (smtp_sessions, True),
}
setups = {"TransferMail": refill_bench_mailbox}
names = sys.argv[3:] or list(work)
out = {name: medians(*work[name], setup=setups.get(name)) for name in names}
out["peak_rss_mb"] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0
print(json.dumps(out))
