#!/usr/bin/env python3
"""Opens COUNT keep-alive connections to HOST:PORT, spread over source
addresses 127.0.0.2 and up (PER_ADDRESS each, under the server's cap per
client address), sends one GET on each and reads its answer, then holds
them all idle. Prints "ready N" once N connections are idle, and keeps
them until it is stopped (SIGTERM) or --hold seconds pass.
With --tls the connections speak TLS (the certificate is not checked).
Usage: idle-clients.py PORT COUNT [--per-address N] [--hold S] [--path P] [--tls]"""
import argparse
import resource
import selectors
import socket
import ssl
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("count", type=int)
    parser.add_argument("--per-address", type=int, default=50)
    parser.add_argument("--hold", type=float, default=120)
    parser.add_argument("--path", default="/")
    parser.add_argument("--tls", action="store_true")
    args = parser.parse_args()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    request = ("GET %s HTTP/1.1\r\nHost: localhost\r\n\r\n" % args.path).encode()
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    sel = selectors.DefaultSelector()
    pending = {}
    for i in range(args.count):
        host = i // args.per_address + 2
        source = "127.0.%d.%d" % (host // 250, host % 250 + 2)
        s = socket.socket()
        s.bind((source, 0))
        s.connect(("127.0.0.1", args.port))
        if args.tls:
            s = context.wrap_socket(s)
        s.sendall(request)
        s.setblocking(False)
        sel.register(s, selectors.EVENT_READ)
        pending[s] = b""
    idle = []
    deadline = time.time() + 60
    while pending and time.time() < deadline:
        for key, _ in sel.select(timeout=1):
            s = key.fileobj
            try:
                data = s.recv(65536)
            except ssl.SSLWantReadError:
                continue
            if not data:
                sel.unregister(s)
                del pending[s]
                continue
            pending[s] += data
            head, sep, body = pending[s].partition(b"\r\n\r\n")
            if not sep:
                continue
            length = 0
            for line in head.split(b"\r\n"):
                if line.lower().startswith(b"content-length:"):
                    length = int(line.split(b":")[1])
            if len(body) >= length:
                sel.unregister(s)
                del pending[s]
                idle.append(s)
    print("ready %d" % len(idle), flush=True)
    time.sleep(args.hold)
    for s in idle:
        s.close()


if __name__ == "__main__":
    main()
