#!/usr/bin/env python3
"""Checks e-mails rendered by the library with Python's email package and XML parser.

Usage: check_email.py DIR

DIR holds pairs NAME.eml / NAME.json; the JSON says what a reader must find in the message:
structure, decoded subject and addresses, text and HTML bodies, attachments and inline items
with their bytes. Each message is parsed with the modern policy, as mail programs built on
Python do.

Beside NAME.eml, NAME.xml (the e-mail's XML form) and NAME.back.eml (the e-mail read back from
that XML and rendered again) may lie: the XML must be well-formed with one <mime_message> per
MIME entity, and both messages must have the same tree, header fields (Content-Type and
Content-Disposition compared as type and parameters) and decoded leaf bytes.

Prints one line per problem and exits 1 when there is any, 0 otherwise.
"""

import base64
import email
import email.policy
import json
import os
import sys
import xml.etree.ElementTree as ET

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


def parse(path):
    # From bytes: reading a file object would turn CR LF inside the parts into LF.
    with open(path, "rb") as f:
        return email.message_from_bytes(f.read(), policy=email.policy.default)


def headers(part):
    out = []
    for key, value in part.items():
        k = key.lower()
        if k in ("content-type", "content-disposition"):
            params = tuple(sorted((n.lower(), str(v)) for n, v in value.params.items()))
            out.append((k, value.content_type if k == "content-type" else
                        value.content_disposition, params))
        elif k == "return-path":
            # The XML form writes it as the angle-addr RFC 5322 defines; same address.
            out.append((k, str(value).strip().strip("<>")))
        else:
            out.append((k, str(value)))
    return out


def compare(name, a, b, path="top"):
    """Compares two parsed trees; returns the number of entities the XML form holds (an
    attached message is one entity there, its text the body)."""
    ha, hb = headers(a), headers(b)
    if ha != hb:
        problem(name, f"{path}: headers differ after the XML form\n  {ha}\n  {hb}")
    if a.is_multipart() != b.is_multipart():
        problem(name, f"{path}: multipart {a.is_multipart()} vs {b.is_multipart()}")
        return 1
    if a.get_content_type() == "message/rfc822":
        compare(name, a.get_payload(0), b.get_payload(0), path + "/message")
        return 1
    if not a.is_multipart():
        if a.get_payload(decode=True) != b.get_payload(decode=True):
            problem(name, f"{path}: body bytes differ after the XML form")
        return 1
    pa, pb = list(a.iter_parts()), list(b.iter_parts())
    if len(pa) != len(pb):
        problem(name, f"{path}: {len(pa)} vs {len(pb)} parts after the XML form")
        return 1
    return 1 + sum(compare(name, x, y, f"{path}/{i}") for i, (x, y) in enumerate(zip(pa, pb)))


def check_xml_form(directory, name, msg):
    xml_path = os.path.join(directory, name + ".xml")
    if not os.path.exists(xml_path):
        return
    entities = compare(name, msg, parse(os.path.join(directory, name + ".back.eml")))
    try:
        root = ET.parse(xml_path).getroot()
    except ET.ParseError as e:
        problem(name, f"XML not well-formed: {e}")
        return
    found = len(root.findall(".//mime_message")) + 1
    if root.tag != "mime_message" or found != entities:
        problem(name, f"root {root.tag}, {found} mime_message elements for {entities} entities")


def check(directory):
    names = sorted(f[:-5] for f in os.listdir(directory) if f.endswith(".json"))
    if not names:
        problem(directory, "no messages to check")
    for name in names:
        with open(os.path.join(directory, name + ".json"), encoding="utf-8") as f:
            exp = json.load(f)
        msg = parse(os.path.join(directory, name + ".eml"))
        for defect in msg.defects:
            problem(name, f"defect: {defect!r}")
        if structure(msg) != exp["structure"]:
            problem(name, f"structure {structure(msg)}, expected {exp['structure']}")
        if "subject" in exp and str(msg["Subject"]) != exp["subject"]:
            problem(name, f"subject {str(msg['Subject'])!r}, expected {exp['subject']!r}")
        check_addresses(name, msg, exp)
        check_bodies(name, msg, exp)
        check_items(name, msg, exp)
        check_xml_form(directory, name, msg)
    print(f"checked {len(names)} messages")


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    check(sys.argv[1])
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
