"""The servlets answered without faults: the full round trip, resumption, the checks on every field
and on the cookie, and the statistics log."""

import json
import os

import refserver

from . import support
from .support import BOUNDARY, form_encode

PATH = "/home/ann/Pictures/summer 2004/IMG_0001.JPG"
FORM = "application/x-www-form-urlencoded"


class RoundTrip(support.ServerTestCase):
    def test_identifier_offset_and_upload_store_the_picture(self):
        data = support.picture(50_000)
        reply = self.client.get_image_id()
        self.assertReply(reply, Status="OK", Server=self.server.address("second"))
        self.assertRegex(reply.fields["ImageID"], r"^IMG[0-9A-F]{12}$")
        self.assertTrue(reply.fields["UploadServer"])
        self.assertRegex(reply.headers["set-cookie"], r"^upload=[0-9a-f]{24}; Path=/$")
        image_id, port, cookie = reply.fields["ImageID"], self.server.second_port, reply.headers["set-cookie"].split(";")[0]

        self.assertReply(self.client.get_image_offset(image_id, port, cookie), Status="OK", Offset="0")
        self.assertReply(self.client.upload_image(image_id, port, cookie, 0, PATH, data), Status="OK")

        record = self.state()["pictures"][image_id]
        self.assertEqual((record["filename"], record["filesize"], record["received"], record["complete"]),
                         (PATH, len(data), len(data), True))
        with open(os.path.join(self.server.store.root, record["path"]), "rb") as f:
            self.assertEqual(f.read(), data)
        with open(os.path.join(self.server.store.root, "index.json")) as f:
            self.assertEqual(json.load(f)["images"][image_id]["received"], len(data))
        # A complete picture answers the offset query with code 14, which the client takes as done.
        self.assertReply(self.client.get_image_offset(image_id, port, cookie), Status="Error", ErrCode="14")

    def test_upload_in_two_requests_resumes_at_the_offset(self):
        data = support.picture(10_000)
        image_id, port, cookie = self.client.new_image()
        # The first request carries only part of the file: the body is complete, the picture is not.
        body = support.multipart_body(self.client.image_fields(image_id), 0, PATH, len(data), data[:4000])
        reply = self.client.post("UploadImage", body, f"multipart/form-data; boundary={BOUNDARY}", cookie, True, port)
        self.assertReply(reply, Status="Error", ErrCode="7")
        self.assertEqual(reply.fields["ErrMsg"], f"the upload ended at 4000 of 10000 bytes of ImageID {image_id}")
        self.assertReply(self.client.get_image_offset(image_id, port, cookie), Offset="4000")
        self.assertReply(self.client.upload_image(image_id, port, cookie, 4000, PATH, data), Status="OK")
        self.assertEqual(self.server.store.data(image_id), data)

    def test_empty_picture_completes_with_its_first_upload(self):
        image_id, port, cookie = self.client.new_image()
        self.assertReply(self.client.upload_image(image_id, port, cookie, 0, PATH, b""), Status="OK")
        self.assertTrue(self.state()["pictures"][image_id]["complete"])

    def test_restarted_server_still_knows_what_it_holds(self):
        data = support.picture(3000)
        image_id, port, cookie = self.client.new_image()
        body = support.multipart_body(self.client.image_fields(image_id), 0, PATH, len(data), data[:1000])
        self.client.post("UploadImage", body, f"multipart/form-data; boundary={BOUNDARY}", cookie, True, port)
        self.server.stop()
        again = refserver.RefServer(self.server.store.root, self.stats_path).start()
        self.addCleanup(again.stop)
        record = again.store.get(image_id)
        self.assertEqual((record.received, record.complete, record.filename), (1000, False, PATH))


class FieldChecks(support.ServerTestCase):
    GET_ID = [("AuthenticationID", "a"), ("ProtocolVersion", "2.0"), ("SessionID", "s"), ("UID", "u")]

    def test_get_image_id_refuses_bad_field_sets_precisely(self):
        cases = [
            # A field the client must always send.
            (self.GET_ID[:3], 2, 'missing field(s) "UID"'),
            # A field that does not belong to this servlet.
            (self.GET_ID + [("ZZ", "1")], 2, 'unexpected field(s) "ZZ"'),
            # The wire order is ascending byte order of the names, whatever order they were set in.
            ([self.GET_ID[1], self.GET_ID[0]] + self.GET_ID[2:], 2,
             'field "AuthenticationID" comes after "ProtocolVersion"; fields must be in ascending byte order of their names'),
            # A repeated field.
            (self.GET_ID + [("UID", "v")], 2, 'field "UID" appears more than once'),
            # Only protocol 2.0 is spoken.
            ([self.GET_ID[0], ("ProtocolVersion", "1.0")] + self.GET_ID[2:], 2, 'ProtocolVersion is "1.0", expected "2.0"'),
        ]
        for pairs, code, message in cases:
            with self.subTest(message=message):
                reply = self.client.get_image_id(pairs)
                self.assertReply(reply, Status="Error", ErrCode=str(code), ErrMsg=message)
                self.assertNotIn("set-cookie", reply.headers)

    def test_form_encoding_is_checked_byte_for_byte(self):
        cases = [
            # A space must travel as %20; a plus sign is not a space here.
            (b"AuthenticationID=a+b&ProtocolVersion=2%2E0&SessionID=s&UID=u",
             'form field 1 (AuthenticationID) value: byte "+" at offset 1 is not percent-encoded'),
            # Punctuation is encoded too, the dot of "2.0" included.
            (b"AuthenticationID=a&ProtocolVersion=2.0&SessionID=s&UID=u",
             'form field 2 (ProtocolVersion) value: byte "." at offset 1 is not percent-encoded'),
            # Escapes use upper-case hexadecimal digits.
            (b"AuthenticationID=a%2e&ProtocolVersion=2%2E0&SessionID=s&UID=u",
             'form field 1 (AuthenticationID) value: escape "%2e" at offset 1 uses lower-case hexadecimal digits'),
            # A cut-off escape.
            (b"AuthenticationID=a%2", "form field 1 (AuthenticationID) value: '%' at offset 1 is not followed by two hexadecimal digits (\"%2\")"),
            # A pair without '='.
            (b"AuthenticationID", 'form field 1 ("AuthenticationID") has no \'=\''),
        ]
        for body, message in cases:
            with self.subTest(body=body):
                self.assertReply(self.client.post("GetImageID", body, FORM), Status="Error", ErrCode="2", ErrMsg=message)

    def test_lenient_forms_setting_accepts_plus_as_space(self):
        self.control({"settings": {"strict_forms": False}})
        reply = self.client.post("GetImageID", b"AuthenticationID=a+b&ProtocolVersion=2.0&SessionID=s&UID=u", FORM)
        self.assertReply(reply, Status="OK")
        self.assertEqual(self.server.store.get(reply.fields["ImageID"]).authentication_id, "a b")

    def test_content_type_must_match_the_servlet(self):
        body = form_encode(self.GET_ID)
        self.assertReply(self.client.post("GetImageID", body, "text/plain"), ErrCode="2",
                         ErrMsg='Content-Type is "text/plain", expected application/x-www-form-urlencoded')

    def test_offset_query_checks_image_identity_listener_and_cookie(self):
        image_id, port, cookie = self.client.new_image()
        token = cookie.split("=", 1)[1]
        main = self.port
        cases = [
            # An identifier this server never issued: the client starts over with a new one.
            (dict(image_id="IMGNOPE"), port, cookie, "3", 'unknown ImageID "IMGNOPE"'),
            # The identity must be the one the identifier was issued to.
            (dict(image_id=image_id, SessionID="other"), port, cookie, "1",
             f'SessionID "other" is not the "sess&1" that ImageID {image_id} was issued to'),
            # The data server named by GetImageID, not the identifier server.
            (dict(image_id=image_id), main, cookie, "9",
             f"ImageID {image_id} belongs to server {self.server.address('second')}, not {self.server.address()}"),
            # The cookie of GetImageID must come back.
            (dict(image_id=image_id), port, None, "2", f"no Cookie header; expected upload={token}"),
            # ... without the Path attribute, which the client strips.
            (dict(image_id=image_id), port, cookie + "; Path=/", "2",
             f'Cookie "{cookie}; Path=/" carries the attribute "Path", which belongs only in Set-Cookie'),
            # ... and with the token of this identifier.
            (dict(image_id=image_id), port, "upload=0000", "2",
             f'Cookie "upload=0000" does not carry upload={token} issued with ImageID {image_id}'),
        ]
        for changes, to_port, sent_cookie, code, message in cases:
            with self.subTest(message=message):
                changes = dict(changes)
                reply = self.client.get_image_offset(changes.pop("image_id"), to_port, sent_cookie, **changes)
                self.assertReply(reply, Status="Error", ErrCode=code, ErrMsg=message)

    def test_auth_id_setting_refuses_other_identities(self):
        self.control({"settings": {"auth_id": "secret"}})
        reply = self.client.get_image_id()
        self.assertReply(reply, Status="Error", ErrCode="1", ErrMsg='AuthenticationID "auth 1" is not accepted')

    def test_cookie_check_can_be_switched_off(self):
        self.control({"settings": {"cookie_check": False}})
        image_id, port, _ = self.client.new_image()
        self.assertReply(self.client.get_image_offset(image_id, port, None), Status="OK", Offset="0")


class UploadChecks(support.ServerTestCase):
    def setUp(self):
        super().setUp()
        self.data = support.picture(2000)
        self.image_id, self.data_port, self.cookie = self.client.new_image()

    def upload(self, body, content_type=f"multipart/form-data; boundary={BOUNDARY}", multipart=True):
        return self.client.post("UploadImage", body, content_type, self.cookie, multipart, self.data_port)

    def test_store_refuses_wrong_offsets_sizes_and_overruns(self):
        fields = self.client.image_fields(self.image_id)
        first = support.multipart_body(fields, 0, PATH, 2000, self.data[:500])
        self.assertReply(self.upload(first), ErrCode="7")
        cases = [
            # The Offset part must be what the server holds (500), not less...
            (support.multipart_body(fields, 0, PATH, 2000, self.data), "5",
             f"Offset 0 does not match the 500 bytes held for ImageID {self.image_id}"),
            # ... nor more.
            (support.multipart_body(fields, 900, PATH, 2000, self.data[900:]), "5",
             f"Offset 900 does not match the 500 bytes held for ImageID {self.image_id}"),
            # The declared size may not change between uploads of one identifier.
            (support.multipart_body(fields, 500, PATH, 2001, self.data[500:]), "2",
             f"filesize 2001 differs from 2000 declared earlier for ImageID {self.image_id}"),
            # The total may never exceed the declared size; nothing of such an upload is stored.
            (support.multipart_body(fields, 500, PATH, 2000, self.data[500:] + b"xy"), "4",
             f"1502 bytes at offset 500 exceed the declared filesize 2000 of ImageID {self.image_id}"),
            # The offset travels as decimal text that fits the client's 32-bit offset.
            (support.multipart_body(fields, "5x", PATH, 2000, b""), "2",
             'Offset "5x" is not a decimal number from 0 to 2147483647'),
            (support.multipart_body(fields, 2**31, PATH, 2000, b""), "2",
             'Offset "2147483648" is not a decimal number from 0 to 2147483647'),
        ]
        for body, code, message in cases:
            with self.subTest(message=message):
                self.assertReply(self.upload(body), Status="Error", ErrCode=code, ErrMsg=message)
        self.assertEqual(self.server.store.get(self.image_id).received, 500)
        self.assertEqual(self.server.store.data(self.image_id), self.data[:500])

    def test_field_values_travel_raw_in_multipart_bodies(self):
        fields = self.client.image_fields(self.image_id)
        body = support.multipart_body(fields, 0, PATH, 2000, self.data)
        self.assertIn(b"Holiday & friends\r\n", body)
        self.assertReply(self.upload(body), Status="OK")

    def test_mime_version_header_is_required(self):
        body = self.client.upload_body(self.image_id, 0, PATH, self.data)
        reply = self.upload(body, multipart=False)
        self.assertReply(reply, ErrCode="2", ErrMsg='Mime-Version header is "", expected "1.0"')


class Statistics(support.ServerTestCase):
    STATS = [
        ("STAT_BYTES_WRITTEN", "51234"), ("STAT_ELAPSED_TIME", "3000"), ("STAT_ERROR", "Bad thing\r\n"),
        ("STAT_IMAGE_ID", "IMG1"), ("STAT_IMAGE_RETRIES", "1"), ("STAT_KEY", "PLUGIN"), ("STAT_OFFSET_RETRIES", "2"),
        ("STAT_RAW_SIZE", "50000"), ("STAT_SERVER", "up1"), ("STAT_SESSION_ID", "s"),
        ("STAT_START_TIME", "1100000000000"), ("STAT_TRANSFER_TIME", "2000"), ("STAT_UID", "u"),
    ]

    def post(self, pairs):
        return self.client.post("UploadClientStats", form_encode(pairs), FORM)

    def test_each_message_is_one_json_line_of_its_fields(self):
        self.assertReply(self.post(self.STATS), Status="OK")
        second = [(n, "7000" if n == "STAT_START_TIME" else v) for n, v in self.STATS]
        self.assertReply(self.post(second), Status="OK")
        with open(self.stats_path) as f:
            lines = [json.loads(line) for line in f]
        self.assertEqual(lines, [dict(self.STATS), dict(second)])
        self.assertEqual(list(lines[0]), [n for n, _ in self.STATS])
        self.assertEqual(self.state()["stats_logged"], 2)

    def test_malformed_statistics_are_refused_and_not_logged(self):
        def changed(name, value):
            return [(n, value if n == name else v) for n, v in self.STATS]
        cases = [
            # The key names the reporting component.
            (changed("STAT_KEY", "OTHER"), 'STAT_KEY is "OTHER", expected "PLUGIN"'),
            # Counters and times are decimal numbers.
            (changed("STAT_RAW_SIZE", "-1"), 'STAT_RAW_SIZE "-1" is not a decimal number'),
            # The start time is whole seconds followed by 000.
            (changed("STAT_START_TIME", "1100000000123"), 'STAT_START_TIME "1100000000123" does not end in 000'),
            # All thirteen fields, no fewer.
            (self.STATS[1:], 'missing field(s) "STAT_BYTES_WRITTEN"'),
        ]
        for pairs, message in cases:
            with self.subTest(message=message):
                self.assertReply(self.post(pairs), Status="Error", ErrCode="2", ErrMsg=message)
        self.assertFalse(os.path.exists(self.stats_path))
