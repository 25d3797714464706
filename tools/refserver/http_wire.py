"""HTTP/1.1 on the server's side of one TCP connection: reading request heads and bodies (with an
optional cap on the reading rate and an optional point at which to give up), and writing replies in
the three framings a client must understand (Content-Length, chunked, delimited by closing).

Written for this server rather than taken from http.server so that every byte read and written is
under the tests' control, and so that malformed requests are refused with a precise reason.
"""

import re
import socket
import time

MAX_HEAD = 64 * 1024  # a request's header block
MAX_CHUNK_LINE = 1024  # one chunk-size line of a chunked request body
RECV_SIZE = 64 * 1024

REASONS = {
    100: "Continue", 200: "OK", 400: "Bad Request", 401: "Unauthorized", 404: "Not Found", 405: "Method Not Allowed",
    408: "Request Timeout", 411: "Length Required", 413: "Content Too Large", 431: "Request Header Fields Too Large",
    500: "Internal Server Error", 501: "Not Implemented", 502: "Bad Gateway", 503: "Service Unavailable",
    504: "Gateway Timeout", 505: "HTTP Version Not Supported",
}

_REQUEST_LINE = re.compile(rb"^([!#$%&'*+\-.^_`|~0-9A-Za-z]+) ([\x21-\x7e]+) HTTP/([0-9])\.([0-9])$")
_HEADER_NAME = re.compile(rb"^[!#$%&'*+\-.^_`|~0-9A-Za-z]+$")
_ABSOLUTE_TARGET = re.compile(r"^[A-Za-z][A-Za-z0-9+.\-]*://[^/?#]*")


class HttpError(Exception):
    """A request that cannot be served; answered with `status` and the text, then the connection is
    closed because its framing can no longer be trusted."""

    def __init__(self, status, message):
        super().__init__(message)
        self.status = status
        self.message = message


class PeerGone(Exception):
    """The client closed or reset the connection, or the server is stopping."""


class Request:
    def __init__(self, method, target, version, headers):
        self.method = method
        self.target = target
        self.version = version  # (major, minor)
        self.headers = headers  # lower-case name -> value; repeated names joined by ", "
        self.path = _path_of(target)
        self.body = b""

    def header(self, name, default=None):
        return self.headers.get(name.lower(), default)

    def wants_close(self):
        tokens = {t.strip().lower() for t in self.header("connection", "").split(",")}
        if self.version >= (1, 1):
            return "close" in tokens
        return "keep-alive" not in tokens


def _path_of(target):
    """The path of an origin-form or absolute-form target, without query or fragment."""
    match = _ABSOLUTE_TARGET.match(target)
    if match:
        target = target[match.end() :] or "/"
    for mark in "?#":
        target = target.split(mark, 1)[0]
    return target


def parse_head(raw):
    """Parses a header block (without its final blank line) into a Request."""
    lines = raw.split(b"\r\n")
    match = _REQUEST_LINE.match(lines[0])
    if not match:
        shown = lines[0][:80].decode("ascii", "backslashreplace")
        raise HttpError(400, f"malformed request line {shown!r}")
    method, target, major, minor = match.groups()
    version = (int(major), int(minor))
    if version[0] != 1:
        raise HttpError(505, f"HTTP version {version[0]}.{version[1]} is not served")
    headers = {}
    for line in lines[1:]:
        if line[:1] in (b" ", b"\t"):
            raise HttpError(400, "folded header line (obsolete line folding is not accepted)")
        name, colon, value = line.partition(b":")
        if not colon or not _HEADER_NAME.match(name):
            raise HttpError(400, f"malformed header line {line[:80].decode('ascii', 'backslashreplace')!r}")
        key = name.decode("ascii").lower()
        text = value.strip(b" \t").decode("latin-1")
        if key in headers:
            if key in ("content-length", "host") and headers[key] != text:
                raise HttpError(400, f"conflicting {name.decode('ascii')} headers")
            if key not in ("content-length", "host"):
                headers[key] = headers[key] + ", " + text
            continue
        headers[key] = text
    request = Request(method.decode("ascii"), target.decode("ascii"), version, headers)
    if version >= (1, 1) and "host" not in headers:
        raise HttpError(400, "HTTP/1.1 request without a Host header")
    return request


class Connection:
    """The reading and writing side of one accepted socket. Used by its handler thread only; `stopping`
    is the server's stop event, polled while waiting so that a shutdown ends every wait."""

    def __init__(self, sock, stopping, idle_timeout, read_timeout):
        self.sock = sock
        self.stopping = stopping
        self.idle_timeout = idle_timeout
        self.read_timeout = read_timeout
        self.buffer = bytearray()
        self.bytes_in = 0
        self.bytes_out = 0

    def _recv(self, size, deadline):
        """Up to `size` bytes from the socket into the buffer; False at end of stream."""
        while True:
            if self.stopping.is_set():
                raise PeerGone("server stopping")
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TimeoutError
            self.sock.settimeout(min(remaining, 0.2))
            try:
                data = self.sock.recv(size)
            except socket.timeout:
                continue
            except (ConnectionError, OSError) as e:
                raise PeerGone(str(e)) from e
            self.bytes_in += len(data)
            if not data:
                return False
            self.buffer += data
            return True

    def read_head(self):
        """The next request's header block, or None when the client closed (or stayed idle) before
        sending a byte of it."""
        deadline = time.monotonic() + self.idle_timeout
        searched = 0
        while True:
            end = self.buffer.find(b"\r\n\r\n", searched)
            if end >= 0:
                head = bytes(self.buffer[:end])
                del self.buffer[: end + 4]
                return parse_head(head)
            if len(self.buffer) > MAX_HEAD:
                raise HttpError(431, f"request header block longer than {MAX_HEAD} bytes")
            searched = max(0, len(self.buffer) - 3)
            try:
                more = self._recv(RECV_SIZE, deadline)
            except TimeoutError:
                if self.buffer:
                    raise HttpError(408, "request header block incomplete when the time ran out") from None
                return None
            if not more:
                if self.buffer:
                    raise PeerGone("client closed in the middle of a request header block")
                return None
            if not self.buffer.strip(b"\r\n"):
                # Stray line ends between requests are tolerated, as RFC 9112 asks.
                self.buffer.clear()
                searched = 0

    def read_body(self, length, rate=None, stop_after=None):
        """Reads `length` body bytes. With `rate`, no faster than that many bytes per second; with
        `stop_after`, no more than that many. Returns (bytes, complete): complete is false when the
        client closed early or `stop_after` cut the body short."""
        limit = length if stop_after is None else min(length, stop_after)
        out = bytearray()
        start = time.monotonic()
        deadline = start + self.read_timeout
        while len(out) < limit:
            want = limit - len(out)
            if rate:
                allowed = int(rate * (time.monotonic() - start)) + 1 - len(out)
                if allowed <= 0:
                    if self.stopping.wait(min((1 - allowed) / rate, 0.1)):
                        raise PeerGone("server stopping")
                    deadline = time.monotonic() + self.read_timeout
                    continue
                want = min(want, allowed)
            if not self.buffer:
                try:
                    more = self._recv(min(want, RECV_SIZE), deadline)
                except TimeoutError:
                    raise HttpError(408, f"request body stalled after {len(out)} of {length} bytes") from None
                if not more:
                    return bytes(out), False
                deadline = time.monotonic() + self.read_timeout
            take = min(want, len(self.buffer))
            out += self.buffer[:take]
            del self.buffer[:take]
        return bytes(out), len(out) == length

    def read_chunked_body(self, max_body):
        """Reads a chunked request body (the client does not send one, but a proxy may)."""
        out = bytearray()
        deadline = time.monotonic() + self.read_timeout
        while True:
            line = self._read_line(deadline)
            size_text = line.split(b";", 1)[0].strip()
            if not re.fullmatch(rb"[0-9A-Fa-f]{1,8}", size_text):
                raise HttpError(400, f"malformed chunk size line {line[:40].decode('ascii', 'backslashreplace')!r}")
            size = int(size_text, 16)
            if size == 0:
                while self._read_line(deadline):  # trailer lines, up to the blank one
                    pass
                return bytes(out)
            if len(out) + size > max_body:
                raise HttpError(413, f"chunked request body larger than {max_body} bytes")
            data, complete = self.read_body(size + 2)
            if not complete:
                raise PeerGone("client closed in the middle of a chunk")
            if data[-2:] != b"\r\n":
                raise HttpError(400, "chunk data not followed by CRLF")
            out += data[:-2]

    def _read_line(self, deadline):
        while True:
            end = self.buffer.find(b"\r\n")
            if end >= 0:
                line = bytes(self.buffer[:end])
                del self.buffer[: end + 2]
                return line
            if len(self.buffer) > MAX_CHUNK_LINE:
                raise HttpError(400, f"chunk line longer than {MAX_CHUNK_LINE} bytes")
            try:
                more = self._recv(RECV_SIZE, deadline)
            except TimeoutError:
                raise HttpError(408, "chunked request body stalled") from None
            if not more:
                raise PeerGone("client closed in the middle of a chunked body")

    def send(self, data):
        try:
            self.sock.sendall(data)
        except (ConnectionError, OSError) as e:
            raise PeerGone(str(e)) from e
        self.bytes_out += len(data)

    def wait(self, seconds):
        """Sleeps, ending early (with PeerGone) when the server stops."""
        if self.stopping.wait(seconds):
            raise PeerGone("server stopping")

    def linger(self, seconds=1.0, limit=4 * 1024 * 1024):
        """Half-closes and reads what the client still sends, so that closing with unread input does
        not reset the connection and destroy the reply before the client has read it."""
        try:
            self.sock.shutdown(socket.SHUT_WR)
        except OSError:
            return
        deadline = time.monotonic() + seconds
        drained = 0
        self.buffer.clear()
        try:
            while drained < limit and self._recv(RECV_SIZE, deadline):
                drained += len(self.buffer)
                self.buffer.clear()
        except (PeerGone, TimeoutError):
            pass

    def wait_closed(self, seconds):
        """Reads and throws away what the client still sends until it closes the connection; False when
        it was still open after `seconds`. Raises PeerGone on a reset or when the server stops."""
        deadline = time.monotonic() + seconds
        self.buffer.clear()
        try:
            while self._recv(RECV_SIZE, deadline):
                self.buffer.clear()
        except TimeoutError:
            return False
        return True

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()


def interim_reply(status=100):
    return f"HTTP/1.1 {status} {REASONS.get(status, 'Continue')}\r\n\r\n".encode("ascii")


def build_reply(status, body, headers=(), framing="length", close=False, reason=None,
                chunk_size=None, chunk_ext=False, trailer=False):
    """The bytes of a complete reply. `headers` are (name, value) pairs sent after the framing
    headers; with framing "close" the reply has no length and the connection must be closed after it."""
    reason = reason if reason is not None else REASONS.get(status, "Unknown")
    lines = [f"HTTP/1.1 {status} {reason}"]
    if framing == "length":
        lines.append(f"Content-Length: {len(body)}")
    elif framing == "chunked":
        lines.append("Transfer-Encoding: chunked")
    if close or framing == "close":
        lines.append("Connection: close")
    lines.extend(f"{name}: {value}" for name, value in headers)
    head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
    if framing != "chunked":
        return head + body
    size = chunk_size or 16
    out = bytearray(head)
    for start in range(0, len(body), size):
        piece = body[start : start + size]
        out += f"{len(piece):x}".encode("ascii") + (b";piece=1" if chunk_ext else b"") + b"\r\n" + piece + b"\r\n"
    out += b"0\r\n" + (b"X-Refserver-Trailer: end\r\n" if trailer else b"") + b"\r\n"
    return bytes(out)
