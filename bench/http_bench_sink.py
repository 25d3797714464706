#!/usr/bin/env python3
"""A loopback sink for bench/http_bench.sh: reads each request whole (headers and content-length
bytes, in large reads so that it is never the slow side), answers 200 with a short body and closes.
Prints its port, then serves until killed. Binds 127.0.0.1 only."""
import socket
import sys

listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 0))
listener.listen(8)
print(listener.getsockname()[1], flush=True)
buffer = bytearray(1 << 20)
while True:
    conn, _ = listener.accept()
    head = b""
    while b"\r\n\r\n" not in head:
        piece = conn.recv(4096)
        if not piece:
            break
        head += piece
    top, _, rest = head.partition(b"\r\n\r\n")
    length = 0
    for line in top.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value)
    left = length - len(rest)
    view = memoryview(buffer)
    while left > 0:
        n = conn.recv_into(view, min(left, len(buffer)))
        if n == 0:
            break
        left -= n
    reply = b"received %d\n" % (length - left)
    conn.sendall(b"HTTP/1.1 200 OK\r\ncontent-length: %d\r\nconnection: close\r\n\r\n" % len(reply) + reply)
    conn.close()
