"""The four servlets of the upload protocol as this reference server answers them. Each takes the
parsed request and returns the reply fields (and extra headers); anything wrong with the request
raises ServletError with the error code the client must react to and a precise message.

Error codes this server gives on its own (fault rules can give any other):
  1  identity refused: AuthenticationID not accepted, or not the identity the ImageID was issued to
  2  malformed request: missing, extra, repeated or unordered fields, a bad ProtocolVersion, a bad
     multipart body, a bad Offset or filesize, a missing or wrong cookie
  3  unknown ImageID
  4  the upload would make the picture larger than its declared filesize
  5  the Offset part is not the number of bytes the server holds
  7  the upload body was complete but the picture is still short of its filesize
  9  the ImageID belongs to the other server of this process
 14  GetImageOffset for a picture that is already complete
Codes 1, 2 and 4 make the client give the picture up; the others make it start again.
"""

import json
import re

import form_codec
from form_codec import FormError, show
from picture_store import StoreConflict

PROTOCOL_VERSION = "2.0"

GET_IMAGE_ID_FIELDS = ("AuthenticationID", "ProtocolVersion", "SessionID", "UID")
IMAGE_FIELDS = (
    "AuthenticationID", "CampaignID", "Image.AlbumID", "Image.AlbumName", "Image.UploadTime", "ImageID",
    "PartnerID", "PartnerSubID", "ProtocolVersion", "SessionID", "UID",
)
STAT_FIELDS = (
    "STAT_BYTES_WRITTEN", "STAT_ELAPSED_TIME", "STAT_ERROR", "STAT_IMAGE_ID", "STAT_IMAGE_RETRIES", "STAT_KEY",
    "STAT_OFFSET_RETRIES", "STAT_RAW_SIZE", "STAT_SERVER", "STAT_SESSION_ID", "STAT_START_TIME",
    "STAT_TRANSFER_TIME", "STAT_UID",
)
STAT_NUMBERS = (
    "STAT_BYTES_WRITTEN", "STAT_ELAPSED_TIME", "STAT_IMAGE_RETRIES", "STAT_OFFSET_RETRIES", "STAT_RAW_SIZE",
    "STAT_START_TIME", "STAT_TRANSFER_TIME",
)
FORM_TYPE = "application/x-www-form-urlencoded"
FIELD_PART_TYPE = 'text/plain; charset="us-ascii"'
MAX_OFFSET = 2**31 - 1  # the client keeps the offset in a signed 32-bit integer

_FIELD_DISPOSITION = re.compile(r'^form-data; name="([^"]*)"$')
_DATA_DISPOSITION = re.compile(r'^form-data; name="Image\.Data"; filename="(.*)"; filesize="([^"]*)"$', re.S)
_DECIMAL = re.compile(r"^[0-9]{1,10}$")
_COOKIE_ATTRIBUTES = ("path", "domain", "expires", "max-age", "secure", "httponly", "samesite", "version")


class ServletError(Exception):
    def __init__(self, code, message):
        super().__init__(message)
        self.code = code
        self.message = message


class Reply:
    def __init__(self, fields, headers=(), note=None):
        self.fields = list(fields)  # (name, value) pairs in reply order
        self.headers = list(headers)
        self.note = note  # what the request log shows about it


class Context:
    """What a servlet may use: the server's shared parts and the listener the request came in on."""

    def __init__(self, store, settings, own_address, data_server, own_addresses, stats_log):
        self.store = store
        self.settings = settings  # dict: auth_id, cookie_check, strict_forms
        self.own_address = own_address  # "127.0.0.1:PORT" of the listener that got the request
        self.data_server = data_server  # the "Server" answer of GetImageID
        self.own_addresses = own_addresses  # every listener of this process
        self.stats_log = stats_log  # callable(dict) that appends one statistics line


def check_fields(pairs, expected):
    """Checks that the request carries exactly the `expected` fields, each once, in ascending byte
    order of their names (the order the client must send them in). Returns a name -> value dict."""
    names = [name for name, _ in pairs]
    seen = set()
    for name in names:
        if name in seen:
            raise ServletError(2, f"field {show(name)} appears more than once")
        seen.add(name)
    missing = [name for name in expected if name not in seen]
    if missing:
        raise ServletError(2, "missing field(s) " + ", ".join(show(n) for n in missing))
    extra = [name for name in names if name not in expected]
    if extra:
        raise ServletError(2, "unexpected field(s) " + ", ".join(show(n) for n in extra))
    for before, after in zip(names, names[1:]):
        if form_codec.encode_text(before) > form_codec.encode_text(after):
            raise ServletError(
                2, f"field {show(after)} comes after {show(before)}; fields must be in ascending byte order of their names"
            )
    return dict(pairs)


def _check_protocol(fields):
    if fields["ProtocolVersion"] != PROTOCOL_VERSION:
        raise ServletError(2, f"ProtocolVersion is {show(fields['ProtocolVersion'])}, expected \"{PROTOCOL_VERSION}\"")


def _check_auth(ctx, fields):
    wanted = ctx.settings.get("auth_id")
    if wanted is not None and fields["AuthenticationID"] != wanted:
        raise ServletError(1, f"AuthenticationID {show(fields['AuthenticationID'])} is not accepted")


def _form_fields(ctx, request):
    content_type = request.header("content-type")
    if content_type != FORM_TYPE:
        raise ServletError(2, f"Content-Type is {show(content_type or '')}, expected {FORM_TYPE}")
    try:
        return form_codec.decode_form(request.body, strict=ctx.settings.get("strict_forms", True))
    except FormError as e:
        raise ServletError(2, str(e)) from None


def _image_for(ctx, request, fields):
    """The record of the request's ImageID, after checking identity, listener and cookie."""
    image_id = fields["ImageID"]
    image = ctx.store.get(image_id) if image_id else None
    if image is None:
        raise ServletError(3, f"unknown ImageID {show(image_id)}")
    for field, issued in (
        ("AuthenticationID", image.authentication_id), ("SessionID", image.session_id), ("UID", image.uid),
    ):
        if fields[field] != issued:
            raise ServletError(1, f"{field} {show(fields[field])} is not the {show(issued)} that ImageID {image_id} was issued to")
    if image.server in ctx.own_addresses and image.server != ctx.own_address:
        raise ServletError(9, f"ImageID {image_id} belongs to server {image.server}, not {ctx.own_address}")
    if ctx.settings.get("cookie_check", True):
        _check_cookie(request.header("cookie"), image)
    return image


def _check_cookie(cookie, image):
    if cookie is None:
        raise ServletError(2, f"no Cookie header; expected upload={image.token}")
    pairs = {}
    for item in cookie.split(";"):
        name, eq, value = item.strip().partition("=")
        if name.lower() in _COOKIE_ATTRIBUTES:
            raise ServletError(2, f"Cookie {show(cookie)} carries the attribute {show(name)}, which belongs only in Set-Cookie")
        if eq:
            pairs[name] = value
    if pairs.get("upload") != image.token:
        raise ServletError(2, f"Cookie {show(cookie)} does not carry upload={image.token} issued with ImageID {image.image_id}")


def get_image_id(ctx, request):
    fields = check_fields(_form_fields(ctx, request), GET_IMAGE_ID_FIELDS)
    _check_protocol(fields)
    _check_auth(ctx, fields)
    image = ctx.store.issue(ctx.data_server, fields["AuthenticationID"], fields["SessionID"], fields["UID"])
    upload_server = ctx.settings.get("upload_server_name") or f"refserver {ctx.data_server}"
    return Reply(
        [("Status", "OK"), ("ImageID", image.image_id), ("Server", ctx.data_server), ("UploadServer", upload_server)],
        headers=[("Set-Cookie", f"upload={image.token}; Path=/")],
        note=f"issued {image.image_id}",
    )


def get_image_offset(ctx, request):
    fields = check_fields(_form_fields(ctx, request), IMAGE_FIELDS)
    _check_protocol(fields)
    _check_auth(ctx, fields)
    image = _image_for(ctx, request, fields)
    if image.complete:
        raise ServletError(14, f"ImageID {image.image_id} is already complete ({image.received} bytes)")
    return Reply([("Status", "OK"), ("Offset", str(image.received))], note=f"{image.image_id} offset {image.received}")


class _Upload:
    """An UploadImage body taken apart: the eleven fields, the offset and the file part."""

    def __init__(self, fields, offset, filename, filesize, data, complete):
        self.fields = fields
        self.offset = offset
        self.filename = filename
        self.filesize = filesize
        self.data = data
        self.complete = complete


def _expect_part_headers(part, expected):
    names = [name for name, _ in part.headers]
    if [n.lower() for n in names] != [e.lower() for e in expected]:
        raise FormError(f"part {part.number}: headers are {', '.join(names) or 'none'}; expected {', '.join(expected)}")


def _parse_upload(request, truncated):
    """Raises FormError or ServletError; with `truncated`, returns None when the file part's header
    block did not arrive."""
    if request.header("mime-version") != "1.0":
        raise ServletError(2, f"Mime-Version header is {show(request.header('mime-version') or '')}, expected \"1.0\"")
    try:
        boundary = form_codec.parse_multipart_type(request.header("content-type"))
        parts = form_codec.parse_multipart(request.body, boundary, truncated=truncated)
    except FormError as e:
        raise ServletError(2, str(e)) from None
    try:
        pairs = []
        offset_text = None
        file_part = None
        for part in parts:
            if file_part is not None:
                raise FormError(f"part {part.number} follows the Image.Data part, which must be the last")
            disposition = part.header("content-disposition") or ""
            data_match = _DATA_DISPOSITION.match(disposition)
            if data_match:
                _expect_part_headers(part, ("Content-Disposition", "Content-Type"))
                if part.header("content-type") != "image/jpeg":
                    raise FormError(f"part {part.number} (Image.Data): Content-Type is {show(part.header('content-type'))}, expected image/jpeg")
                if offset_text is None:
                    raise FormError(f"part {part.number} (Image.Data) is not preceded by the Offset part")
                file_part = (part, data_match.group(1), data_match.group(2))
                continue
            if disposition.startswith('form-data; name="Image.Data"'):
                raise FormError(f"part {part.number} (Image.Data): Content-Disposition {show(disposition)} lacks the filename and filesize parameters in the expected form")
            field_match = _FIELD_DISPOSITION.match(disposition)
            if not field_match:
                raise FormError(f"part {part.number}: Content-Disposition {show(disposition)} is not form-data with a name (and for Image.Data a filename and filesize)")
            _expect_part_headers(part, ("Content-Disposition", "Content-Type"))
            name = field_match.group(1)
            if part.header("content-type") != FIELD_PART_TYPE:
                raise FormError(f"part {part.number} ({name}): Content-Type is {show(part.header('content-type'))}, expected {FIELD_PART_TYPE}")
            if not part.complete:
                return None
            value = form_codec.decode_text(part.data)
            if name == "Offset":
                if offset_text is not None:
                    raise FormError(f"part {part.number}: a second Offset part")
                offset_text = value
            elif offset_text is not None:
                raise FormError(f"part {part.number} ({name}) follows the Offset part; fields come first")
            else:
                pairs.append((name, value))
        if file_part is None:
            if truncated:
                return None
            raise FormError("no Image.Data part" if offset_text is not None else "no Offset part and no Image.Data part")
    except FormError as e:
        raise ServletError(2, str(e)) from None

    fields = check_fields(pairs, IMAGE_FIELDS)
    part, filename, filesize_text = file_part
    if not _DECIMAL.match(offset_text) or int(offset_text) > MAX_OFFSET:
        raise ServletError(2, f"Offset {show(offset_text)} is not a decimal number from 0 to {MAX_OFFSET}")
    if not _DECIMAL.match(filesize_text):
        raise ServletError(2, f"filesize {show(filesize_text)} is not a decimal number")
    if not filename:
        raise ServletError(2, "Image.Data part has an empty filename")
    return _Upload(fields, int(offset_text), filename, int(filesize_text), part.data, part.complete)


def upload_image(ctx, request, truncated=False):
    """Stores the file part. With `truncated` (the body ended early) it stores what arrived intact of
    the file part and returns None, or raises when nothing could be used."""
    upload = _parse_upload(request, truncated)
    if upload is None:
        raise ServletError(2, "the body ended before the Image.Data part's data began")
    fields = upload.fields
    _check_protocol(fields)
    _check_auth(ctx, fields)
    image = _image_for(ctx, request, fields)
    if truncated and not upload.data:
        return Reply([], note=f"{image.image_id}: no file bytes arrived before the body was cut short")
    try:
        image = ctx.store.append(image.image_id, upload.filename, upload.filesize, upload.offset, upload.data)
    except StoreConflict as e:
        raise ServletError(e.code, e.message) from None
    note = f"{image.image_id} +{len(upload.data)} at {upload.offset} -> {image.received}/{image.filesize}"
    if truncated or not upload.complete:
        return Reply([], note=note + " (body cut short)")
    if not image.complete:
        raise ServletError(7, f"the upload ended at {image.received} of {image.filesize} bytes of ImageID {image.image_id}")
    return Reply([("Status", "OK")], note=note + " complete")


def upload_client_stats(ctx, request):
    fields = check_fields(_form_fields(ctx, request), STAT_FIELDS)
    if fields["STAT_KEY"] != "PLUGIN":
        raise ServletError(2, f"STAT_KEY is {show(fields['STAT_KEY'])}, expected \"PLUGIN\"")
    for name in STAT_NUMBERS:
        if not re.fullmatch(r"[0-9]+", fields[name]):
            raise ServletError(2, f"{name} {show(fields[name])} is not a decimal number")
    if not fields["STAT_START_TIME"].endswith("000"):
        raise ServletError(2, f"STAT_START_TIME {show(fields['STAT_START_TIME'])} does not end in 000")
    ctx.stats_log(fields)
    return Reply([("Status", "OK")], note=f"stats for {show(fields['STAT_IMAGE_ID'])}")


SERVLETS = {
    "GetImageID": get_image_id,
    "GetImageOffset": get_image_offset,
    "UploadImage": upload_image,
    "UploadClientStats": upload_client_stats,
}


def reply_body(fields, line_end="\n", final_line_end=True):
    """The text/plain reply: name=value lines. Values are made single-line so that no client value
    quoted in an ErrMsg can forge a field."""
    lines = [f"{name}={str(value).replace(chr(13), ' ').replace(chr(10), ' ')}" for name, value in fields]
    text = line_end.join(lines)
    if lines and final_line_end:
        text += line_end
    return text.encode("utf-8", "surrogateescape")


def stats_line(fields):
    return json.dumps(fields, sort_keys=False) + "\n"
