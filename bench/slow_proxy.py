#!/usr/bin/python3
"""A loopback TCP proxy that forwards to 127.0.0.1:TARGET and lets the server's bytes through
to the client at no more than RATE bytes per second (the client's bytes pass unthrottled):
a slow but working link.

    slow_proxy.py TARGET RATE

Prints "PORT N" once listening; serves connections until killed.
"""
import socket
import sys
import threading
import time


def pump(src, dst, rate):
    start = time.monotonic()
    sent = 0
    try:
        while True:
            data = src.recv(8192 if rate else 65536)
            if not data:
                break
            dst.sendall(data)
            sent += len(data)
            if rate:
                ahead = sent / rate - (time.monotonic() - start)
                if ahead > 0:
                    time.sleep(ahead)
    except OSError:
        pass
    for s in (src, dst):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def serve(client, target, rate):
    upstream = socket.create_connection(("127.0.0.1", target))
    threading.Thread(target=pump, args=(client, upstream, 0), daemon=True).start()
    pump(upstream, client, rate)


def main():
    target, rate = int(sys.argv[1]), int(sys.argv[2])
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", 0))
    srv.listen(4)
    print("PORT %d" % srv.getsockname()[1], flush=True)
    while True:
        client, _ = srv.accept()
        threading.Thread(target=serve, args=(client, target, rate), daemon=True).start()


if __name__ == "__main__":
    main()
