#!/usr/bin/env python3
"""Checks e-mails rendered by the library with Python's email package.

Usage: check_email.py DIR [NVMAIL]

DIR holds pairs NAME.eml / NAME.json; the JSON says what a reader must find in the message:
structure, decoded subject and addresses, text and HTML bodies, attachments and inline items
with their bytes. Each message is parsed with the modern policy, as mail programs built on
Python do. With NVMAIL, every message whose JSON has "show": true is also read back with
`nvmail show` and its header and item lines compared with what Python found.

Prints one line per problem and exits 1 when there is any, 0 otherwise.
"""

import base64
import email
import email.policy
import json
import os
import subprocess
import sys

problems = []


def problem(name, what):
    problems.append(f"{name}: {what}")


def structure(part):
    t = part.get_content_type()
    if part.is_multipart():
        return t + "(" + ",".join(structure(p) for p in part.iter_parts()) + ")"
    return t


def address_pairs(header):
    if header is None:
        return []
    return [[a.display_name, a.addr_spec] for a in header.addresses]


def display(pair):
    name, addr = pair
    if not name:
        return addr
    escaped = name.replace("\\", "\\\\").replace('"', '\\"')
    return f'"{escaped}" <{addr}>'


def leaves(msg):
    if msg.is_multipart():
        for p in msg.iter_parts():
            yield from leaves(p)
    else:
        yield msg


def norm(text):
    return text.replace("\r\n", "\n")


def check_addresses(name, msg, exp):
    for key, header in (("from", "From"), ("to", "To"), ("cc", "Cc"), ("reply_to", "Reply-To")):
        if key not in exp:
            continue
        got = address_pairs(msg[header])
        if got != exp[key]:
            problem(name, f"{header}: expected {exp[key]!r}, Python read {got!r}")
    if msg["Bcc"] is not None:
        problem(name, "a Bcc field reached the message")


def check_bodies(name, msg, exp):
    if "text" in exp:
        body = msg.get_body(("plain",))
        got = None if body is None else norm(body.get_content())
        if got is None or got.rstrip("\n") != norm(exp["text"]).rstrip("\n"):
            problem(name, f"text body: expected {exp['text']!r}, Python read {got!r}")
    if "html_contains" in exp:
        body = msg.get_body(("html",))
        got = "" if body is None else body.get_content()
        if exp["html_contains"] not in got:
            problem(name, f"HTML body lacks {exp['html_contains']!r}: {got!r}")


def check_items(name, msg, exp):
    attachments, inline = [], []
    for p in leaves(msg):
        if p.get_content_disposition() == "attachment":
            attachments.append(p)
        elif p["Content-ID"] is not None:
            inline.append(p)
    for kind, key, got in (("attachment", "filename", attachments), ("inline", "cid", inline)):
        want = exp.get("attachments" if kind == "attachment" else "inline", [])
        if len(got) != len(want):
            problem(name, f"{len(got)} {kind} items, expected {len(want)}")
        for p, w in zip(got, want):
            found = p.get_filename() if kind == "attachment" else p["Content-ID"]
            if w[key] is not None and found != w[key]:
                problem(name, f"{kind} {key} {found!r}, expected {w[key]!r}")
            if p.get_content_type() != w["content_type"]:
                problem(name, f"{kind} type {p.get_content_type()}, expected {w['content_type']}")
            if p.get_payload(decode=True) != base64.b64decode(w["data"]):
                problem(name, f"{kind} {found!r}: bytes differ")
    return attachments, inline


def check_show(name, path, nvmail, msg, attachments, inline):
    """nvmail show must report what Python read."""
    out = subprocess.run([nvmail, "show", path], capture_output=True, check=False)
    if out.returncode != 0:
        problem(name, f"nvmail show failed: {out.stderr.decode(errors='replace')}")
        return
    lines = out.stdout.decode("utf-8", errors="replace").splitlines()
    expected = []
    from_pairs = address_pairs(msg["From"])
    if from_pairs:
        expected.append("From: " + display(from_pairs[0]))
    for header in ("To", "Cc"):
        pairs = address_pairs(msg[header])
        if pairs:
            expected.append(f"{header}: " + ", ".join(display(p) for p in pairs))
    if msg["Subject"] is not None:
        expected.append("Subject: " + str(msg["Subject"]))
    for i, p in enumerate(attachments, 1):
        size = len(p.get_payload(decode=True))
        expected.append(f"  {i}. {p.get_filename()} ({p.get_content_type()}, {size} bytes)")
    for i, p in enumerate(inline, 1):
        size = len(p.get_payload(decode=True))
        fname = p.get_filename() or "attachedFile.dat"
        expected.append(
            f"  {i}. {fname} ({p.get_content_type()}, {size} bytes) {p['Content-ID']}")
    for line in expected:
        if line not in lines:
            problem(name, f"nvmail show lacks the line {line!r}; it printed:\n" + "\n".join(lines))
    if structure(msg).count("(") and "Structure:" not in lines:
        problem(name, "nvmail show printed no structure")


def check(directory, nvmail):
    names = sorted(f[:-5] for f in os.listdir(directory) if f.endswith(".json"))
    if not names:
        problem(directory, "no messages to check")
    for name in names:
        path = os.path.join(directory, name + ".eml")
        with open(os.path.join(directory, name + ".json"), encoding="utf-8") as f:
            exp = json.load(f)
        with open(path, "rb") as f:
            data = f.read()
        msg = email.message_from_bytes(data, policy=email.policy.default)
        for defect in msg.defects:
            problem(name, f"defect: {defect!r}")
        if structure(msg) != exp["structure"]:
            problem(name, f"structure {structure(msg)}, expected {exp['structure']}")
        if "subject" in exp and str(msg["Subject"]) != exp["subject"]:
            problem(name, f"subject {str(msg['Subject'])!r}, expected {exp['subject']!r}")
        check_addresses(name, msg, exp)
        check_bodies(name, msg, exp)
        attachments, inline = check_items(name, msg, exp)
        if nvmail and exp.get("show"):
            check_show(name, path, nvmail, msg, attachments, inline)
    print(f"checked {len(names)} messages")


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__)
        return 2
    check(sys.argv[1], sys.argv[2] if len(sys.argv) == 3 else None)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
