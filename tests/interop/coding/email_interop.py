#!/usr/bin/env python3
"""Python's email package on the other side of the transfer-encoding tests.

  parse FILE...   For each message file print "<hex subject> <hex payload>": the Subject as
                  Python decodes it (UTF-8) and the body after its Content-Transfer-Encoding.
  make FILE       Write samples that Python encodes, one per line: "<kind> <hex expected>
                  <hex encoded>", for the C++ side to decode.
"""
import base64
import binascii
import email
import email.policy
import random
import sys
from email import quoprimime
from email.header import Header
from email.headerregistry import Address


def hx(b):
    return b.hex() if b else "-"


def parse(paths):
    for path in paths:
        with open(path, "rb") as f:
            msg = email.message_from_bytes(f.read(), policy=email.policy.default)
        subject = str(msg["subject"] or "")
        payload = msg.get_payload(decode=True) or b""
        print(hx(subject.encode("utf-8")), hx(payload))


SUBJECTS = [
    ("Grüße aus Köln: die Größe der Übung ist äußerst schön, sagt Jürgen", "utf-8"),
    ("Grüße aus Köln: die Größe der Übung", "iso-8859-1"),
    ("Zażółć gęślą jaźń, Łódź i Wrocław", "iso-8859-2"),
    ("Привет, это проверка длинной темы письма", "koi8-r"),
    ("Привет, это проверка длинной темы письма", "windows-1251"),
    ("日本語の件名をいくつかの符号化された単語に分割するテストです", "iso-2022-jp"),
    # gb2312 and big5 are left out: Header labels them with its codec names ("eucgb2312_cn",
    # "big5_tw"), which are no charset names of mail.
    ("日本語の件名をいくつかの符号化された単語に分割するテストです", "euc-jp"),
    ("한국어 제목을 여러 인코딩 단어로 나누는 시험입니다", "euc-kr"),
    ("Ελληνικό θέμα με τόνους και πολλές λέξεις", "iso-8859-7"),
]

NAMES = ["Jürgen Müller", "Smith, John", 'Bob "The Builder"', "Zoë", "Иван Петров",
         "山田太郎", "plain name"]


def text_sample(rng):
    words = ["Grüße", "über", "café", "naïve", "From", ".", "x=y", "a\tb", "end", "łódź",
             "日本", "—", "plain", "text"]
    lines = []
    for _ in range(rng.randint(1, 8)):
        n = rng.choice([3, 10, 40])
        line = " ".join(rng.choice(words) for _ in range(n))
        if rng.random() < 0.4:
            line += rng.choice([" ", "  ", "\t", " \t"])
        lines.append(line)
    return "\r\n".join(lines).encode("utf-8")


def make(path):
    rng = random.Random(20240521)
    out = []
    for text, charset in SUBJECTS:
        encoded = Header(text, charset, maxlinelen=76).encode()
        out.append(("header", text.encode("utf-8"), encoded.encode("ascii")))
    for name in NAMES:
        msg = email.message.EmailMessage(policy=email.policy.SMTP)
        msg["To"] = Address(name, "user", "example.com")
        value = msg.as_bytes().split(b":", 1)[1].strip()
        out.append(("address", (name + "|user@example.com").encode("utf-8"), value))
    for _ in range(40):
        data = text_sample(rng)
        encoded = quoprimime.body_encode(data.decode("latin-1"), 76, "\r\n").encode("ascii")
        out.append(("qp", data, encoded))
    for n in list(range(0, 10)) + [53, 54, 55, 56, 57, 1000, 4096]:
        data = bytes(rng.getrandbits(8) for _ in range(n))
        out.append(("base64", data, base64.encodebytes(data)))
    for n in [1, 44, 45, 46, 300]:
        data = bytes(rng.getrandbits(8) for _ in range(n))
        lines = b"".join(binascii.b2a_uu(data[i:i + 45]) for i in range(0, len(data), 45))
        out.append(("uu", data, b"begin 644 data.bin\n" + lines + b"`\nend\n"))
    with open(path, "w") as f:
        for kind, expected, encoded in out:
            f.write("%s %s %s\n" % (kind, hx(expected), hx(encoded)))


if __name__ == "__main__":
    mode = sys.argv[1]
    if mode == "parse":
        parse(sys.argv[2:])
    elif mode == "make":
        make(sys.argv[2])
    else:
        sys.exit("unknown mode " + mode)
