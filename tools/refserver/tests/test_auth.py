"""Basic authentication of servlet requests: the challenge, which credentials pass, that a refusal
reads the body and keeps the connection usable, that it uses up no fault rule, and the switch by
control request and on the command line."""

import base64
import socket
import unittest

from . import support, test_http
from .test_http import FORM, GET_ID


def basic(credentials):
    return "Authorization: Basic " + base64.b64encode(credentials).decode("ascii")


class BasicAuthentication(support.ServerTestCase):
    settings = {"basic_auth": "alice:s3cret:x", "basic_realm": "photo upload"}

    def post(self, extra=(), servlet="GetImageID", body=GET_ID, port=None):
        port = port or self.port
        raw = support.exchange(port, support.request_bytes(port, servlet, body, FORM, extra=extra))
        return support.read_response(raw)

    def test_only_the_exact_credentials_pass(self):
        cases = [
            # no header at all
            ((), "no Authorization header"),
            # the password is everything after the first colon, its own colons included
            ((basic(b"alice:s3cret"),), "wrong user name or password (user 'alice')"),
            ((basic(b"bob:s3cret:x"),), "wrong user name or password (user 'bob')"),
            # another scheme, and a token that is no Base64
            (("Authorization: Digest username=alice",), "Authorization scheme 'Digest' is not Basic"),
            (("Authorization: Basic not*base64",), "Authorization credentials are not Base64"),
            # the credentials in the proxy's header are not the server's
            (("Proxy-" + basic(b"alice:s3cret:x"),), "no Authorization header"),
        ]
        for extra, note in cases:
            with self.subTest(note=note, extra=extra):
                reply = self.post(extra)
                self.assertEqual((reply.status, reply.reason), (401, "Unauthorized"))
                self.assertEqual(reply.headers["www-authenticate"], 'Basic realm="photo upload"')
                # no reply fields: the client falls back on the status and reason
                self.assertEqual((reply.body, reply.fields), (b"", {}))
                self.assertEqual(self.state()["log"][-1]["note"], note)
        # the scheme name is not case-sensitive
        for header in (basic(b"alice:s3cret:x"), basic(b"alice:s3cret:x").replace("Basic", "basic")):
            self.assertReply(self.post((header,)), Status="OK")
        state = self.state()
        self.assertEqual(state["outcomes"]["GetImageID"], {"unauthorized": len(cases), "ok": 2})
        # only the two that passed were given an image
        self.assertEqual(len(state["pictures"]), 2)

    def test_a_refusal_reads_the_body_and_keeps_the_connection(self):
        # A refused request, then the same request with credentials, on one connection: the second is
        # served only if the first one's body was read up to its end.
        first = support.request_bytes(self.port, "GetImageID", GET_ID, FORM).replace(b"Connection: close", b"X-A: b")
        second = support.request_bytes(self.port, "GetImageID", GET_ID, FORM, extra=(basic(b"alice:s3cret:x"),))
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as sock:
            sock.sendall(first + second)
            raw = bytearray()
            while piece := sock.recv(65536):
                raw += piece
        head_end = raw.index(b"\r\n\r\n") + 4
        refused = support.read_response(bytes(raw[:head_end]))
        self.assertEqual(refused.status, 401)
        self.assertNotIn("connection", refused.headers)
        self.assertReply(support.read_response(bytes(raw[head_end:])), Status="OK")
        self.assertEqual(self.state()["connections"]["total"], 1)

    def test_a_refused_request_uses_up_no_fault_rule(self):
        self.control({"rules": [{"servlet": "GetImageID", "busy": True, "times": 1}]})
        self.assertEqual(self.post().status, 401)
        self.assertEqual(self.post((basic(b"alice:s3cret:x"),)).fields["ErrCode"], "6")
        self.assertReply(self.post((basic(b"alice:s3cret:x"),)), Status="OK")

    def test_every_servlet_on_both_listeners_demands_them_and_the_control_endpoint_does_not(self):
        second = self.server.second_port
        for servlet in ("GetImageID", "GetImageOffset", "UploadImage", "UploadClientStats"):
            for port in (self.port, second):
                with self.subTest(servlet=servlet, port=port):
                    self.assertEqual(self.post(servlet=servlet, body=b"", port=port).status, 401)
        self.assertEqual(self.state()["settings"]["basic_realm"], "photo upload")

    def test_control_switches_it_and_refuses_unusable_values(self):
        status, answer = self.control({"settings": {"basic_auth": None}})
        self.assertEqual(status, 200, answer)
        self.assertReply(self.post(), Status="OK")
        status, answer = self.control({"settings": {"basic_auth": "u:p", "basic_realm": "other"}})
        self.assertEqual(status, 200, answer)
        reply = self.post()
        self.assertEqual((reply.status, reply.headers["www-authenticate"]), (401, 'Basic realm="other"'))
        cases = [
            ({"basic_auth": "no colon"}, "setting 'basic_auth': expected USER:PASSWORD, not 'no colon'"),
            ({"basic_realm": 'a "b"'}, "setting 'basic_realm': a realm without double quotes"),
            ({"basic_realm": None}, "setting 'basic_realm' has the wrong type: None"),
        ]
        for settings, error in cases:
            with self.subTest(settings=settings):
                status, answer = self.control({"settings": settings})
                self.assertEqual(status, 400)
                self.assertTrue(answer["error"].startswith(error), answer["error"])
        # nothing of a refused command was applied
        self.assertEqual(self.state()["settings"]["basic_realm"], "other")


class CommandLine(unittest.TestCase):
    start = test_http.CommandLine.start

    def test_options_set_the_credentials_and_realm_and_bad_values_exit_2(self):
        process, port_file, _ = self.start("--basic-auth", "u:p:q", "--basic-realm", "r 1")
        process.stdout.readline()
        with open(port_file) as f:
            port = int(f.readline())
        client = support.Client(port)
        refused = client.get_image_id()
        self.assertEqual((refused.status, refused.headers["www-authenticate"]), (401, 'Basic realm="r 1"'))
        raw = support.exchange(port, support.request_bytes(port, "GetImageID", GET_ID, FORM, extra=(basic(b"u:p:q"),)))
        self.assertEqual(support.read_response(raw).fields["Status"], "OK")
        process.terminate()
        process.communicate(timeout=10)

        cases = [
            (["--basic-auth", "nocolon"], "--basic-auth: expected USER:PASSWORD, not 'nocolon'"),
            (["--basic-auth", "u:p", "--basic-realm", "a\\b"], "--basic-realm: a realm without double quotes"),
        ]
        for args, error in cases:
            with self.subTest(args=args):
                bad, _, _ = self.start(*args)
                _, err = bad.communicate(timeout=10)
                self.assertEqual(bad.returncode, 2)
                self.assertIn(error, err)
