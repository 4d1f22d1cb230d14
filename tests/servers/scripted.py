#!/usr/bin/python3
"""A scripted peer for fault tests: it says exactly what the test wrote, records exactly what
the client sent, and nothing else. Standard library only.

    scripted.py --script FILE --received FILE [--host 127.0.0.1] [--cert C --key K]
                [--tls-max 1.0|1.1]

FILE holds JSON: a list of connections, each a list of steps, served one after another:
    ["send", TEXT]          send TEXT (code points 0-255 as bytes)
    ["flood", TEXT, N]      send TEXT N times
    ["seq", TEXT, N]        send TEXT N times with "%d" in it counting 1 ... N
    ["drip", TEXT, SECONDS] send TEXT one byte at a time, SECONDS apart
    ["line"]                read through the next LF
    ["until", TEXT]         read through the next occurrence of TEXT
    ["sleep", SECONDS]
    ["drain"]               read until the client closes
    ["close"]               close the connection now
    ["starttls"]            the TLS handshake (server side) on this connection, now
The port is printed as "PORT N" once listening. Every byte received is appended to the
received file. With --cert/--key each connection is TLS from the first byte, or from its
"starttls" step when it has one (whatever was read ahead before it is dropped); --tls-max makes
it an outdated server that speaks no TLS version above the one given. The server
gives up after 60 s without a client or 30 s of a silent client, and then exits.
"""
import argparse
import json
import socket
import ssl
import sys
import time
import warnings


class Conn:
    def __init__(self, sock, record, tls):
        self.sock = sock
        self.record = record
        self.tls = tls
        self.buf = b""

    def fill(self):
        data = self.sock.recv(65536)
        if not data:
            raise EOFError
        self.record.write(data)
        self.record.flush()
        self.buf += data

    def read_until(self, delim):
        while delim not in self.buf:
            self.fill()
        i = self.buf.index(delim) + len(delim)
        self.buf = self.buf[i:]


def run(conn, steps):
    for step in steps:
        op = step[0]
        if op == "send":
            conn.sock.sendall(step[1].encode("latin-1"))
        elif op == "flood":
            chunk = step[1].encode("latin-1")
            for _ in range(step[2]):
                conn.sock.sendall(chunk)
        elif op == "seq":
            text, count = step[1], step[2]
            for start in range(1, count + 1, 10000):
                end = min(count, start + 9999)
                conn.sock.sendall("".join(text.replace("%d", str(i))
                                          for i in range(start, end + 1)).encode("latin-1"))
        elif op == "drip":
            for ch in step[1].encode("latin-1"):
                conn.sock.sendall(bytes([ch]))
                time.sleep(step[2])
        elif op == "line":
            conn.read_until(b"\n")
        elif op == "until":
            conn.read_until(step[1].encode("latin-1"))
        elif op == "sleep":
            time.sleep(step[1])
        elif op == "drain":
            while True:
                conn.fill()
        elif op == "close":
            return
        elif op == "starttls":
            conn.sock = conn.tls.wrap_socket(conn.sock, server_side=True)
            conn.buf = b""
        else:
            raise ValueError("unknown step %r" % op)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--script", required=True)
    ap.add_argument("--received", required=True)
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--tls-max", choices=["1.0", "1.1"])
    a = ap.parse_args()
    with open(a.script, encoding="utf-8") as f:
        connections = json.load(f)
    family = socket.AF_INET6 if ":" in a.host else socket.AF_INET
    srv = socket.socket(family, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind((a.host, 0))
    srv.listen(8)
    srv.settimeout(60)
    tls = None
    if a.cert:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(a.cert, a.key)
        if a.tls_max:
            # OpenSSL refuses these versions at its default security level.
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", DeprecationWarning)
                tls.set_ciphers("DEFAULT:@SECLEVEL=0")
                tls.minimum_version = ssl.TLSVersion.TLSv1
                tls.maximum_version = (ssl.TLSVersion.TLSv1 if a.tls_max == "1.0"
                                       else ssl.TLSVersion.TLSv1_1)
    print("PORT %d" % srv.getsockname()[1], flush=True)
    with open(a.received, "ab") as record:
        for steps in connections:
            try:
                sock, _ = srv.accept()
            except socket.timeout:
                return 1
            sock.settimeout(30)
            try:
                if tls is not None and ["starttls"] not in steps:
                    sock = tls.wrap_socket(sock, server_side=True)
                conn = Conn(sock, record, tls)
                try:
                    run(conn, steps)
                finally:
                    sock = conn.sock
            except (EOFError, OSError, ssl.SSLError):
                pass
            finally:
                try:
                    sock.close()
                except OSError:
                    pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
