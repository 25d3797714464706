#!/usr/bin/env python3
"""Request bodies and checks for bench/upload_bench.sh, so that curl sends the upload servlets the
very bytes that pxupload sends.

    ids     --pictures DIR --server HOST:PORT --dir D [identity]   the GetImageID form and curl config
    bodies  --pictures DIR --dir D [identity]                      after the GetImageID replies: the
            UploadImage multipart bodies (file bytes included) and their curl config
    check   --dir D --count N                  every UploadImage reply is HTTP 200 with Status=OK
    state   --url http://127.0.0.1:P/_state --pictures DIR --store DIR   the reference server holds
            every picture complete, byte for byte
    sinklog --log F --pictures DIR     the sink's access log ("$request_uri $request_length
            $content_length $status" lines) shows one GetImageID and one UploadImage per picture, all
            answered 200, every UploadImage body read whole and carrying at least the picture's bytes
    capture --port-file F --dir D      a one-shot server that answers the three servlets and keeps the
            raw requests, until one UploadImage has arrived
    compare --dir D --picture PATH [identity]   the captured requests equal the ones built here

identity: --auth A --session S --uid U (the AuthenticationID, SessionID and UID parameters).
Every failure prints what differs and exits 1. Binds 127.0.0.1 only."""
import argparse
import http.server
import json
import os
import random
import re
import shutil
import sys
import threading
import urllib.request

CRLF = b"\r\n"
FORM_TYPE = "application/x-www-form-urlencoded"
FIELD_PART_TYPE = b'Content-Type: text/plain; charset="us-ascii"'
PROTOCOL_VERSION = "2.0"


def fail(message):
    print(f"upload_bench_bodies: {message}", file=sys.stderr)
    sys.exit(1)


def pictures_in(folder):
    """The folder's pictures as the client names them: absolute, normalised, sorted by name."""
    folder = os.path.normpath(os.path.abspath(folder))
    names = sorted(n for n in os.listdir(folder) if n.lower().endswith((".jpg", ".jpeg")))
    if not names:
        fail(f"no pictures in {folder}")
    return [os.path.join(folder, n) for n in names]


def form_encode(fields):
    """Fields in ascending byte order of their names; every byte but letters and digits as %XX."""

    def encode(text):
        return "".join(
            chr(b) if chr(b).isascii() and chr(b).isalnum() else "%%%02X" % b for b in text.encode()
        )

    return "&".join(f"{encode(n)}={encode(v)}" for n, v in sorted(fields.items(), key=lambda f: f[0].encode()))


def id_fields(args):
    return {"AuthenticationID": args.auth, "ProtocolVersion": PROTOCOL_VERSION, "SessionID": args.session, "UID": args.uid}


def image_fields(args, image_id):
    """The eleven fields of GetImageOffset and UploadImage; the bench leaves partner, campaign and
    album parameters at their empty defaults, and the client never sets the upload time."""
    return {
        "AuthenticationID": args.auth, "CampaignID": "", "Image.AlbumID": "", "Image.AlbumName": "",
        "Image.UploadTime": "", "ImageID": image_id, "PartnerID": "", "PartnerSubID": "",
        "ProtocolVersion": PROTOCOL_VERSION, "SessionID": args.session, "UID": args.uid,
    }


def make_boundary():
    # The client's shape: ten dashes and 32 capital letters.
    return "-" * 10 + "".join(chr(ord("A") + random.randrange(25)) for _ in range(32))


def clean_cookie(text):
    """The set-cookie text as the client returns it: each " Path=..." up to and including the next
    ";" removed, then trailing spaces and semicolons (unless nothing else is left)."""
    while True:
        at = text.find(" Path=")
        if at < 0:
            break
        end = text.find(";", at)
        text = text[:at] + ("" if end < 0 else text[end + 1:])
    stripped = text.rstrip(" ;")
    return stripped if stripped else text


def multipart_head(boundary, fields, offset, path, size):
    """Everything of an UploadImage body before the file's bytes."""
    b = boundary.encode()
    out = bytearray()
    for name, value in sorted(fields.items(), key=lambda f: f[0].encode()):
        out += b"--" + b + CRLF
        out += b'Content-Disposition: form-data; name="' + name.encode() + b'"' + CRLF
        out += FIELD_PART_TYPE + CRLF + CRLF + value.encode() + CRLF
    out += b"--" + b + CRLF + b'Content-Disposition: form-data; name="Offset"' + CRLF
    out += FIELD_PART_TYPE + CRLF + CRLF + str(offset).encode() + CRLF
    out += b"--" + b + CRLF
    out += b'Content-Disposition: form-data; name="Image.Data"; filename="' + path.encode()
    out += b'"; filesize="' + str(size).encode() + b'"' + CRLF
    out += b"Content-Type: image/jpeg" + CRLF + CRLF
    return bytes(out)


def multipart_tail(boundary):
    return CRLF + b"--" + boundary.encode() + b"--" + CRLF


def write_upload_body(target, boundary, fields, path, offset=0):
    size = os.path.getsize(path)
    with open(target, "wb") as out, open(path, "rb") as picture:
        out.write(multipart_head(boundary, fields, offset, path, size))
        picture.seek(offset)
        shutil.copyfileobj(picture, out, 1 << 20)
        out.write(multipart_tail(boundary))


def quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def transfer(lines, url, output, header_file, headers, body_option, body):
    """One POST transfer of a curl config file; "next" goes between transfers."""
    if lines:
        lines.append("next")
    lines.append(f"url = {quote(url)}")
    lines.append("silent")
    lines.append("show-error")
    lines.append('request = "POST"')
    lines.append(f"output = {quote(output)}")
    lines.append(f"dump-header = {quote(header_file)}")
    for header in headers:
        lines.append(f"header = {quote(header)}")
    lines.append(f"{body_option} = {quote(body)}")


def reply_fields(path):
    """name=value lines as the client reads them: split at the first "=", later lines win."""
    fields = {}
    if not os.path.exists(path):
        return fields
    with open(path, "rb") as f:
        for line in f.read().decode("latin-1").split("\n"):
            name, eq, value = line.partition("=")
            if eq:
                fields[name] = value
    return fields


def last_status_and_headers(path):
    """The final response's status code and its headers (lower-case names) from curl's dump."""
    if not os.path.exists(path):
        return None, {}
    with open(path, "rb") as f:
        blocks = [b for b in f.read().decode("latin-1").split("\r\n\r\n") if b.strip()]
    if not blocks:
        return None, {}
    lines = blocks[-1].split("\r\n")
    match = re.match(r"HTTP/\d(?:\.\d)? (\d{3})", lines[0])
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return (int(match.group(1)) if match else None), headers


def command_ids(args):
    pictures = pictures_in(args.pictures)
    form = os.path.join(args.dir, "id.form")
    with open(form, "w") as f:
        f.write(form_encode(id_fields(args)))
    lines = []
    for i, _ in enumerate(pictures):
        transfer(lines, f"http://{args.server}/GetImageID", os.path.join(args.dir, f"id_{i}.out"),
                 os.path.join(args.dir, f"id_{i}.hdr"), [f"Content-Type: {FORM_TYPE}"], "data-binary", "@" + form)
    with open(os.path.join(args.dir, "id.curl"), "w") as f:
        f.write("\n".join(lines) + "\n")


def command_bodies(args):
    pictures = pictures_in(args.pictures)
    upload_lines = []
    for i, path in enumerate(pictures):
        status, headers = last_status_and_headers(os.path.join(args.dir, f"id_{i}.hdr"))
        reply = reply_fields(os.path.join(args.dir, f"id_{i}.out"))
        if status != 200 or reply.get("Status") != "OK" or not reply.get("ImageID") or not reply.get("Server"):
            fail(f"GetImageID for {path}: HTTP {status}, reply {reply}")
        fields = image_fields(args, reply["ImageID"])
        cookie = clean_cookie(headers.get("set-cookie", ""))
        cookie_header = [f"Cookie: {cookie}"] if cookie else []

        boundary = make_boundary()
        body = os.path.join(args.dir, f"upload_{i}.body")
        write_upload_body(body, boundary, fields, path)
        # No "Expect: 100-continue": the client sends the body straight after the headers.
        upload_headers = ["Mime-Version: 1.0", f"Content-Type: multipart/form-data; boundary={boundary}",
                          *cookie_header, "Expect:"]
        transfer(upload_lines, f"http://{reply['Server']}/UploadImage", os.path.join(args.dir, f"upload_{i}.out"),
                 os.path.join(args.dir, f"upload_{i}.hdr"), upload_headers, "upload-file", body)
    with open(os.path.join(args.dir, "upload.curl"), "w") as f:
        f.write("\n".join(upload_lines) + "\n")


def command_check(args):
    bad = []
    for i in range(args.count):
        status, _ = last_status_and_headers(os.path.join(args.dir, f"upload_{i}.hdr"))
        reply = reply_fields(os.path.join(args.dir, f"upload_{i}.out"))
        if status != 200 or reply.get("Status") != "OK":
            bad.append(f"upload {i}: HTTP {status}, reply {reply}")
    if bad:
        fail(f"{len(bad)} of {args.count} UploadImage replies were not OK:\n  " + "\n  ".join(bad[:10]))


def command_state(args):
    with urllib.request.urlopen(args.url, timeout=30) as r:
        state = json.load(r)
    pictures = pictures_in(args.pictures)
    records = {}
    for record in state["pictures"].values():
        if record.get("complete"):
            records[record["filename"]] = record
    bad = []
    for path in pictures:
        record = records.get(path)
        if record is None:
            bad.append(f"{path}: not held complete")
            continue
        stored = os.path.join(args.store, record["path"])
        with open(path, "rb") as a, open(stored, "rb") as b:
            if a.read() != b.read():
                bad.append(f"{path}: stored bytes differ")
    if bad:
        fail(f"the reference server's store is wrong for {len(bad)} of {len(pictures)} pictures:\n  " + "\n  ".join(bad[:10]))


def command_sinklog(args):
    pictures = pictures_in(args.pictures)
    sizes = sorted(os.path.getsize(p) for p in pictures)
    requests = {}
    bad = []
    with open(args.log) as f:
        for number, line in enumerate(f, 1):
            parts = line.split()
            if len(parts) != 4 or not parts[1].isdigit():
                bad.append(f"line {number}: {line.strip()!r}")
                continue
            uri, request_length, content_length, status = parts
            requests.setdefault(uri, []).append((int(request_length), int(content_length) if content_length.isdigit() else -1, status))
    for uri in ("/GetImageID", "/UploadImage"):
        if len(requests.get(uri, [])) != len(pictures):
            bad.append(f"{len(requests.get(uri, []))} {uri} requests for {len(pictures)} pictures")
    for uri, entries in requests.items():
        for request_length, content_length, status in entries:
            if status != "200":
                bad.append(f"{uri} answered {status}")
            # $request_length counts the request line, the headers and the body bytes read.
            if content_length < 0 or request_length <= content_length:
                bad.append(f"{uri}: {request_length} bytes read for a body of {content_length}")
    uploads = sorted(c for _, c, _ in requests.get("/UploadImage", []))
    if len(uploads) == len(sizes) and any(c < s for c, s in zip(uploads, sizes)):
        bad.append("an UploadImage body is shorter than its picture")
    if bad:
        fail(f"the sink's log shows {len(bad)} problems:\n  " + "\n  ".join(bad[:10]))


class _CaptureHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *_):
        pass

    def do_POST(self):
        servlet = self.path.lstrip("/")
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        server = self.server
        with open(os.path.join(server.capture_dir, servlet + ".body"), "wb") as f:
            f.write(body)
        with open(os.path.join(server.capture_dir, servlet + ".headers"), "w") as f:
            json.dump({k.lower(): v for k, v in self.headers.items()}, f)
        extra = []
        if servlet == "GetImageID":
            reply = f"Status=OK\nImageID=CAPTURE1\nServer=127.0.0.1:{server.server_address[1]}\nUploadServer=capture\n"
            extra = [("Set-Cookie", "upload=capturetoken; Path=/")]
        elif servlet == "GetImageOffset":
            reply = "Status=OK\nOffset=0\n"
        else:
            reply = "Status=OK\n"
        data = reply.encode()
        self.send_response(200)
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(data)
        self.close_connection = True
        if servlet == "UploadImage":
            threading.Thread(target=server.shutdown, daemon=True).start()


def command_capture(args):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), _CaptureHandler)
    server.capture_dir = args.dir
    timer = threading.Timer(args.timeout, server.shutdown)
    timer.daemon = True
    timer.start()
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(f"{server.server_address[1]}\n")
    os.replace(tmp, args.port_file)
    server.serve_forever()
    timer.cancel()
    if not os.path.exists(os.path.join(args.dir, "UploadImage.body")):
        fail("capture: no UploadImage arrived")


def command_compare(args):
    def captured(servlet):
        with open(os.path.join(args.dir, servlet + ".body"), "rb") as f:
            body = f.read()
        with open(os.path.join(args.dir, servlet + ".headers")) as f:
            return body, json.load(f)

    path = os.path.normpath(os.path.abspath(args.picture))
    fields = image_fields(args, "CAPTURE1")
    cookie = clean_cookie("upload=capturetoken; Path=/")
    problems = []
    body, headers = captured("GetImageID")
    if body != form_encode(id_fields(args)).encode():
        problems.append(f"GetImageID body {body!r} != {form_encode(id_fields(args))!r}")
    body, headers = captured("UploadImage")
    match = re.fullmatch(r"multipart/form-data; boundary=(-{10}[A-Z]{32})", headers.get("content-type", ""))
    if not match:
        problems.append(f"UploadImage Content-Type {headers.get('content-type')!r}")
    else:
        built = os.path.join(args.dir, "built.body")
        write_upload_body(built, match.group(1), fields, path)
        with open(built, "rb") as f:
            expected = f.read()
        if body != expected:
            at = next((i for i, (a, b) in enumerate(zip(body, expected)) if a != b), min(len(body), len(expected)))
            problems.append(f"UploadImage body differs at byte {at} of {len(body)} (built {len(expected)}): "
                            f"{body[max(0, at - 40):at + 40]!r} vs {expected[max(0, at - 40):at + 40]!r}")
    if headers.get("mime-version") != "1.0" or headers.get("cookie") != cookie:
        problems.append(f"UploadImage headers {headers}")
    if problems:
        fail("the bodies built for curl differ from the client's:\n  " + "\n  ".join(problems))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)

    def identity(p):
        p.add_argument("--auth", required=True)
        p.add_argument("--session", required=True)
        p.add_argument("--uid", required=True)

    p = sub.add_parser("ids")
    p.add_argument("--pictures", required=True)
    p.add_argument("--server", required=True)
    p.add_argument("--dir", required=True)
    identity(p)
    p = sub.add_parser("bodies")
    p.add_argument("--pictures", required=True)
    p.add_argument("--dir", required=True)
    identity(p)
    p = sub.add_parser("check")
    p.add_argument("--dir", required=True)
    p.add_argument("--count", type=int, required=True)
    p = sub.add_parser("state")
    p.add_argument("--url", required=True)
    p.add_argument("--pictures", required=True)
    p.add_argument("--store", required=True)
    p = sub.add_parser("sinklog")
    p.add_argument("--log", required=True)
    p.add_argument("--pictures", required=True)
    p = sub.add_parser("capture")
    p.add_argument("--port-file", required=True)
    p.add_argument("--dir", required=True)
    p.add_argument("--timeout", type=float, default=120.0)
    p = sub.add_parser("compare")
    p.add_argument("--dir", required=True)
    p.add_argument("--picture", required=True)
    identity(p)
    args = parser.parse_args()
    {"ids": command_ids, "bodies": command_bodies, "check": command_check, "state": command_state,
     "sinklog": command_sinklog, "capture": command_capture, "compare": command_compare}[args.command](args)


if __name__ == "__main__":
    main()
