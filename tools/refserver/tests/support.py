"""Test helpers: an in-process server on 127.0.0.1:0, request bodies built byte for byte as the
upload client builds them, and a raw HTTP reader that keeps the framing visible (interim replies,
chunks, close-delimited bodies) instead of hiding it as http.client does."""

import json
import os
import shutil
import socket
import tempfile
import unittest

import refserver

BOUNDARY = "----------" + "ABCDEFGHIJKLMNOPQRSTUVWXYABCDEFG"
IMAGE_FIELD_NAMES = (
    "AuthenticationID", "CampaignID", "Image.AlbumID", "Image.AlbumName", "Image.UploadTime", "ImageID",
    "PartnerID", "PartnerSubID", "ProtocolVersion", "SessionID", "UID",
)


def form_encode(pairs):
    """Letters and digits raw, every other byte as %XX with upper-case digits, joined by '&'."""
    def enc(text):
        return "".join(chr(b) if chr(b).isascii() and chr(b).isalnum() else f"%{b:02X}" for b in text.encode("utf-8"))
    return "&".join(f"{enc(n)}={enc(v)}" for n, v in pairs).encode("ascii")


def multipart_body(fields, offset, path, filesize, data, boundary=BOUNDARY):
    """The UploadImage body: one part per field in the given order, the Offset part, the Image.Data
    part with the file's bytes from the offset, and the closing line."""
    b = boundary.encode("ascii")
    out = bytearray()
    for name, value in fields:
        out += b"--" + b + b"\r\n"
        out += b'Content-Disposition: form-data; name="' + name.encode() + b'"\r\n'
        out += b'Content-Type: text/plain; charset="us-ascii"\r\n\r\n'
        out += value.encode() + b"\r\n"
    out += b"--" + b + b"\r\n"
    out += b'Content-Disposition: form-data; name="Offset"\r\n'
    out += b'Content-Type: text/plain; charset="us-ascii"\r\n\r\n'
    out += str(offset).encode() + b"\r\n"
    out += b"--" + b + b"\r\n"
    out += b'Content-Disposition: form-data; name="Image.Data"; filename="' + path.encode() + b'"; filesize="'
    out += str(filesize).encode() + b'"\r\n'
    out += b"Content-Type: image/jpeg\r\n\r\n"
    out += data + b"\r\n"
    out += b"--" + b + b"--\r\n"
    return bytes(out)


class Response:
    def __init__(self, status, reason, headers, body, interim):
        self.status = status
        self.reason = reason
        self.headers = headers  # lower-case name -> value
        self.body = body
        self.interim = interim  # status codes of the 1xx replies that came first
        self.fields = {}
        for line in body.decode("utf-8", "replace").split("\n"):
            if "=" in line:
                name, value = line.split("=", 1)
                self.fields[name] = value
        self.framing = None  # "length", "chunked" or "close"
        self.chunks = []


def read_response(raw):
    """Parses the whole byte stream of one exchange (the server closed it after the reply)."""
    interim = []
    pos = 0
    while True:
        end = raw.index(b"\r\n\r\n", pos)
        lines = raw[pos:end].decode("latin-1").split("\r\n")
        version, code, reason = lines[0].split(" ", 2)
        assert version == "HTTP/1.1", lines[0]
        pos = end + 4
        if code.startswith("1"):
            interim.append(int(code))
            continue
        break
    headers = {}
    for line in lines[1:]:
        name, value = line.split(":", 1)
        headers[name.strip().lower()] = value.strip()
    rest = raw[pos:]
    chunks = []
    if headers.get("transfer-encoding", "").lower() == "chunked":
        body = bytearray()
        while True:
            line_end = rest.index(b"\r\n")
            size = int(rest[:line_end].split(b";")[0], 16)
            chunks.append(rest[:line_end])
            rest = rest[line_end + 2 :]
            if size == 0:
                break
            body += rest[:size]
            assert rest[size : size + 2] == b"\r\n"
            rest = rest[size + 2 :]
        trailer_end = rest.index(b"\r\n\r\n") if not rest.startswith(b"\r\n") else -2
        trailer = rest[: trailer_end] if trailer_end >= 0 else b""
        response = Response(int(code), reason, headers, bytes(body), interim)
        response.framing = "chunked"
        response.chunks = chunks
        response.trailer = trailer
        return response
    if "content-length" in headers:
        length = int(headers["content-length"])
        assert len(rest) == length, (len(rest), length)
        response = Response(int(code), reason, headers, rest, interim)
        response.framing = "length"
        return response
    response = Response(int(code), reason, headers, rest, interim)
    response.framing = "close"
    return response


def exchange(port, raw_request, timeout=10):
    """Sends one request on a new connection and reads until the server closes it."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as sock:
        try:
            sock.sendall(raw_request)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the server may answer (or drop) before reading everything
        return exchange_rest(sock)


def exchange_rest(sock):
    """What the server sends on `sock` until it closes the connection."""
    data = bytearray()
    while True:
        try:
            piece = sock.recv(65536)
        except ConnectionResetError:
            break
        if not piece:
            break
        data += piece
    return bytes(data)


def request_bytes(port, servlet, body, content_type, cookie=None, multipart=False, extra=()):
    """A POST as the client writes it: request line, Host, content-length, Connection: close, then
    Mime-Version and Content-Type, the cookie and the User-Agent."""
    lines = [f"POST /{servlet} HTTP/1.1", f"Host: 127.0.0.1:{port}", f"content-length: {len(body)}", "Connection: close"]
    if multipart:
        lines.append("Mime-Version: 1.0")
    lines.append(f"Content-Type: {content_type}")
    if cookie:
        lines.append(f"Cookie: {cookie}")
    lines.append("User-Agent: refserver-test")
    lines.extend(extra)
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body


class Client:
    """The three upload messages and the statistics message, against one server."""

    def __init__(self, port, auth="auth 1", session="sess&1", uid="u=1"):
        self.port = port
        self.identity = {"AuthenticationID": auth, "SessionID": session, "UID": uid}

    def post(self, servlet, body, content_type, cookie=None, multipart=False, port=None, extra=()):
        port = port or self.port
        raw = exchange(port, request_bytes(port, servlet, body, content_type, cookie, multipart, extra))
        return read_response(raw)

    def get_image_id(self, pairs=None):
        pairs = pairs or [("AuthenticationID", self.identity["AuthenticationID"]), ("ProtocolVersion", "2.0"),
                          ("SessionID", self.identity["SessionID"]), ("UID", self.identity["UID"])]
        return self.post("GetImageID", form_encode(pairs), "application/x-www-form-urlencoded")

    def image_fields(self, image_id, **changes):
        values = {
            "AuthenticationID": self.identity["AuthenticationID"], "CampaignID": "c 7", "Image.AlbumID": "42",
            "Image.AlbumName": "Holiday & friends", "Image.UploadTime": "", "ImageID": image_id, "PartnerID": "p",
            "PartnerSubID": "", "ProtocolVersion": "2.0", "SessionID": self.identity["SessionID"],
            "UID": self.identity["UID"],
        }
        values.update(changes)
        return [(name, values[name]) for name in IMAGE_FIELD_NAMES]

    def get_image_offset(self, image_id, server_port, cookie, **changes):
        body = form_encode(self.image_fields(image_id, **changes))
        return self.post("GetImageOffset", body, "application/x-www-form-urlencoded", cookie, port=server_port)

    def upload_body(self, image_id, offset, path, data, filesize=None):
        filesize = len(data) if filesize is None else filesize
        return multipart_body(self.image_fields(image_id), offset, path, filesize, data[offset:])

    def upload_image(self, image_id, server_port, cookie, offset, path, data, filesize=None):
        body = self.upload_body(image_id, offset, path, data, filesize)
        return self.post("UploadImage", body, f"multipart/form-data; boundary={BOUNDARY}", cookie, True, server_port)

    def new_image(self):
        """GetImageID; returns (ImageID, data server port, cookie as the client sends it back)."""
        reply = self.get_image_id()
        assert reply.fields.get("Status") == "OK", reply.body
        server_port = int(reply.fields["Server"].rsplit(":", 1)[1])
        cookie = reply.headers["set-cookie"].split(";")[0]
        return reply.fields["ImageID"], server_port, cookie


def picture(size, seed=1):
    """Deterministic bytes that look like a JPEG to nobody but are easy to compare."""
    out = bytearray(b"\xff\xd8\xff\xe0")
    value = seed
    while len(out) < size:
        value = (value * 1103515245 + 12345) & 0x7FFFFFFF
        out += value.to_bytes(4, "little")
    return bytes(out[:size])


class ServerTestCase(unittest.TestCase):
    """Starts a fresh in-process server (with a second listener) for every test."""

    second_server = "auto"
    settings = None

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="refserver-test-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.stats_path = os.path.join(self.dir, "stats.jsonl")
        self.server = refserver.RefServer(os.path.join(self.dir, "store"), self.stats_path,
                                          second_server=self.second_server, settings=self.settings,
                                          idle_timeout=5.0, read_timeout=5.0).start()
        self.addCleanup(self.server.stop)
        self.port = self.server.port
        self.client = Client(self.port)

    def control(self, command):
        body = json.dumps(command).encode()
        raw = exchange(self.port, request_bytes(self.port, "_control", body, "application/json"))
        response = read_response(raw)
        return response.status, json.loads(response.body)

    def state(self):
        raw = exchange(self.port, f"GET /_state HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode())
        return json.loads(read_response(raw).body)

    def assertReply(self, response, **fields):
        self.assertEqual(response.status, 200, response.body)
        for name, value in fields.items():
            self.assertEqual(response.fields.get(name), value, response.body)
