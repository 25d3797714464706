"""The multipart decoder on malformed and truncated bodies, and the precise messages the UploadImage
servlet answers them with."""

import unittest

import form_codec
from form_codec import FormError

from . import support
from .support import BOUNDARY

B = BOUNDARY.encode()
PATH = "C:\\photos\\a \"quoted\" name.jpg"


def good_body(data=b"\xff\xd8DATA"):
    fields = support.Client(0).image_fields("IMG1")
    return support.multipart_body(fields, 0, PATH, len(data), data)


class MultipartDecoder(unittest.TestCase):
    def test_well_formed_body_splits_into_its_parts(self):
        parts = form_codec.parse_multipart(good_body(), B)
        self.assertEqual(len(parts), 13)
        self.assertEqual(parts[0].headers, [("Content-Disposition", 'form-data; name="AuthenticationID"'),
                                            ("Content-Type", 'text/plain; charset="us-ascii"')])
        self.assertEqual(parts[11].data, b"0")
        self.assertEqual(parts[12].data, b"\xff\xd8DATA")
        self.assertTrue(all(p.complete for p in parts))

    def test_malformed_bodies_are_refused_with_what_and_where(self):
        body = good_body()
        cases = [
            # The first line must be the boundary.
            (b"\r\n" + body, 'body does not start with the boundary line: starts with "\\r\\n--'),
            # A part whose header block never ends.
            (b"--" + B + b"\r\nContent-Disposition: form-data", "part 1: header block does not end with a blank line"),
            # A header line without a colon.
            (b"--" + B + b"\r\nContent-Disposition\r\n\r\nx\r\n--" + B + b"--\r\n",
             "part 1: header line \"Content-Disposition\" is not 'Name: value'"),
            # A header without the space after the colon.
            (b"--" + B + b"\r\nContent-Type:x\r\n\r\nx\r\n--" + B + b"--\r\n",
             'part 1: header "Content-Type" lacks the space after \':\''),
            # Data that never reaches a boundary.
            (body[: body.rindex(b"\r\n--")], "part 13: data is not followed by a boundary line"),
            # The closing line needs its CRLF.
            (body[:-2], 'closing boundary is followed by "", expected CRLF'),
            # Nothing may follow the closing line.
            (body + b"epilogue", "8 bytes follow the closing boundary line"),
            # A delimiter followed by neither CRLF nor "--".
            (body.replace(B + b"\r\nContent-Disposition: form-data; name=\"CampaignID\"",
                          B + b"XContent-Disposition: form-data; name=\"CampaignID\"", 1),
             'part 1: boundary is followed by "XContent", expected CRLF or \'--\''),
            # The same header twice in a part.
            (b"--" + B + b"\r\nA: 1\r\nA: 2\r\n\r\nx\r\n--" + B + b"--\r\n", 'part 1: header "A" appears twice'),
        ]
        for raw, message in cases:
            with self.subTest(message=message):
                with self.assertRaises(FormError) as caught:
                    form_codec.parse_multipart(raw, B)
                self.assertTrue(str(caught.exception).startswith(message), str(caught.exception))

    def test_truncated_body_keeps_only_what_is_certainly_data(self):
        data = bytes(range(256)) * 8
        body = good_body(data)
        start = body.index(b"Content-Type: image/jpeg\r\n\r\n") + len(b"Content-Type: image/jpeg\r\n\r\n")
        cases = [
            # Cut in the middle of the file bytes: everything up to the cut is data.
            (start + 1000, data[:1000], False),
            # Cut after the data's CRLF and part of the closing line: that tail is not data.
            (start + len(data) + 5, data, False),
            # Cut after the whole delimiter: the part is complete.
            (len(body) - 3, data, True),
        ]
        for cut, expected, complete in cases:
            with self.subTest(cut=cut):
                parts = form_codec.parse_multipart(body[:cut], B, truncated=True)
                self.assertEqual(parts[-1].data, expected)
                self.assertEqual(parts[-1].complete, complete)
        # Cut inside a field's header block: no part beyond the complete ones.
        self.assertEqual(len(form_codec.parse_multipart(body[:60], B, truncated=True)), 0)

    def test_content_type_gives_the_boundary(self):
        cases = [
            # As the client sends it.
            (f"multipart/form-data; boundary={BOUNDARY}", B),
            # Quoted boundaries are accepted.
            ('multipart/form-data; boundary="abc"', b"abc"),
        ]
        for value, boundary in cases:
            with self.subTest(value=value):
                self.assertEqual(form_codec.parse_multipart_type(value), boundary)
        refused = [
            # Not a form.
            ("multipart/mixed; boundary=x", 'Content-Type is "multipart/mixed; boundary=x", expected multipart/form-data'),
            # No boundary at all.
            ("multipart/form-data", 'Content-Type "multipart/form-data" has no boundary parameter'),
            # An empty boundary.
            ("multipart/form-data; boundary=", "boundary \"\" is empty"),
        ]
        for value, message in refused:
            with self.subTest(value=value):
                with self.assertRaises(FormError) as caught:
                    form_codec.parse_multipart_type(value)
                self.assertTrue(str(caught.exception).startswith(message), str(caught.exception))

    def test_hostile_bodies_raise_form_errors_only(self):
        body = good_body()
        for cut in range(0, len(body), 7):
            for truncated in (False, True):
                try:
                    form_codec.parse_multipart(body[:cut] + b"\xff\r\n--" + B, B, truncated)
                except FormError:
                    pass


class UploadImageMultipartReplies(support.ServerTestCase):
    def setUp(self):
        super().setUp()
        self.image_id, self.data_port, self.cookie = self.client.new_image()
        self.body = self.client.upload_body(self.image_id, 0, PATH, b"abc")

    def upload(self, body, content_type=f"multipart/form-data; boundary={BOUNDARY}"):
        return self.client.post("UploadImage", body, content_type, self.cookie, True, self.data_port)

    def test_malformed_multipart_gets_a_precise_error_message(self):
        fields_type = b'Content-Type: text/plain; charset="us-ascii"'
        cases = [
            # A field part with another Content-Type.
            (self.body.replace(fields_type, b"Content-Type: text/plain", 1),
             'part 1 (AuthenticationID): Content-Type is "text/plain", expected text/plain; charset="us-ascii"'),
            # A field part without its Content-Type header.
            (self.body.replace(b"\r\n" + fields_type, b"", 1),
             "part 1: headers are Content-Disposition; expected Content-Disposition, Content-Type"),
            # The file part without its filesize.
            (self.body.replace(b'; filesize="3"', b""),
             'part 13 (Image.Data): Content-Disposition "form-data; name="Image.Data"; filename="C:\\photos\\a "quoted"..."'
             ' lacks the filename and filesize parameters in the expected form'),
            # The file part of another type.
            (self.body.replace(b"Content-Type: image/jpeg", b"Content-Type: image/png"),
             'part 13 (Image.Data): Content-Type is "image/png", expected image/jpeg'),
            # The Offset part is required before the data.
            (self.body.replace(b'name="Offset"', b'name="Offsets"'), "part 13 (Image.Data) is not preceded by the Offset part"),
            # Fields out of their byte order.
            (self.body.replace(b'name="AuthenticationID"', b'name="T"').replace(b'name="CampaignID"', b'name="AuthenticationID"')
             .replace(b'name="T"', b'name="CampaignID"'),
             'field "AuthenticationID" comes after "CampaignID"; fields must be in ascending byte order of their names'),
            # A field part after the Offset part.
            (self.body.replace(b'name="Offset"', b'name="T"').replace(b'name="UID"', b'name="Offset"')
             .replace(b'name="T"', b'name="UID"'), 'part 12 (UID) follows the Offset part; fields come first'),
            # A wrong boundary in the body.
            (self.body.replace(BOUNDARY.encode(), b"----------OTHER"),
             'body does not start with the boundary line: starts with "------------OTHER\\r\\nContent-Disposition: form-data; nam"'),
        ]
        for body, message in cases:
            with self.subTest(message=message[:40]):
                self.assertReply(self.upload(body), Status="Error", ErrCode="2", ErrMsg=message)
        self.assertEqual(self.server.store.get(self.image_id).received, 0)

    def test_a_filename_with_quotes_is_stored_as_sent(self):
        self.assertReply(self.upload(self.body), Status="OK")
        self.assertEqual(self.server.store.get(self.image_id).filename, PATH)

    def test_content_type_without_boundary_is_refused(self):
        reply = self.upload(self.body, "multipart/form-data")
        self.assertReply(reply, ErrCode="2", ErrMsg='Content-Type "multipart/form-data" has no boundary parameter')
