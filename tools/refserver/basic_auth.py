"""Basic authentication of the servlet requests, for tests of the client's answers to a server's
challenge: when the setting "basic_auth" holds "USER:PASSWORD", a servlet request without an
"Authorization: Basic" header carrying exactly those credentials is refused with 401 and the
challenge `Basic realm="REALM"` (the setting "basic_realm"). The control endpoints stay open.
"""

import base64
import binascii

DEFAULT_REALM = "refserver"


def check_credentials(text):
    """The "USER:PASSWORD" setting or option: None when it is usable, else why not. The user name
    cannot hold a colon (the first colon of the decoded credentials ends it)."""
    if ":" not in text:
        return f"expected USER:PASSWORD, not {text!r}"
    return None


def check_realm(text):
    """The realm goes between double quotes as it is: no quote, backslash or control character."""
    if any(c in text for c in '"\\') or any(ord(c) < 0x20 or ord(c) == 0x7F for c in text):
        return f"a realm without double quotes, backslashes or control characters, not {text!r}"
    return None


def challenge(realm):
    return f'Basic realm="{realm}"'


def refusal(settings, authorization):
    """None when the request may go on: no credentials are demanded, or the header carries them.
    Otherwise what is wrong with it, for the request log."""
    wanted = settings.get("basic_auth")
    if wanted is None:
        return None
    if authorization is None:
        return "no Authorization header"
    scheme, _, token = authorization.strip().partition(" ")
    if scheme.lower() != "basic":
        return f"Authorization scheme {scheme!r} is not Basic"
    try:
        given = base64.b64decode(token.strip(), validate=True)
    except (binascii.Error, ValueError):
        return "Authorization credentials are not Base64"
    if given != wanted.encode("utf-8"):
        user = given.split(b":", 1)[0].decode("utf-8", "backslashreplace")
        return f"wrong user name or password (user {user!r})"
    return None
