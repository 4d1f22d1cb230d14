"""Writes a mailbox file with Python's mailbox module, then the messages as Python reads them back.

usage: write_mbox.py MBOX EXPECTED
EXPECTED holds, per message, the subject, a unit separator and the decoded text body, each record
ended by a record separator.
"""
import email
import email.policy
import mailbox
import sys
from email.message import EmailMessage

BODIES = [
    "Plain text.\n",
    "From the start of a line, written quoted.\nFrom here too.\n>From already quoted.\n",
    "Caf\u00e9 \u2013 8-bit text.\n\nFrom after an empty line.\n",
    "No line end at the end",
]


def message(i, body):
    m = EmailMessage()
    m["From"] = f"sender{i}@example.com"
    m["To"] = "rcpt@example.com"
    m["Subject"] = f"message {i}"
    m.set_content(body, cte="8bit")
    if i == 3:
        m.add_attachment(bytes(range(256)) * 40, maintype="application", subtype="octet-stream",
                         filename="data.bin")
    return m


box = mailbox.mbox(sys.argv[1], create=True)
for i, body in enumerate(BODIES):
    box.add(message(i, body))
box.close()
with open(sys.argv[2], "w", encoding="utf-8", newline="") as out:
    read = lambda f: email.message_from_binary_file(f, policy=email.policy.default)
    for m in mailbox.mbox(sys.argv[1], factory=read):
        text = m.get_body(("plain",)).get_content()
        out.write(m["Subject"] + "\x1f" + text + "\x1e")
