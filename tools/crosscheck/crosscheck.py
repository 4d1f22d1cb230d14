#!/usr/bin/env python3
"""Compares our parse of each message with Python's email package.

    crosscheck.py --program build/test/tools/crosscheck-parse [options] PATH...

PATH is a directory (its files matching --pattern, default *.eml, *.mbox, *.mbx) or a file.
Files ending in .mbox or .mbx are read with the mailbox module and every message is checked on
its own (keyed "name.mbox#N"); any other file is one message. --python-test-email adds
Python's own test messages (test/test_email/data/msg_*.txt of this python3).

Per message both parsers read the same bytes; compared are the decoded Subject, the From
mailbox (display name and address), and the leaves in document order: content type, file name
and decoded bytes. Both sides are brought to one form first (see normalise_*), and each such
mapping is listed in README.md.

Python side: policy.default. Its header parser unfolds by removing only CR LF (RFC 5322 2.2.3),
decodes encoded words per RFC 2047 and parses address lists into mailboxes, which is what our
e-mail object gives a user; compat32 hands back raw field text and leaves all that to the
caller. The body structure is the same under both policies (the same feed parser builds it).

Exit status: 0 when every message matches or differs as listed in known_differences.txt
(next to this script), 1 when some message differs in a way not listed, 2 for bad usage.
"""
import argparse
import base64
import email
import email.policy
import fnmatch
import glob
import hashlib
import json
import mailbox
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_PATTERNS = ["*.eml", "*.mbox", "*.mbx"]
MBOX_SUFFIXES = (".mbox", ".mbx")
# Python parses these into header blocks; we keep each as one leaf. Only the type is compared.
HEADER_BLOCK_TYPES = {"message/delivery-status", "message/external-body"}
TIMEOUT_SECONDS = 60
# A well-formed multipart type; anything else is compared as it stands.
UNSPLIT_MULTIPART = re.compile(r"multipart/[a-z0-9.+-]+$")


def python_test_email_dir():
    """Python's own test messages, found through the test package of the running interpreter."""
    try:
        import test.test_email
        return os.path.join(os.path.dirname(test.test_email.__file__), "data")
    except ImportError:
        found = sorted(glob.glob("/usr/lib/python3*/test/test_email/data"))
        return found[-1] if found else None


# ---- reading the inputs ----

def messages_in(paths, patterns):
    """(key, bytes) for every message of every path, in name order."""
    for path in paths:
        if os.path.isdir(path):
            names = sorted(n for n in os.listdir(path)
                           if any(fnmatch.fnmatch(n, p) for p in patterns))
            files = [os.path.join(path, n) for n in names]
        else:
            files = [path]
        for f in files:
            name = os.path.basename(f)
            if name.endswith(MBOX_SUFFIXES):
                box = mailbox.mbox(f, create=False)
                for i, key in enumerate(box.keys(), 1):
                    yield f"{name}#{i}", box.get_bytes(key)
            else:
                with open(f, "rb") as fh:
                    yield name, fh.read()


# ---- the two parses, in one form ----

def text_to_utf8(data, charset):
    """Python's decoded text bytes in UTF-8, as our tree holds text (unknown charsets: as is)."""
    if charset:
        try:
            return data.decode(charset).encode("utf-8", "surrogateescape")
        except (LookupError, UnicodeError):
            pass
    return data


def normalise_type(ctype):
    """A type without subtype, or a multipart left unsplit (no boundary parameter, or no
    delimiter found), is plain text: RFC 2045 5.2 and RFC 2046 5.1.1 leave a reader nothing
    else to do with it. Python calls the first text/plain and keeps the second's name."""
    if "/" not in ctype or UNSPLIT_MULTIPART.match(ctype):
        return "text/plain"
    return ctype


def normalise_body(ctype, encoding, data):
    """Line-based bodies are compared with LF line ends: our tree holds them with CR LF, the
    canonical form (RFC 2045 2.7-2.8), Python with the line ends of the input. Only base64
    (and uuencode) carry binary line ends that must match byte for byte."""
    binary = encoding.lower() in ("base64", "x-uuencode", "uuencode", "x-uue")
    if data is not None and (ctype.startswith("text/") or not binary):
        return data.replace(b"\r\n", b"\n")
    return data


def python_leaves(part, out):
    ctype = part.get_content_type()
    if ctype in HEADER_BLOCK_TYPES:
        out.append((ctype, part.get_filename() or "", None))
        return
    if part.is_multipart():
        for sub in part.get_payload():
            python_leaves(sub, out)
        return
    encoding = str(part.get("content-transfer-encoding", "")).strip()
    if part.get_content_maintype() == "multipart":
        # Unsplit: Python keeps the text as the multipart's payload, undecoded.
        raw = part.get_payload()
        if isinstance(raw, str):
            raw = raw.encode("utf-8", "surrogateescape")
        out.append((normalise_type(ctype), "", normalise_body("text/plain", "", raw)))
        return
    data = part.get_payload(decode=True)
    if data is not None and part.get_content_maintype() == "text":
        data = text_to_utf8(data, part.get_content_charset())
    out.append((ctype, part.get_filename() or "", normalise_body(ctype, encoding, data)))


def header_text(msg, name):
    try:
        value = msg[name]
    except Exception as e:  # policy.default raises on some broken fields
        return f"<python error: {e}>"
    return "" if value is None else str(value)


def python_parse(data):
    msg = email.message_from_bytes(data, policy=email.policy.default)
    sender = ("", "")
    try:
        field = msg["from"]
        addresses = field.addresses if field is not None else ()
        if addresses:
            sender = (addresses[0].display_name, addresses[0].addr_spec)
    except Exception as e:
        sender = (f"<python error: {e}>", "")
    leaves = []
    python_leaves(msg, leaves)
    return {"subject": header_text(msg, "subject"), "from": sender, "leaves": leaves}


def our_parse(program, data, workdir):
    path = os.path.join(workdir, "message.eml")
    with open(path, "wb") as fh:
        fh.write(data)
    try:
        run = subprocess.run([program, path], capture_output=True, timeout=TIMEOUT_SECONDS)
    except subprocess.TimeoutExpired:
        return None, f"no answer within {TIMEOUT_SECONDS} s"
    if run.returncode != 0:
        err = run.stderr.decode("utf-8", "replace").strip().splitlines()
        return None, f"exit status {run.returncode}: {err[0] if err else ''}"
    try:
        doc = json.loads(run.stdout.decode("utf-8", "surrogateescape"))
    except ValueError as e:
        return None, f"output is no JSON: {e}"
    leaves = []
    for leaf in doc["leaves"]:
        # A part without Content-Type keeps an empty type here; Python says text/plain.
        ctype = normalise_type(leaf["type"])
        body = base64.b64decode(leaf["body"])
        if ctype in HEADER_BLOCK_TYPES:
            body = None
        else:
            body = normalise_body(ctype, leaf["encoding"], body)
        leaves.append((ctype, leaf["filename"], body))
    return {"subject": doc["subject"], "from": tuple(doc["from"]), "leaves": leaves}, None


# ---- comparing ----

def show_bytes(data):
    if data is None:
        return "(not compared)"
    digest = hashlib.sha256(data).hexdigest()[:12]
    return f"{len(data)} bytes sha256 {digest} {data[:60]!r}{'...' if len(data) > 60 else ''}"


def differences(ours, theirs):
    """Lines describing each difference; empty when the parses agree."""
    out = []
    for field in ("subject", "from"):
        if ours[field] != theirs[field]:
            out.append(f"{field}: ours {ours[field]!r}, python {theirs[field]!r}")
    a, b = ours["leaves"], theirs["leaves"]
    if [x[0] for x in a] != [x[0] for x in b]:
        out.append(f"leaf types: ours {[x[0] for x in a]}, python {[x[0] for x in b]}")
    for i, (x, y) in enumerate(zip(a, b)):
        if x[0] != y[0]:
            continue
        if x[1] != y[1]:
            out.append(f"leaf {i} file name: ours {x[1]!r}, python {y[1]!r}")
        if x[2] is not None and y[2] is not None and x[2] != y[2]:
            out.append(f"leaf {i} ({x[0]}) body:\n    ours   {show_bytes(x[2])}\n"
                       f"    python {show_bytes(y[2])}")
    return out


def load_known(path):
    """key -> (status, reason) from lines "key | status | reason"; '#' starts a comment."""
    known = {}
    with open(path, encoding="utf-8") as fh:
        for n, line in enumerate(fh, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            parts = [p.strip() for p in line.split("|", 2)]
            if len(parts) != 3 or not all(parts):
                print(f"{path}:{n}: expected 'key | status | reason'", file=sys.stderr)
                sys.exit(2)
            known[parts[0]] = (parts[1], parts[2])
    return known


def check(program, data, workdir):
    """Lines describing how our parse of data differs from Python's; empty when they agree."""
    ours, error = our_parse(program, data, workdir)
    if error:
        return [f"our parser: {error}"]
    try:
        return differences(ours, python_parse(data))
    except Exception as e:  # a message Python cannot read is a difference too
        return [f"python: {type(e).__name__}: {e}"]


def report(key, diff, entry, quiet):
    """Prints the verdict on one message and returns its kind: match, prune, known or
    unexpected. entry is the message's line of the known differences, if any."""
    if not diff and entry and not entry[0].startswith("after"):
        print(f"{key}: MATCH, but listed as a known difference ({entry[0]}): remove it")
        return "prune"
    if not diff:
        if not quiet:
            print(f"{key}: MATCH" + (f" (expected to differ {entry[0]})" if entry else ""))
        return "match"
    if entry and quiet:
        return "known"
    print(f"{key}: DIFFER, " + (f"known ({entry[0]}): {entry[1]}" if entry else
                                "not a known difference"))
    print("  " + "\n  ".join(diff))
    return "known" if entry else "unexpected"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("paths", nargs="*", help="directories, .eml or mbox files")
    ap.add_argument("--program", required=True, help="the crosscheck-parse program")
    ap.add_argument("--pattern", action="append", help="file names to take from directories")
    ap.add_argument("--python-test-email", action="store_true",
                    help="also check Python's own test_email messages")
    ap.add_argument("--known", default=os.path.join(HERE, "known_differences.txt"))
    ap.add_argument("--quiet", action="store_true", help="print only differences and summary")
    args = ap.parse_args()

    known = load_known(args.known)
    inputs = [(p, args.pattern or DEFAULT_PATTERNS) for p in args.paths]
    if args.python_test_email:
        folder = python_test_email_dir()
        if not folder or not os.path.isdir(folder):
            ap.error("this python3 has no test_email data (Debian: libpython3.11-testsuite)")
        inputs.append((folder, ["msg_*.txt"]))
    if not inputs:
        ap.error("nothing to check")

    counts = {"match": 0, "prune": 0, "known": 0, "unexpected": 0}
    with tempfile.TemporaryDirectory() as workdir:
        for path, patterns in inputs:
            for key, data in messages_in([path], patterns):
                diff = check(args.program, data, workdir)
                counts[report(key, diff, known.get(key), args.quiet)] += 1

    print(f"crosscheck: {sum(counts.values())} messages, "
          f"{counts['match'] + counts['prune']} match, "
          f"{counts['known'] + counts['unexpected']} differ ({counts['known']} known, "
          f"{counts['unexpected']} unexpected); {counts['prune']} known differences now match")
    return 1 if counts["unexpected"] else 0


if __name__ == "__main__":
    sys.exit(main())
