#!/usr/bin/env python3
"""Prints Python's parse of its own e-mail test messages (test/test_email/data/msg_*.txt) as a
flat list the MIME cross-check compares with: one block per file, one node per line, preorder.

  F <path>
  N <depth> <content type> C                 a container (multipart or parsed message)
  N <depth> <content type> L <base64 body>   a leaf and its decoded body
  N <depth> <content type> S <reason>        a leaf whose body is not compared

Bodies: the transfer encoding removed; text parts decoded from their charset and written as
UTF-8; line ends as LF.
"""
import base64
import codecs
import email
import glob
import os
import sys

import test.test_email

# Types Python parses into sub-messages that are kept as one leaf on our side.
OPAQUE_MESSAGE_TYPES = {"message/delivery-status", "message/external-body"}


def leaf_body(part):
    data = part.get_payload(decode=True)
    if data is None:
        return None
    charset = part.get_content_charset()
    if part.get_content_maintype() == "text" and charset:
        try:
            codecs.lookup(charset)
            data = data.decode(charset).encode("utf-8")
        except (LookupError, UnicodeDecodeError):
            pass
    return data.replace(b"\r\n", b"\n")


def emit(part, depth, out):
    ctype = part.get_content_type()
    payload = part.get_payload()
    if ctype in OPAQUE_MESSAGE_TYPES:
        out.append(f"N {depth} {ctype} S parsed-into-header-blocks-by-python")
        return
    if part.is_multipart():
        out.append(f"N {depth} {ctype} C")
        for sub in payload:
            emit(sub, depth + 1, out)
        return
    if part.get_content_maintype() == "multipart":
        # Multipart without a usable boundary: Python keeps the text as the payload.
        raw = payload.encode("utf-8", "surrogateescape").replace(b"\r\n", b"\n")
        out.append(f"N {depth} {ctype} U " + base64.b64encode(raw).decode())
        return
    body = leaf_body(part)
    if body is None:
        out.append(f"N {depth} {ctype} S no-payload")
        return
    out.append(f"N {depth} {ctype} L " + base64.b64encode(body).decode())


def main():
    folder = os.path.join(os.path.dirname(test.test_email.__file__), "data")
    for path in sorted(glob.glob(os.path.join(folder, "msg_*.txt"))):
        with open(path, "rb") as f:
            msg = email.message_from_binary_file(f)
        out = [f"F {path}"]
        emit(msg, 0, out)
        print("\n".join(out))


if __name__ == "__main__":
    sys.exit(main())
