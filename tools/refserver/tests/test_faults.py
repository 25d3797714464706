"""Every fault switch, set through the control endpoint while the server runs, and the counters
that GET /_state reports."""

import socket
import threading
import time

from . import support
from .support import BOUNDARY

PATH = "/pictures/p.jpg"


class FaultTestCase(support.ServerTestCase):
    def set_rules(self, *rules):
        status, answer = self.control({"rules": list(rules)})
        self.assertEqual(status, 200, answer)
        return answer

    def raw_upload(self, image_id, port, cookie, offset, data):
        body = self.client.upload_body(image_id, offset, PATH, data)
        request = support.request_bytes(port, "UploadImage", body, f"multipart/form-data; boundary={BOUNDARY}",
                                        cookie, multipart=True)
        return body, support.exchange(port, request)


class ErrorAnswers(FaultTestCase):
    def test_busy_answers_come_the_given_number_of_times(self):
        image_id, port, cookie = self.client.new_image()
        self.set_rules({"servlet": "GetImageOffset", "busy": True, "times": 2})
        for _ in range(2):
            self.assertReply(self.client.get_image_offset(image_id, port, cookie),
                             Status="Error", ErrCode="6", ErrMsg="server busy")
        self.assertReply(self.client.get_image_offset(image_id, port, cookie), Status="OK", Offset="0")
        rule = self.state()["rules"][0]
        self.assertEqual((rule["times_left"], rule["applied"]), (0, 2))

    def test_error_codes_replace_the_answer_of_the_chosen_servlet(self):
        data = support.picture(1000)
        image_id, port, cookie = self.client.new_image()
        cases = [
            # Fatal codes the client gives a picture up on.
            ("UploadImage", {"error": 1, "message": "account closed"}, "1", "account closed"),
            ("UploadImage", {"error": 2}, "2", "injected error 2"),
            ("GetImageOffset", {"error": 4, "message": "too big"}, "4", "too big"),
            # "Already complete" on the offset query.
            ("GetImageOffset", {"error": 14}, "14", "injected error 14"),
            # Any other code, negative ones included.
            ("UploadImage", {"error": 503}, "503", "injected error 503"),
            ("GetImageOffset", {"error": -1}, "-1", "injected error -1"),
        ]
        for servlet, rule, code, message in cases:
            with self.subTest(servlet=servlet, code=code):
                self.set_rules(dict(rule, servlet=servlet, times=1))
                if servlet == "UploadImage":
                    reply = self.client.upload_image(image_id, port, cookie, 0, PATH, data)
                else:
                    reply = self.client.get_image_offset(image_id, port, cookie)
                self.assertReply(reply, Status="Error", ErrCode=code, ErrMsg=message)
        # None of the refused uploads was processed; with the rules used up the upload goes through.
        self.assertEqual(self.server.store.get(image_id).received, 0)
        self.assertReply(self.client.upload_image(image_id, port, cookie, 0, PATH, data), Status="OK")

    def test_rule_on_one_servlet_leaves_the_others_alone(self):
        self.set_rules({"servlet": "UploadImage", "error": 1})
        image_id, port, cookie = self.client.new_image()
        self.assertReply(self.client.get_image_offset(image_id, port, cookie), Status="OK")
        for _ in range(3):  # without "times" it applies to every request
            self.assertReply(self.client.upload_image(image_id, port, cookie, 0, PATH, b"x"), ErrCode="1")

    def test_skip_lets_the_first_requests_through(self):
        self.set_rules({"servlet": "GetImageID", "skip": 1, "error": 4, "times": 1})
        self.assertReply(self.client.get_image_id(), Status="OK")
        self.assertReply(self.client.get_image_id(), ErrCode="4")
        self.assertReply(self.client.get_image_id(), Status="OK")

    def test_non_ok_status_with_error_code_zero(self):
        self.set_rules({"servlet": "UploadImage", "status": "Failed", "times": 1})
        image_id, port, cookie = self.client.new_image()
        reply = self.client.upload_image(image_id, port, cookie, 0, PATH, b"abc")
        self.assertReply(reply, Status="Failed", ErrCode="0", ErrMsg="injected status Failed")

    def test_processed_request_with_a_lost_answer(self):
        # The picture is stored but the client hears an error: its offset query then learns it is done.
        self.set_rules({"servlet": "UploadImage", "error": 9, "process": True, "times": 1})
        image_id, port, cookie = self.client.new_image()
        self.assertReply(self.client.upload_image(image_id, port, cookie, 0, PATH, b"abc"), ErrCode="9")
        self.assertReply(self.client.get_image_offset(image_id, port, cookie), ErrCode="14")

    def test_http_errors_carry_no_fields(self):
        cases = [
            # The upload servlet unavailable.
            ("UploadImage", 503, None, "Service Unavailable"),
            # The statistics servlet failing.
            ("UploadClientStats", 500, None, "Internal Server Error"),
            # A reason phrase of the test's choosing.
            ("GetImageID", 502, "Upstream Gone", "Upstream Gone"),
        ]
        for servlet, status, reason, shown in cases:
            with self.subTest(servlet=servlet):
                rule = {"servlet": servlet, "http": status, "times": 1}
                if reason:
                    rule["reason"] = reason
                self.set_rules(rule)
                reply = self.client.post(servlet, b"a=b", "application/x-www-form-urlencoded")
                self.assertEqual((reply.status, reply.reason, reply.body), (status, shown, b""))
                self.assertEqual(reply.headers["content-length"], "0")
        self.assertEqual(self.state()["outcomes"]["UploadClientStats"], {"http": 1})

    def test_missing_and_malformed_reply_fields(self):
        cases = [
            # The required ImageID is left out.
            ({"omit": ["ImageID"]}, b"Status=OK\nServer="),
            # Lines that end in CR LF, which make Status read "OK\r".
            ({"line_end": "\r\n"}, b"Status=OK\r\nImageID="),
            # No line end after the last field.
            ({"no_final_lf": True}, b"Status=OK\nImageID="),
        ]
        for shape, start in cases:
            with self.subTest(shape=shape):
                self.set_rules(dict(shape, servlet="GetImageID", times=1))
                reply = self.client.get_image_id()
                self.assertTrue(reply.body.startswith(start), reply.body)
                if "no_final_lf" in shape:
                    self.assertFalse(reply.body.endswith(b"\n"))
                    self.assertIn(b"\nUploadServer=", reply.body)


class Transport(FaultTestCase):
    def test_dropped_upload_keeps_what_arrived_and_resumes(self):
        data = support.picture(20_000)
        image_id, port, cookie = self.client.new_image()
        self.set_rules({"servlet": "UploadImage", "drop_after": 8000, "times": 1})
        body, raw = self.raw_upload(image_id, port, cookie, 0, data)
        self.assertEqual(raw, b"")  # no reply at all
        held = 8000 - body.index(b"image/jpeg\r\n\r\n") - len(b"image/jpeg\r\n\r\n")
        self.assertReply(self.client.get_image_offset(image_id, port, cookie), Offset=str(held))
        self.assertEqual(self.server.store.data(image_id), data[:held])
        self.assertReply(self.client.upload_image(image_id, port, cookie, held, PATH, data), Status="OK")
        self.assertEqual(self.server.store.data(image_id), data)
        self.assertEqual(self.state()["outcomes"]["UploadImage"], {"dropped": 1, "ok": 1})

    def test_drop_variants(self):
        data = support.picture(5000)
        cases = [
            # Without keep_partial the server forgets the bytes it read.
            ({"drop_after": 3000, "keep_partial": False}, "0"),
            # A drop before the file part began stores nothing.
            ({"drop_after": 100}, "0"),
        ]
        for rule, offset in cases:
            with self.subTest(rule=rule):
                image_id, port, cookie = self.client.new_image()
                self.set_rules(dict(rule, servlet="UploadImage", times=1))
                self.assertEqual(self.raw_upload(image_id, port, cookie, 0, data)[1], b"")
                self.assertReply(self.client.get_image_offset(image_id, port, cookie), Offset=offset)
        # A drop after the whole body is a lost reply: the picture is complete.
        image_id, port, cookie = self.client.new_image()
        self.set_rules({"servlet": "UploadImage", "drop_after": 10**9, "times": 1})
        self.assertEqual(self.raw_upload(image_id, port, cookie, 0, data)[1], b"")
        self.assertReply(self.client.get_image_offset(image_id, port, cookie), ErrCode="14")

    def test_client_that_disconnects_mid_body_leaves_its_intact_bytes(self):
        data = support.picture(6000)
        image_id, port, cookie = self.client.new_image()
        body = self.client.upload_body(image_id, 0, PATH, data)
        request = support.request_bytes(port, "UploadImage", body, f"multipart/form-data; boundary={BOUNDARY}",
                                        cookie, multipart=True)
        cut = len(request) - len(body) + body.index(b"image/jpeg\r\n\r\n") + len(b"image/jpeg\r\n\r\n") + 2500
        with socket.create_connection(("127.0.0.1", port)) as sock:
            sock.sendall(request[:cut])
        deadline = time.monotonic() + 5
        while self.server.store.get(image_id).received == 0 and time.monotonic() < deadline:
            time.sleep(0.02)
        self.assertEqual(self.server.store.data(image_id), data[:2500])

    def test_stalled_upload_keeps_the_cut_at_once_and_ends_when_the_client_closes(self):
        data = support.picture(50_000)
        image_id, port, cookie = self.client.new_image()
        self.set_rules({"servlet": "UploadImage", "stall_after": 9000, "times": 1})
        body = self.client.upload_body(image_id, 0, PATH, data)
        held = 9000 - body.index(b"image/jpeg\r\n\r\n") - len(b"image/jpeg\r\n\r\n")
        request = support.request_bytes(port, "UploadImage", body, f"multipart/form-data; boundary={BOUNDARY}",
                                        cookie, multipart=True)
        with socket.create_connection(("127.0.0.1", port)) as sock:
            sock.sendall(request)  # the whole body: the rest is swallowed, not refused
            deadline = time.monotonic() + 5
            while self.server.store.get(image_id).received == 0 and time.monotonic() < deadline:
                time.sleep(0.02)
            # Kept before the client gave up, while the request is still being served without a reply.
            self.assertEqual(self.server.store.data(image_id), data[:held])
            state = self.state()
            self.assertEqual(state["in_flight"]["current"], 1)
            self.assertIsNone(state["log"][-1]["outcome"])
            sock.settimeout(0.3)
            with self.assertRaises(socket.timeout):
                sock.recv(1)
        deadline = time.monotonic() + 5
        while self.state()["in_flight"]["current"] and time.monotonic() < deadline:
            time.sleep(0.02)
        state = self.state()
        self.assertEqual(state["in_flight"]["current"], 0)
        self.assertEqual(state["connections"]["current"], 0)
        self.assertEqual(state["outcomes"]["UploadImage"], {"stalled": 1})
        self.assertReply(self.client.get_image_offset(image_id, port, cookie), Offset=str(held))
        self.assertReply(self.client.upload_image(image_id, port, cookie, held, PATH, data), Status="OK")
        self.assertEqual(self.server.store.data(image_id), data)

    def test_stall_variants(self):
        data = support.picture(5000)
        cases = [
            # Without keep_partial nothing is stored.
            ({"stall_after": 3000, "keep_partial": False}, "0"),
            # A stall before the file part began stores nothing.
            ({"stall_after": 100}, "0"),
        ]
        for rule, offset in cases:
            with self.subTest(rule=rule):
                image_id, port, cookie = self.client.new_image()
                self.set_rules(dict(rule, servlet="UploadImage", times=1))
                body = self.client.upload_body(image_id, 0, PATH, data)
                request = support.request_bytes(port, "UploadImage", body,
                                                f"multipart/form-data; boundary={BOUNDARY}", cookie, multipart=True)
                with socket.create_connection(("127.0.0.1", port)) as sock:
                    sock.sendall(request)
                    deadline = time.monotonic() + 5
                    while not self.state()["log"][-1]["faults"] and time.monotonic() < deadline:
                        time.sleep(0.02)
                deadline = time.monotonic() + 5
                while self.state()["in_flight"]["current"] and time.monotonic() < deadline:
                    time.sleep(0.02)
                self.assertReply(self.client.get_image_offset(image_id, port, cookie), Offset=offset)
        # A stall after the whole body is a reply that never comes: the picture is complete.
        image_id, port, cookie = self.client.new_image()
        self.set_rules({"servlet": "UploadImage", "stall_after": 10**9, "times": 1})
        request = support.request_bytes(port, "UploadImage", self.client.upload_body(image_id, 0, PATH, data),
                                        f"multipart/form-data; boundary={BOUNDARY}", cookie, multipart=True)
        with socket.create_connection(("127.0.0.1", port)) as sock:
            sock.sendall(request)
            deadline = time.monotonic() + 5
            while not self.server.store.get(image_id).complete and time.monotonic() < deadline:
                time.sleep(0.02)
        self.assertEqual(self.server.store.data(image_id), data)

    def test_slow_link_caps_the_reading_rate(self):
        data = support.picture(30_000)
        image_id, port, cookie = self.client.new_image()
        self.set_rules({"servlet": "UploadImage", "slow": 60_000, "times": 1})
        started = time.monotonic()
        reply = self.client.upload_image(image_id, port, cookie, 0, PATH, data)
        elapsed = time.monotonic() - started
        self.assertReply(reply, Status="OK")
        self.assertGreaterEqual(elapsed, 31_000 / 60_000 * 0.9)  # the body is a little above 31 KB

    def test_delay_and_hang(self):
        self.set_rules({"servlet": "GetImageID", "delay": 0.3, "times": 1})
        started = time.monotonic()
        self.assertReply(self.client.get_image_id(), Status="OK")
        self.assertGreaterEqual(time.monotonic() - started, 0.3)
        self.set_rules({"servlet": "GetImageID", "hang": 0.3, "times": 1})
        started = time.monotonic()
        raw = support.exchange(self.port, support.request_bytes(
            self.port, "GetImageID", support.form_encode([("a", "b")]), "application/x-www-form-urlencoded"))
        self.assertEqual(raw, b"")
        self.assertGreaterEqual(time.monotonic() - started, 0.3)

    def test_interim_replies_precede_the_final_one(self):
        self.set_rules({"servlet": "GetImageID", "interim": 2, "times": 1})
        reply = self.client.get_image_id()
        self.assertEqual(reply.interim, [100, 100])
        self.assertReply(reply, Status="OK")
        self.assertEqual(self.client.get_image_id().interim, [])

    def test_reply_framings(self):
        cases = [
            # Chunks of 5 bytes with extensions and a trailer.
            ({"framing": "chunked", "chunk_size": 5, "chunk_ext": True, "trailer": True}, "chunked"),
            # Plain chunks of the default size.
            ({"framing": "chunked"}, "chunked"),
            # No length: the body ends when the server closes.
            ({"framing": "close"}, "close"),
            # The default.
            ({}, "length"),
        ]
        for shape, framing in cases:
            with self.subTest(shape=shape):
                if shape:
                    self.set_rules(dict(shape, servlet="GetImageID", times=1))
                reply = self.client.get_image_id()
                self.assertReply(reply, Status="OK")
                self.assertEqual(reply.framing, framing)
                self.assertIn("ImageID", reply.fields)
                if framing == "close":
                    self.assertEqual(reply.headers["connection"], "close")
                    self.assertNotIn("content-length", reply.headers)
                if shape.get("chunk_size"):
                    self.assertEqual(reply.chunks[0], b"5;piece=1")
                    self.assertEqual(reply.trailer, b"X-Refserver-Trailer: end")
                    self.assertGreater(len(reply.chunks), 10)

    def test_close_framing_closes_even_a_kept_alive_connection(self):
        self.set_rules({"servlet": "GetImageID", "framing": "close"})
        body = support.form_encode([("AuthenticationID", "a"), ("ProtocolVersion", "2.0"), ("SessionID", "s"), ("UID", "u")])
        request = support.request_bytes(self.port, "GetImageID", body, "application/x-www-form-urlencoded")
        request = request.replace(b"Connection: close", b"Connection: Keep-Alive")
        raw = support.exchange(self.port, request + request)
        self.assertEqual(raw.count(b"HTTP/1.1 200"), 1)


class Counters(FaultTestCase):
    def test_concurrent_connections_are_counted_with_their_peak(self):
        self.set_rules({"servlet": "GetImageID", "delay": 2.0})  # long enough for all three to overlap
        replies = []
        threads = [threading.Thread(target=lambda: replies.append(self.client.get_image_id())) for _ in range(3)]
        for thread in threads:
            thread.start()
        deadline = time.monotonic() + 5
        while self.state()["in_flight"]["current"] < 3 and time.monotonic() < deadline:
            time.sleep(0.02)
        during = self.state()
        for thread in threads:
            thread.join()
        after = self.state()
        self.assertEqual(during["connections"]["current"], 3)
        self.assertEqual(during["in_flight"]["current"], 3)
        self.assertEqual(after["connections"], {"current": 0, "peak": 3, "total": 3})
        self.assertEqual(after["in_flight"], {"current": 0, "peak": 3})
        self.assertEqual([r.fields["Status"] for r in replies], ["OK"] * 3)
        self.assertGreaterEqual(after["control_requests"], 2)  # the polling did not count as connections

    def test_requests_are_counted_per_servlet_and_listener(self):
        image_id, port, cookie = self.client.new_image()
        self.client.get_image_offset(image_id, port, cookie)
        self.client.get_image_offset(image_id, port, cookie)
        state = self.state()
        self.assertEqual(state["requests"], {"GetImageID": 1, "GetImageOffset": 2})
        self.assertEqual(state["requests_by_listener"], {"main": {"GetImageID": 1}, "second": {"GetImageOffset": 2}})
        self.assertEqual([e["servlet"] for e in state["log"]], ["GetImageID", "GetImageOffset", "GetImageOffset"])
        self.assertEqual(state["log"][1]["fields"]["ImageID"], image_id)
        self.assertEqual(state["log"][1]["cookie"], cookie)
        self.control({"reset": True})
        self.assertEqual(self.state()["requests"], {})


class Control(FaultTestCase):
    def test_bad_commands_are_refused_whole(self):
        self.set_rules({"servlet": "GetImageID", "busy": True})
        cases = [
            # An unknown rule key.
            ({"rules": [{"servlet": "GetImageID", "bussy": True}]}, "rule 1: unknown key(s) 'bussy'"),
            # Two answers in one rule.
            ({"add": [{"error": 1, "http": 500}]}, "rule 1: at most one answer per rule, found error, http"),
            # A servlet that does not exist.
            ({"rules": [{"servlet": "Upload", "error": 1}]}, "rule 1: 'servlet' must be one of"),
            # A qualifier without what it qualifies.
            ({"rules": [{"keep_partial": False}]}, "rule 1: names no answer"),
            ({"rules": [{"error": 1}, {"slow": 10, "keep_partial": True}]}, "rule 2: 'keep_partial' needs one of drop_after"),
            # ErrCode 0 is the "status" answer.
            ({"rules": [{"error": 0}]}, "rule 1: 'error' must not be 0"),
            # A bad framing.
            ({"rules": [{"framing": "gzip"}]}, "rule 1: 'framing' must be one of length, chunked, close"),
            # Settings are checked too, and a valid rule list beside them is not applied.
            ({"rules": [], "settings": {"cookies": False}}, "unknown setting 'cookies'"),
            # Unknown top-level keys.
            ({"rulez": []}, "unknown control key(s) 'rulez'"),
        ]
        for command, message in cases:
            with self.subTest(message=message):
                status, answer = self.control(command)
                self.assertEqual(status, 400)
                self.assertTrue(answer["error"].startswith(message), answer["error"])
        self.assertEqual(len(self.state()["rules"]), 1)
        self.assertReply(self.client.get_image_id(), ErrCode="6")

    def test_rules_can_be_added_and_cleared_while_running(self):
        self.set_rules({"servlet": "GetImageID", "error": 4, "times": 1})
        status, answer = self.control({"add": [{"servlet": "GetImageID", "error": 1, "times": 1}]})
        self.assertEqual([r["rule"]["error"] for r in answer["rules"]], [4, 1])
        self.assertReply(self.client.get_image_id(), ErrCode="4")
        self.assertReply(self.client.get_image_id(), ErrCode="1")
        self.control({"add": [{"servlet": "GetImageID", "busy": True}]})
        self.control({"clear": True})
        self.assertReply(self.client.get_image_id(), Status="OK")

    def test_first_matching_rule_answers_and_shapes_combine(self):
        self.set_rules({"servlet": "GetImageID", "framing": "chunked", "times": 1},
                       {"servlet": "*", "error": 2, "message": "first", "times": 1},
                       {"servlet": "GetImageID", "error": 3, "message": "second", "framing": "close", "times": 1})
        reply = self.client.get_image_id()
        self.assertEqual((reply.framing, reply.fields["ErrMsg"]), ("chunked", "first"))
        reply = self.client.get_image_id()  # the third rule's answer and framing now
        self.assertEqual((reply.framing, reply.fields["ErrMsg"]), ("close", "second"))
