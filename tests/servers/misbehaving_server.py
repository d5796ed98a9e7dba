#!/usr/bin/env python3
"""The answers a well-behaved server never gives, for the client's tests.

Runs on its own loopback address on port 80 (the client always connects to
port 80 of the host it is given). The path names the fault:

  /exact/N          Content-Length N and N bytes
  /over/N           Content-Length N and N + 1 bytes, then the connection ends
  /over-chunked/N   Content-Length N, but the body is chunked and N + 1 long
  /short/N          Content-Length N, N - 1 bytes, then the connection ends
  /cut/N            Content-Length N, half of it, then a reset
  /unannounced/N    no Content-Length, N bytes, the end of the connection ends it
  /huge             Content-Length of 100 GB, a few bytes, then silence
  /slow/N           Content-Length N, sent in three parts one second apart
  /stall            Content-Length 100, 10 bytes, then silence
  /no-status        a line that is no status line, then the end
  /silent           no answer at all until the client gives up
  /empty            the connection ends without a byte

Bodies are the repeated letters a to z, so a test can check every byte.
Silences last at most two minutes, so a forgotten client cannot keep the
server busy forever.
"""
import argparse
import socket
import socketserver
import struct
import sys
import time

SILENCE_SECONDS = 120


def body(length):
    letters = b"abcdefghijklmnopqrstuvwxyz"
    return (letters * (length // len(letters) + 1))[:length]


def head(length=None, extra=b""):
    lines = b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
    if length is not None:
        lines += b"Content-Length: %d\r\n" % length
    return lines + extra + b"Connection: close\r\n\r\n"


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        data = b""
        self.request.settimeout(30)
        while b"\r\n\r\n" not in data:
            chunk = self.request.recv(4096)
            if not chunk:
                return None
            data += chunk
        line = data.split(b"\r\n", 1)[0].decode("latin-1")
        parts = line.split(" ")
        return parts[1] if len(parts) >= 2 else None

    def silence(self):
        # Waits for the client to close, or for the cap.
        self.request.settimeout(SILENCE_SECONDS)
        try:
            while self.request.recv(4096):
                pass
        except OSError:
            pass

    def handle(self):
        try:
            path = self.read_request()
        except OSError:
            return
        if path is None:
            return
        parts = path.split("?", 1)[0].strip("/").split("/")
        kind = parts[0]
        number = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0
        send = self.request.sendall
        try:
            if kind == "exact":
                send(head(number) + body(number))
            elif kind == "over":
                send(head(number) + body(number + 1))
            elif kind == "over-chunked":
                data = body(number + 1)
                send(head(number, b"Transfer-Encoding: chunked\r\n")
                     + b"%x\r\n" % len(data) + data + b"\r\n0\r\n\r\n")
            elif kind == "short":
                send(head(number) + body(max(number - 1, 0)))
            elif kind == "cut":
                send(head(number) + body(number // 2))
                time.sleep(0.2)
                # A reset rather than an orderly end.
                self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                        struct.pack("ii", 1, 0))
            elif kind == "unannounced":
                send(head() + body(number))
            elif kind == "huge":
                send(head(100 * 1000 * 1000 * 1000) + body(1000))
                self.silence()
            elif kind == "slow":
                data = body(number)
                send(head(number))
                third = max(len(data) // 3, 1)
                for start in range(0, len(data), third):
                    send(data[start:start + third])
                    time.sleep(1)
            elif kind == "stall":
                send(head(100) + body(10))
                self.silence()
            elif kind == "no-status":
                send(b"Hello, this is not HTTP.\r\n\r\nNor is this.\r\n")
            elif kind == "silent":
                self.silence()
            elif kind == "empty":
                pass
            else:
                send(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n"
                     b"Connection: close\r\n\r\n")
        except OSError:
            # The client went away first, which several faults provoke.
            pass


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", default="127.0.0.2")
    parser.add_argument("--port", type=int, default=80)
    args = parser.parse_args()
    with Server((args.address, args.port), Handler) as server:
        print("listening", flush=True)
        server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
