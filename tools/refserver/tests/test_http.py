"""HTTP/1.1 handling of requests (keep-alive, refusals of malformed requests) and the command line:
port file, the listening line, fault options and a clean stop on SIGTERM."""

import http.client
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from . import support

SERVER = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "refserver.py")
GET_ID = support.form_encode([("AuthenticationID", "a"), ("ProtocolVersion", "2.0"), ("SessionID", "s"), ("UID", "u")])
FORM = "application/x-www-form-urlencoded"


class RequestHandling(support.ServerTestCase):
    def test_kept_alive_connection_serves_several_requests(self):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=5)
        self.addCleanup(conn.close)
        for _ in range(3):
            conn.request("POST", "/GetImageID", GET_ID, {"Content-Type": FORM})
            response = conn.getresponse()
            self.assertEqual(response.status, 200)
            self.assertTrue(response.read().startswith(b"Status=OK\n"))
            self.assertIsNone(response.getheader("Connection"))
        self.assertEqual(self.state()["connections"]["total"], 1)

    def test_body_bytes_are_counted_as_they_arrive(self):
        client = support.Client(self.port)
        image_id, server_port, cookie = client.new_image()
        data = support.picture(200000)
        body = client.upload_body(image_id, 0, "C:\\p.jpg", data)
        raw = support.request_bytes(server_port, "UploadImage", body,
                                    f"multipart/form-data; boundary={support.BOUNDARY}", cookie, True)
        before = self.state()["bytes_in"]
        with socket.create_connection(("127.0.0.1", server_port), timeout=10) as sock:
            sock.sendall(raw[:120000])
            deadline = time.monotonic() + 10
            while self.state()["bytes_in"] - before < 120000 and time.monotonic() < deadline:
                time.sleep(0.05)
            state = self.state()
            # Half a body is counted while the picture holds nothing of it yet.
            self.assertEqual(state["bytes_in"] - before, 120000)
            self.assertEqual(state["pictures"][image_id]["received"], 0)
            sock.sendall(raw[120000:])
            reply = support.read_response(support.exchange_rest(sock))
        self.assertEqual(reply.fields.get("Status"), "OK", reply.body)
        state = self.state()
        self.assertEqual(state["bytes_in"] - before, len(raw))
        self.assertEqual(state["pictures"][image_id]["received"], len(data))

    def test_connection_close_and_http10_end_the_connection(self):
        cases = [
            # HTTP/1.1 with Connection: close, as the client sends it.
            (b"HTTP/1.1", b"Connection: close\r\n"),
            # HTTP/1.0 closes unless asked to keep alive.
            (b"HTTP/1.0", b""),
        ]
        for version, connection in cases:
            with self.subTest(version=version):
                one = (b"POST /GetImageID " + version + b"\r\nHost: h\r\n" + connection +
                       b"Content-Type: " + FORM.encode() + b"\r\ncontent-length: " + str(len(GET_ID)).encode() +
                       b"\r\n\r\n" + GET_ID)
                raw = support.exchange(self.port, one + one)
                self.assertEqual(raw.count(b"Status=OK"), 1)
                self.assertIn(b"Connection: close\r\n", raw)

    def test_absolute_form_target_is_served(self):
        request = support.request_bytes(self.port, "GetImageID", GET_ID, FORM)
        request = request.replace(b"POST /GetImageID", f"POST http://127.0.0.1:{self.port}/GetImageID".encode(), 1)
        self.assertReply(support.read_response(support.exchange(self.port, request)), Status="OK")

    def test_malformed_requests_are_refused_with_a_reason(self):
        good = support.request_bytes(self.port, "GetImageID", GET_ID, FORM)
        cases = [
            # A path that is no servlet.
            (good.replace(b"/GetImageID", b"/GetImageId", 1), 404, "no servlet at /GetImageId"),
            # Servlets take POST only.
            (b"GET /UploadImage HTTP/1.1\r\nHost: h\r\n\r\n", 405, "UploadImage accepts POST only, not GET"),
            # The client always sends a length.
            (good.replace(b"content-length", b"x-length"), 411, "POST without Content-Length"),
            (good.replace(b"content-length: ", b"content-length: -"), 400, "Content-Length '-"),
            # HTTP/1.1 needs a Host header.
            (good.replace(f"Host: 127.0.0.1:{self.port}\r\n".encode(), b""), 400, "HTTP/1.1 request without a Host header"),
            # The request line has exactly three parts.
            (b"POST  /GetImageID HTTP/1.1\r\nHost: h\r\n\r\n", 400, "malformed request line 'POST  /GetImageID HTTP/1.1'"),
            # Header lines are "Name: value".
            (good.replace(b"User-Agent:", b"User Agent:"), 400, "malformed header line 'User Agent: refserver-test'"),
            # Only identity and chunked bodies.
            (good.replace(b"content-length", b"Transfer-Encoding: gzip\r\nx-length"), 501,
             "Transfer-Encoding 'gzip' is not supported"),
            # A header block without end.
            (b"POST /GetImageID HTTP/1.1\r\n" + b"X: " + b"y" * 70_000, 431, "request header block longer than 65536 bytes"),
        ]
        for request, status, message in cases:
            with self.subTest(status=status, message=message):
                reply = support.read_response(support.exchange(self.port, request))
                self.assertEqual(reply.status, status)
                self.assertEqual(reply.headers["connection"], "close")
                self.assertTrue(reply.fields["ErrMsg"].startswith(message), reply.fields["ErrMsg"])

    def test_chunked_request_body_is_accepted(self):
        chunked = b"%x\r\n%s\r\n0\r\n\r\n" % (len(GET_ID), GET_ID)
        request = support.request_bytes(self.port, "GetImageID", chunked, FORM)
        request = request.replace(b"content-length: %d" % len(chunked), b"Transfer-Encoding: chunked")
        self.assertReply(support.read_response(support.exchange(self.port, request)), Status="OK")

    def test_body_above_the_limit_is_refused_before_reading(self):
        self.server.max_body = 1000
        request = support.request_bytes(self.port, "GetImageID", b"", FORM).replace(
            b"content-length: 0", b"content-length: 1001")
        reply = support.read_response(support.exchange(self.port, request))
        self.assertEqual((reply.status, reply.fields["ErrMsg"]),
                         (413, "Content-Length 1001 is above the limit of 1000 bytes"))


class CommandLine(unittest.TestCase):
    def start(self, *args):
        directory = tempfile.mkdtemp(prefix="refserver-cli-")
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", directory]))
        port_file = os.path.join(directory, "port")
        process = subprocess.Popen(
            [sys.executable, SERVER, "--port", "0", "--port-file", port_file, "--store", os.path.join(directory, "store"),
             "--stats", os.path.join(directory, "stats.jsonl"), "--quiet", *args],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process, port_file, directory

    def test_port_file_listening_line_faults_and_sigterm(self):
        rule = json.dumps({"servlet": "GetImageID", "busy": True, "times": 1})
        process, port_file, directory = self.start("--second-server", "--fault", rule)
        first = process.stdout.readline()
        second = process.stdout.readline()
        with open(port_file) as f:
            ports = [int(line) for line in f]
        self.assertEqual(first, f"listening on 127.0.0.1:{ports[0]}\n")
        self.assertEqual(second, f"second server listening on 127.0.0.1:{ports[1]}\n")
        client = support.Client(ports[0])
        self.assertEqual(client.get_image_id().fields["ErrCode"], "6")
        reply = client.get_image_id()
        self.assertEqual(reply.fields["Server"], f"127.0.0.1:{ports[1]}")
        process.send_signal(signal.SIGTERM)
        out, err = process.communicate(timeout=10)
        self.assertEqual(process.returncode, 0, err)
        self.assertTrue(out.endswith("stopped\n"))
        with open(os.path.join(directory, "store", "index.json")) as f:
            self.assertIn(reply.fields["ImageID"], json.load(f)["images"])

    def test_sigint_stops_a_server_with_an_open_connection(self):
        process, port_file, _ = self.start()
        process.stdout.readline()
        with open(port_file) as f:
            port = int(f.readline())
        with socket.create_connection(("127.0.0.1", port)) as idle:
            idle.sendall(b"POST /GetImageID HTTP/1.1\r\n")  # a request that never ends
            process.send_signal(signal.SIGINT)
            process.communicate(timeout=10)
        self.assertEqual(process.returncode, 0)

    def test_named_second_server_and_bad_options(self):
        process, port_file, _ = self.start("--second-server", "upload.example:8080", "--upload-server-name", "up7")
        process.stdout.readline()
        with open(port_file) as f:
            port = int(f.readline())
        reply = support.Client(port).get_image_id()
        self.assertEqual((reply.fields["Server"], reply.fields["UploadServer"]), ("upload.example:8080", "up7"))
        process.terminate()
        process.communicate(timeout=10)

        bad, _, _ = self.start("--fault", '{"servlet": "GetImageID", "busy": 1}')
        _, err = bad.communicate(timeout=10)
        self.assertEqual((bad.returncode, err), (2, "refserver: rule 1: 'busy' must be true\n"))
