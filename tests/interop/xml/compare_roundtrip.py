#!/usr/bin/env python3
"""Checks e-mails that went through the library's XML form, with Python's own readers.

Usage: compare_roundtrip.py DIR

DIR holds triples NAME.orig.eml / NAME.xml / NAME.back.eml: an e-mail as the library rendered
it, its XML form, and the e-mail read back from that XML and rendered again. Python's email
package (modern policy) reads both messages, which must have the same tree, the same header
fields in the same order with the same decoded values (Content-Type and Content-Disposition
compared as type and parameters, since quoting a parameter value changes nothing), and the same
decoded bytes in every leaf. Python's XML parser reads the XML, which must be well-formed and
hold one <mime_message> per MIME entity. A file NAME.bundle.xml must be an <email_bundle> whose
<subject> elements, read in document order, are listed one per line in NAME.subjects.

Prints one line per problem and exits 1 when there is any, 0 otherwise.
"""

import email
import email.policy
import os
import sys
import xml.etree.ElementTree as ET

problems = []


def problem(name, what):
    problems.append(f"{name}: {what}")


def parse(path):
    with open(path, "rb") as f:
        return email.message_from_binary_file(f, policy=email.policy.default)


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
    ha, hb = headers(a), headers(b)
    if ha != hb:
        problem(name, f"{path}: headers differ\n  {ha}\n  {hb}")
    if a.is_multipart() != b.is_multipart():
        problem(name, f"{path}: multipart {a.is_multipart()} vs {b.is_multipart()}")
        return 1
    if not a.is_multipart():
        if a.get_payload(decode=True) != b.get_payload(decode=True):
            problem(name, f"{path}: body bytes differ")
        return 1
    pa, pb = list(a.iter_parts()), list(b.iter_parts())
    if len(pa) != len(pb):
        problem(name, f"{path}: {len(pa)} vs {len(pb)} parts")
        return 1
    return 1 + sum(compare(name, x, y, f"{path}/{i}") for i, (x, y) in enumerate(zip(pa, pb)))


def check_pair(directory, name):
    orig = parse(os.path.join(directory, name + ".orig.eml"))
    back = parse(os.path.join(directory, name + ".back.eml"))
    entities = compare(name, orig, back)
    try:
        root = ET.parse(os.path.join(directory, name + ".xml")).getroot()
    except ET.ParseError as e:
        problem(name, f"XML not well-formed: {e}")
        return
    if root.tag != "mime_message":
        problem(name, f"root element {root.tag}")
    found = len(root.findall(".//mime_message")) + 1
    if found != entities:
        problem(name, f"{found} mime_message elements for {entities} entities")


def check_bundle(directory, name):
    root = ET.parse(os.path.join(directory, name + ".bundle.xml")).getroot()
    if root.tag != "email_bundle":
        problem(name, f"root element {root.tag}")
    subjects = [m.find("header/subject").text for m in root.findall("mime_message")]
    with open(os.path.join(directory, name + ".subjects"), encoding="utf-8") as f:
        expected = f.read().splitlines()
    if subjects != expected:
        problem(name, f"bundle subjects differ ({len(subjects)} vs {len(expected)})")


def main():
    directory = sys.argv[1]
    n = 0
    for file in sorted(os.listdir(directory)):
        if file.endswith(".orig.eml"):
            check_pair(directory, file[: -len(".orig.eml")])
            n += 1
        elif file.endswith(".bundle.xml"):
            check_bundle(directory, file[: -len(".bundle.xml")])
            n += 1
    for p in problems:
        print(p)
    print(f"checked {n}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
