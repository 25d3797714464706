"""Decoders for the two request bodies of the upload protocol: application/x-www-form-urlencoded and
multipart/form-data. Both are strict on purpose: the server exists to check a client, so every
deviation from the expected bytes is reported with what was found and where, never repaired.

Text values are decoded from UTF-8 with surrogateescape, so that any byte sequence survives a round
trip and compares exactly; JSON output escapes what is not valid UTF-8.
"""

import re

MAX_PARTS = 64  # the protocol sends 13; anything far beyond is hostile
MAX_PART_HEADER = 8 * 1024  # one part's header block

_HEX_UPPER = b"0123456789ABCDEF"


class FormError(ValueError):
    """A body that does not decode; the text says what and where."""


def decode_text(raw):
    return raw.decode("utf-8", "surrogateescape")


def encode_text(text):
    return text.encode("utf-8", "surrogateescape")


def show(raw, limit=60):
    """A short printable rendering of client bytes for an error message."""
    if isinstance(raw, str):
        raw = encode_text(raw)
    text = raw[:limit].decode("ascii", "backslashreplace")
    text = text.replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t")
    return '"' + text + ('..."' if len(raw) > limit else '"')


def _percent_decode(raw, what, strict):
    out = bytearray()
    i = 0
    while i < len(raw):
        byte = raw[i]
        if byte == 0x25:  # '%'
            pair = raw[i + 1 : i + 3]
            if len(pair) < 2 or not all(c in b"0123456789ABCDEFabcdef" for c in pair):
                raise FormError(f"{what}: '%' at offset {i} is not followed by two hexadecimal digits ({show(raw[i:i + 3])})")
            if strict and not all(c in _HEX_UPPER for c in pair):
                raise FormError(f"{what}: escape {show(raw[i:i + 3])} at offset {i} uses lower-case hexadecimal digits")
            out.append(int(pair, 16))
            i += 3
            continue
        if strict and not (0x30 <= byte <= 0x39 or 0x41 <= byte <= 0x5A or 0x61 <= byte <= 0x7A):
            raise FormError(f"{what}: byte {show(bytes([byte]))} at offset {i} is not percent-encoded")
        out.append(0x20 if (byte == 0x2B and not strict) else byte)
        i += 1
    return bytes(out)


def decode_form(body, strict=True):
    """Splits a form-encoded body into a list of (name, value) text pairs, in body order.

    Strict mode accepts only what the client is meant to send: letters and digits raw, every other
    byte as '%' and two upper-case hexadecimal digits (so a '+' is an error, not a space)."""
    if not body:
        return []
    pairs = []
    for number, item in enumerate(body.split(b"&"), 1):
        if b"=" not in item:
            raise FormError(f"form field {number} ({show(item)}) has no '='")
        raw_name, raw_value = item.split(b"=", 1)
        if not raw_name:
            raise FormError(f"form field {number} has an empty name")
        name = decode_text(_percent_decode(raw_name, f"form field {number} name", strict))
        value = decode_text(_percent_decode(raw_value, f"form field {number} ({name}) value", strict))
        pairs.append((name, value))
    return pairs


_BOUNDARY_CHARS = re.compile(rb"^[0-9A-Za-z'()+_,\-./:=? ]{0,69}[0-9A-Za-z'()+_,\-./:=?]$")


def parse_multipart_type(content_type):
    """The boundary of a "multipart/form-data; boundary=B" Content-Type value, as bytes."""
    if content_type is None:
        raise FormError("no Content-Type header")
    media, sep, params = content_type.partition(";")
    if media.strip().lower() != "multipart/form-data":
        raise FormError(f"Content-Type is {show(content_type)}, expected multipart/form-data")
    boundary = None
    for param in params.split(";") if sep else []:
        key, eq, value = param.strip().partition("=")
        if not eq:
            raise FormError(f"Content-Type parameter {show(param.strip())} has no '='")
        if key.lower() == "boundary":
            if boundary is not None:
                raise FormError("Content-Type names the boundary twice")
            if len(value) >= 2 and value[0] == value[-1] == '"':
                value = value[1:-1]
            boundary = value
    if boundary is None:
        raise FormError(f"Content-Type {show(content_type)} has no boundary parameter")
    raw = boundary.encode("latin-1", "replace")
    if not _BOUNDARY_CHARS.match(raw):
        raise FormError(f"boundary {show(raw)} is empty, longer than 70 characters or has characters not allowed in a boundary")
    return raw


class Part:
    """One part of a multipart body. `complete` is false for a part cut short by the end of a body
    that arrived truncated."""

    def __init__(self, number, headers, data, complete):
        self.number = number
        self.headers = headers  # list of (name as sent, value) text pairs, in order
        self.data = data
        self.complete = complete

    def header(self, name):
        found = [v for n, v in self.headers if n.lower() == name.lower()]
        return found[0] if found else None


def _parse_part_headers(block, number):
    if len(block) > MAX_PART_HEADER:
        raise FormError(f"part {number}: header block longer than {MAX_PART_HEADER} bytes")
    headers = []
    for line in block.split(b"\r\n"):
        name, colon, value = line.partition(b":")
        if not colon or not name or not re.fullmatch(rb"[!#$%&'*+\-.^_`|~0-9A-Za-z]+", name):
            raise FormError(f"part {number}: header line {show(line)} is not 'Name: value'")
        if not value.startswith(b" "):
            raise FormError(f"part {number}: header {show(name)} lacks the space after ':'")
        headers.append((decode_text(name), decode_text(value[1:])))
    seen = set()
    for name, _ in headers:
        if name.lower() in seen:
            raise FormError(f"part {number}: header {show(name)} appears twice")
        seen.add(name.lower())
    return headers


def _longest_delimiter_prefix(data, delimiter):
    """Length of the longest tail of `data` that is a proper beginning of `delimiter`: bytes that may
    be the start of the delimiter rather than content, in a body that ended early."""
    for size in range(min(len(data), len(delimiter) - 1), 0, -1):
        if data.endswith(delimiter[:size]):
            return size
    return 0


def parse_multipart(body, boundary, truncated=False):
    """Splits a multipart body into parts, checking every delimiter byte for byte: it must open with
    "--B" CRLF, parts are separated by CRLF "--B" CRLF, and it must close with CRLF "--B--" CRLF and
    nothing after.

    With `truncated` the body is a prefix of what was sent: parsing stops quietly where the bytes end,
    the last part (if its header block arrived) is returned with complete=False and without any tail
    that might be the start of the next delimiter."""
    opener = b"--" + boundary + b"\r\n"
    delimiter = b"\r\n--" + boundary
    if not body.startswith(opener):
        if truncated and opener.startswith(body):
            return []
        raise FormError(f"body does not start with the boundary line: starts with {show(body[:len(opener) + 8])}")
    parts = []
    pos = len(opener)
    while True:
        number = len(parts) + 1
        if number > MAX_PARTS:
            raise FormError(f"more than {MAX_PARTS} parts")
        head_end = body.find(b"\r\n\r\n", pos)
        if head_end < 0:
            if truncated:
                return parts
            raise FormError(f"part {number}: header block does not end with a blank line")
        headers = _parse_part_headers(body[pos:head_end], number)
        data_start = head_end + 4
        data_end = body.find(delimiter, data_start)
        if data_end < 0:
            if truncated:
                data = body[data_start:]
                data = data[: len(data) - _longest_delimiter_prefix(data, delimiter)]
                parts.append(Part(number, headers, data, complete=False))
                return parts
            raise FormError(f"part {number}: data is not followed by a boundary line")
        parts.append(Part(number, headers, body[data_start:data_end], complete=True))
        after = body[data_end + len(delimiter) :]
        if after.startswith(b"\r\n"):
            pos = data_end + len(delimiter) + 2
            continue
        if after.startswith(b"--"):
            rest = after[2:]
            if rest == b"\r\n" or (truncated and b"\r\n".startswith(rest)):
                return parts
            if not rest.startswith(b"\r\n"):
                raise FormError(f"closing boundary is followed by {show(rest[:8])}, expected CRLF")
            raise FormError(f"{len(rest) - 2} bytes follow the closing boundary line")
        if truncated and (b"\r\n".startswith(after) or b"--\r\n".startswith(after)):
            return parts
        raise FormError(f"part {number}: boundary is followed by {show(after[:8])}, expected CRLF or '--'")
