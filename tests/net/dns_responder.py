#!/usr/bin/env python3
"""A DNS responder for the host-resolution tests. It serves UDP on 127.0.0.1:53 inside the test's own
network namespace, which has no interface but loopback, so no query ever leaves the machine.

    dns_responder.py LOG

Answers by the asked name (case-insensitive, without the final dot):
    a.test          A 127.0.0.7
    late.test       the name without an IPv4 address twice, then A 127.0.0.8
    nodata.test     NOERROR without answers: the name exists, without an IPv4 address
    nxdomain.test   NXDOMAIN: no such name
    servfail.test   SERVFAIL: the server cannot answer now
    anything else   NXDOMAIN
Every asked name is appended to LOG, one line each. Prints "ready" once bound; serves until killed."""
import socket
import struct
import sys

NOERROR, SERVFAIL, NXDOMAIN = 0, 2, 3
TYPE_A, CLASS_IN = 1, 1

asked = {}


def answer(name, qtype):
    """(rcode, IPv4 address or None) for one question."""
    count = asked[name] = asked.get(name, 0) + 1
    if name == "a.test":
        return NOERROR, "127.0.0.7" if qtype == TYPE_A else None
    if name == "late.test":
        return NOERROR, "127.0.0.8" if qtype == TYPE_A and count > 2 else None
    if name == "nodata.test":
        return NOERROR, None
    if name == "servfail.test":
        return SERVFAIL, None
    return NXDOMAIN, None


def parse_question(packet):
    """(name, type, the question's bytes) of a query's first question."""
    labels, at = [], 12
    while packet[at] != 0:
        length = packet[at]
        labels.append(packet[at + 1:at + 1 + length].decode("ascii", "replace"))
        at += 1 + length
    qtype, _ = struct.unpack("!HH", packet[at + 1:at + 5])
    return ".".join(labels).lower(), qtype, packet[12:at + 5]


def main():
    log = open(sys.argv[1], "a", buffering=1)
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind(("127.0.0.1", 53))
    # One write, which the test reads whole before it closes its end.
    sys.stdout.write("ready\n")
    sys.stdout.flush()
    while True:
        packet, peer = server.recvfrom(4096)
        if len(packet) < 17:
            continue
        (ident, flags, qdcount) = struct.unpack("!HHH", packet[:6])
        if qdcount < 1:
            continue
        name, qtype, question = parse_question(packet)
        log.write(name + "\n")
        rcode, address = answer(name, qtype)
        # A response (QR), authoritative (AA), recursion as asked (RD) and available (RA).
        reply_flags = 0x8000 | 0x0400 | (flags & 0x0100) | 0x0080 | rcode
        reply = struct.pack("!HHHHHH", ident, reply_flags, 1, 1 if address else 0, 0, 0) + question
        if address:
            # The question's name by pointer, A, IN, no caching, four bytes of address.
            reply += struct.pack("!HHHIH", 0xC00C, TYPE_A, CLASS_IN, 0, 4) + socket.inet_aton(address)
        server.sendto(reply, peer)


if __name__ == "__main__":
    main()
