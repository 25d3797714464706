#!/usr/bin/env python3
"""Reference upload server: the peer of the demo and of every end-to-end test. It serves the upload
servlets GetImageID, GetImageOffset, UploadImage and UploadClientStats over HTTP/1.1 on 127.0.0.1,
keeps what it receives under a store folder so that uploads resume, logs statistics as JSON lines,
and injects faults that tests choose on the command line or change while it runs through
POST /_control (GET /_state shows pictures, counters and connections). See README.md.

Threads: one per listener (accepting) and one per connection (socketserver). Everything the handler
threads share lives in RefServer; `RefServer._lock` guards the counters, the request log and the
settings reference; the store, the fault plan and the statistics file have locks of their own.
"""

import argparse
import collections
import json
import os
import re
import signal
import socket
import socketserver
import sys
import tempfile
import threading
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import basic_auth  # noqa: E402
import form_codec  # noqa: E402
import http_wire  # noqa: E402
import servlets  # noqa: E402
from fault_plan import Effects, FaultPlan, RuleError  # noqa: E402
from http_wire import HttpError, PeerGone  # noqa: E402
from picture_store import PictureStore  # noqa: E402

HOST = "127.0.0.1"  # never anything else: the server accepts uploads from anyone who can reach it
LOG_SIZE = 1000  # request log entries kept for GET /_state
SLOW_RCVBUF = 4096  # receive buffer under a slow-link rule, so the cap reaches the sender quickly
DEFAULT_MAX_BODY = 256 * 1024 * 1024
SETTING_TYPES = {
    "auth_id": (str, type(None)),
    "cookie_check": (bool,),
    "strict_forms": (bool,),
    "upload_server_name": (str, type(None)),
    "basic_auth": (str, type(None)),
    "basic_realm": (str,),
}


class ControlError(ValueError):
    pass


def validate_settings(settings):
    if not isinstance(settings, dict):
        raise ControlError(f"'settings' must be a JSON object, not {settings!r}")
    for key, value in settings.items():
        if key not in SETTING_TYPES:
            raise ControlError(f"unknown setting {key!r}; known: {', '.join(SETTING_TYPES)}")
        if not isinstance(value, SETTING_TYPES[key]) or (isinstance(value, str) and ("\n" in value or "\r" in value)):
            raise ControlError(f"setting {key!r} has the wrong type: {value!r}")
    checks = {"basic_auth": basic_auth.check_credentials, "basic_realm": basic_auth.check_realm}
    for key, check in checks.items():
        problem = check(settings[key]) if isinstance(settings.get(key), str) else None
        if problem is not None:
            raise ControlError(f"setting {key!r}: {problem}")
    return settings


class _RequestEntry:
    """One servlet request as the request log shows it; filled by the handler thread that serves it."""

    def __init__(self, seq, servlet, listener, request, effects):
        self.answered = False  # its reply has gone out: no longer in flight
        self.record = {
            "seq": seq,
            "time": time.time(),
            "servlet": servlet,
            "listener": listener,
            "content_length": request.header("content-length"),
            "cookie": request.header("cookie"),
            "user_agent": request.header("user-agent"),
            "faults": effects.describe(),
            "fault_rules": effects.rules,
            "outcome": None,
            "http_status": None,
            "reply": None,
            "note": None,
        }


class RefServer:
    """The shared state of one server process and its one or two listeners."""

    def __init__(self, store_dir, stats_path, port=0, second_server=None, settings=None, rules=None,
                 idle_timeout=30.0, read_timeout=60.0, max_body=DEFAULT_MAX_BODY, log=None):
        self.store = PictureStore(store_dir)
        self.stats_path = stats_path
        self.faults = FaultPlan()
        if rules:
            self.faults.replace(rules)
        self.idle_timeout = idle_timeout
        self.read_timeout = read_timeout
        self.max_body = max_body
        self.stopping = threading.Event()
        self._port = port
        self._second = second_server  # None, "auto" (a second listener here) or "HOST:PORT" elsewhere
        self._log_stream = log
        self._lock = threading.Lock()
        self._settings = {"auth_id": None, "cookie_check": True, "strict_forms": True, "upload_server_name": None,
                          "basic_auth": None, "basic_realm": basic_auth.DEFAULT_REALM}
        self._settings.update(validate_settings(settings or {}))
        self._stats_lock = threading.Lock()
        self._listeners = {}
        self._threads = []
        self._open = set()
        self._reset_counters_locked()

    # --- life cycle

    def start(self):
        self._listeners["main"] = _Listener(self, "main", self._port)
        if self._second == "auto":
            self._listeners["second"] = _Listener(self, "second", 0)
        for listener in self._listeners.values():
            thread = threading.Thread(target=listener.serve_forever, kwargs={"poll_interval": 0.1},
                                      name=f"refserver-{listener.name}", daemon=True)
            thread.start()
            self._threads.append(thread)
        return self

    def stop(self):
        """Stops accepting, ends every open connection and waits (briefly) for the handlers."""
        self.stopping.set()
        for listener in self._listeners.values():
            listener.shutdown()
            listener.server_close()
        with self._lock:
            connections = list(self._open)
        for conn in connections:
            try:
                conn.sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        for thread in self._threads:
            thread.join(timeout=5)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            with self._lock:
                if not self._open:
                    break
            time.sleep(0.02)

    def address(self, name="main"):
        return f"{HOST}:{self._listeners[name].server_address[1]}"

    @property
    def port(self):
        return self._listeners["main"].server_address[1]

    @property
    def second_port(self):
        listener = self._listeners.get("second")
        return None if listener is None else listener.server_address[1]

    def data_server(self):
        if "second" in self._listeners:
            return self.address("second")
        return self._second or self.address("main")

    # --- shared state used by the handlers

    def settings(self):
        with self._lock:
            return dict(self._settings)

    def context(self, listener_name):
        return servlets.Context(
            self.store, self.settings(), self.address(listener_name), self.data_server(),
            {self.address(name) for name in self._listeners}, self._log_stats,
        )

    def _log_stats(self, fields):
        line = servlets.stats_line(fields)
        with self._stats_lock:
            with open(self.stats_path, "a", encoding="utf-8") as f:
                f.write(line)
        with self._lock:
            self._stats_logged += 1

    def _reset_counters_locked(self):
        self._requests = collections.Counter()
        self._requests_by_listener = collections.defaultdict(collections.Counter)
        self._outcomes = collections.defaultdict(collections.Counter)
        self._connections = {"current": 0, "peak": 0, "total": 0}
        self._in_flight = {"current": 0, "peak": 0}
        self._bytes_in_closed = 0
        self._bytes_in_base = sum(c.bytes_in for c in getattr(self, "_counted", ()))
        self._stats_logged = 0
        self._control_requests = 0
        self._log = collections.deque(maxlen=LOG_SIZE)
        self._seq = 0
        # Connections and requests open right now stay counted after a reset.
        self._connections["current"] = self._connections["peak"] = len(getattr(self, "_counted", ()))
        self._counted = set(getattr(self, "_counted", ()))
        self._in_flight["current"] = self._in_flight["peak"] = getattr(self, "_in_flight_now", 0)
        self._in_flight_now = self._in_flight["current"]

    def register(self, conn):
        with self._lock:
            self._open.add(conn)

    def unregister(self, conn):
        with self._lock:
            self._open.discard(conn)
            if conn in self._counted:
                self._counted.discard(conn)
                self._bytes_in_closed += conn.bytes_in
                self._connections["current"] -= 1

    def count_connection(self, conn):
        """Counts a connection from its first servlet request until it closes; connections that only
        talk to the control endpoint are not counted."""
        with self._lock:
            if conn in self._counted:
                return
            self._counted.add(conn)
            self._connections["current"] += 1
            self._connections["total"] += 1
            self._connections["peak"] = max(self._connections["peak"], self._connections["current"])

    def begin_request(self, servlet, listener, request, effects):
        with self._lock:
            self._seq += 1
            entry = _RequestEntry(self._seq, servlet, listener, request, effects)
            self._requests[servlet] += 1
            self._requests_by_listener[listener][servlet] += 1
            self._in_flight_now += 1
            self._in_flight["current"] = self._in_flight_now
            self._in_flight["peak"] = max(self._in_flight["peak"], self._in_flight_now)
            self._log.append(entry.record)
            return entry

    def answered(self, entry, conn, closing):
        """The reply is about to go out: from here on the client may act on it (start its next
        request at once), so the request stops counting as in flight now rather than when this
        handler thread next runs, and a connection that the reply closes stops counting as open."""
        with self._lock:
            if entry.answered:
                return
            entry.answered = True
            self._in_flight_now -= 1
            self._in_flight["current"] = self._in_flight_now
            if closing and conn in self._counted:
                self._counted.discard(conn)
                self._bytes_in_closed += conn.bytes_in
                self._connections["current"] -= 1

    def end_request(self, entry, outcome, http_status=None, reply=None, note=None, fields=None):
        with self._lock:
            entry.record.update(outcome=outcome, http_status=http_status, reply=reply, note=note)
            if fields is not None:
                entry.record["fields"] = fields
            self._outcomes[entry.record["servlet"]][outcome] += 1
            if not entry.answered:
                entry.answered = True
                self._in_flight_now -= 1
                self._in_flight["current"] = self._in_flight_now
        if self._log_stream is not None:
            reply_text = " ".join(f"{k}={v}" for k, v in (reply or {}).items())
            faults = f" [{entry.record['faults']}]" if entry.record["faults"] else ""
            print(f"refserver: {entry.record['listener']} {entry.record['servlet']}{faults} -> {outcome}"
                  f"{' HTTP ' + str(http_status) if http_status else ''} {reply_text} {note or ''}".rstrip(),
                  file=self._log_stream, flush=True)

    def count_control(self):
        with self._lock:
            self._control_requests += 1

    # --- control endpoint

    def control(self, command):
        """Applies a POST /_control command: all of it or, when any part is wrong, none of it."""
        if not isinstance(command, dict):
            raise ControlError("the control body must be a JSON object")
        unknown = sorted(set(command) - {"rules", "add", "clear", "settings", "reset"})
        if unknown:
            raise ControlError(f"unknown control key(s) {', '.join(map(repr, unknown))}")
        try:
            if "rules" in command:
                FaultPlan.validate(command["rules"])
            if "add" in command:
                FaultPlan.validate(command["add"])
        except RuleError as e:
            raise ControlError(str(e)) from None
        if "settings" in command:
            validate_settings(command["settings"])
        for key in ("clear", "reset"):
            if key in command and not isinstance(command[key], bool):
                raise ControlError(f"{key!r} must be true or false")
        if command.get("clear"):
            self.faults.replace([])
        if "rules" in command:
            self.faults.replace(command["rules"])
        if "add" in command:
            self.faults.add(command["add"])
        with self._lock:
            if "settings" in command:
                self._settings = dict(self._settings, **command["settings"])
            if command.get("reset"):
                self._reset_counters_locked()
        return self.control_json()

    def control_json(self):
        return {"rules": self.faults.as_json(), "settings": self.settings()}

    def state_json(self):
        with self._lock:
            state = {
                "listeners": {name: self.address(name) for name in self._listeners},
                "data_server": self.data_server(),
                "requests": dict(self._requests),
                "requests_by_listener": {k: dict(v) for k, v in self._requests_by_listener.items()},
                "outcomes": {k: dict(v) for k, v in self._outcomes.items()},
                "connections": dict(self._connections),
                "in_flight": dict(self._in_flight),
                # Live, unlike a picture's "received", which moves when a body has been read whole.
                "bytes_in": self._bytes_in_closed + sum(c.bytes_in for c in self._counted) - self._bytes_in_base,
                "stats_logged": self._stats_logged,
                "control_requests": self._control_requests,
                "settings": dict(self._settings),
                "log": [dict(e) for e in self._log],
            }
        state["pictures"] = self.store.as_json()
        state["store"] = self.store.root
        state["stats_file"] = self.stats_path
        state["rules"] = self.faults.as_json()
        return state


class _Listener(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True
    block_on_close = False
    request_queue_size = 64  # several sender threads connect at once

    def __init__(self, core, name, port):
        self.core = core
        self.name = name
        super().__init__((HOST, port), _Handler)


def _lenient_form(body):
    """The fields of a form body for the request log, however badly encoded."""
    try:
        return dict(form_codec.decode_form(body, strict=False))
    except form_codec.FormError:
        return None


class _Handler(socketserver.BaseRequestHandler):
    """Serves one connection: requests one after another while the client keeps it open."""

    def handle(self):
        core = self.server.core
        conn = http_wire.Connection(self.request, core.stopping, core.idle_timeout, core.read_timeout)
        core.register(conn)
        try:
            while not core.stopping.is_set():
                try:
                    request = conn.read_head()
                    if request is None:
                        break
                    keep = self._serve(conn, request)
                except HttpError as e:
                    self._send_http_error(conn, e)
                    break
                if not keep:
                    break
        except PeerGone:
            pass
        except Exception:  # a bug here must not take the server down; it shows in the output
            traceback.print_exc()
        finally:
            core.unregister(conn)
            conn.close()

    def _send_http_error(self, conn, error):
        body = servlets.reply_body([("Status", "Error"), ("ErrCode", str(error.status)), ("ErrMsg", error.message)])
        try:
            conn.send(http_wire.build_reply(error.status, body, [("Content-Type", "text/plain")], close=True))
            conn.linger()
        except PeerGone:
            pass

    def _serve(self, conn, request):
        path = request.path
        if path in ("/_state", "/_control"):
            return self._serve_control(conn, request)
        servlet = path[1:]
        if servlet not in servlets.SERVLETS:
            raise HttpError(404, f"no servlet at {path}")
        if request.method != "POST":
            raise HttpError(405, f"{servlet} accepts POST only, not {request.method}")
        self.server.core.count_connection(conn)
        return self._serve_servlet(conn, request, servlet)

    def _read_plain_body(self, conn, request):
        if request.header("transfer-encoding") is not None:
            if request.header("transfer-encoding").lower() != "chunked":
                raise HttpError(501, f"Transfer-Encoding {request.header('transfer-encoding')!r} is not supported")
            return conn.read_chunked_body(self.server.core.max_body), True
        length = self._content_length(request)
        return conn.read_body(length)

    def _content_length(self, request):
        text = request.header("content-length")
        if text is None:
            if request.method == "POST":
                raise HttpError(411, "POST without Content-Length")
            return 0
        if not re.fullmatch(r"[0-9]{1,15}", text):
            raise HttpError(400, f"Content-Length {text!r} is not a decimal number")
        if int(text) > self.server.core.max_body:
            raise HttpError(413, f"Content-Length {text} is above the limit of {self.server.core.max_body} bytes")
        return int(text)

    def _serve_control(self, conn, request):
        core = self.server.core
        core.count_control()
        body, complete = self._read_plain_body(conn, request)
        if not complete:
            raise PeerGone("control body cut short")
        status = 200
        try:
            if request.path == "/_state" and request.method == "GET":
                answer = core.state_json()
            elif request.path == "/_control" and request.method == "GET":
                answer = core.control_json()
            elif request.path == "/_control" and request.method == "POST":
                try:
                    command = json.loads(body.decode("utf-8") or "{}")
                except (UnicodeDecodeError, ValueError) as e:
                    raise ControlError(f"the control body is not JSON: {e}") from None
                answer = core.control(command)
            else:
                status, answer = 405, {"error": f"{request.method} is not served at {request.path}"}
        except ControlError as e:
            status, answer = 400, {"error": str(e)}
        data = (json.dumps(answer, indent=1) + "\n").encode("utf-8")
        close = request.wants_close()
        conn.send(http_wire.build_reply(status, data, [("Content-Type", "application/json")], close=close))
        return not close

    def _serve_servlet(self, conn, request, servlet):
        core = self.server.core
        settings = core.settings()
        refusal = basic_auth.refusal(settings, request.header("authorization"))
        # The fault rules are about the requests that reach the servlets: a refused one uses none up.
        effects = Effects() if refusal else core.faults.take(servlet)
        entry = core.begin_request(servlet, self.server.name, request, effects)
        result = {"outcome": "truncated"}
        try:
            if refusal:
                return self._refuse_unauthorized(conn, request, settings["basic_realm"], refusal, result)
            return self._run_servlet(conn, request, servlet, effects, result, entry)
        except HttpError as e:
            result.update(outcome="http", http_status=e.status, note=e.message)
            raise
        finally:
            self._end_request(entry, servlet, request, result)

    def _end_request(self, entry, servlet, request, result):
        """Records the request's outcome in the log and the counters, once."""
        if result.get("ended"):
            return
        result["ended"] = True
        fields = _lenient_form(request.body) if servlet != "UploadImage" and request.body else None
        self.server.core.end_request(entry, result["outcome"], result.get("http_status"), result.get("reply"),
                                     result.get("note"), fields)

    def _refuse_unauthorized(self, conn, request, realm, refusal, result):
        """401 with the Basic challenge and no reply fields, after the whole body has been read: a
        refusal that left the body unread would reset the connection under the client's reading of
        the reply. The connection stays open unless the client asked to close it."""
        body, complete = self._read_plain_body(conn, request)
        request.body = body
        result["note"] = refusal
        if not complete:
            return False
        close = request.wants_close()
        conn.send(http_wire.build_reply(
            401, b"", [("Content-Type", "text/plain"), ("WWW-Authenticate", basic_auth.challenge(realm))], close=close))
        result.update(outcome="unauthorized", http_status=401)
        return not close

    def _run_servlet(self, conn, request, servlet, effects, result, entry=None):
        core = self.server.core
        answer = effects.answer
        chunked = request.header("transfer-encoding") is not None
        length = None if chunked else self._content_length(request)  # refused before any interim reply
        for _ in range(effects.get("interim", 0)):
            conn.send(http_wire.interim_reply())
        # A stalling link paces the rest with the rate alone: a receive buffer made small after the
        # connection is open shrinks the window so far that loopback barely moves at all.
        if effects.get("slow") and not (answer is not None and answer.kind == "stall_after"):
            conn.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, SLOW_RCVBUF)
        if chunked:
            body, complete = self._read_plain_body(conn, request)
        else:
            cut_kinds = ("drop_after", "stall_after")
            cut = answer.rule[answer.kind] if answer is not None and answer.kind in cut_kinds else None
            body, complete = conn.read_body(length, rate=effects.get("slow"), stop_after=cut)
        request.body = body
        if answer is not None and answer.kind == "stall_after":
            return self._stall(conn, request, servlet, answer, length, complete, result, effects.get("slow"))

        if not complete or (answer is not None and answer.kind == "drop_after"):
            # The connection ends here without a reply. What arrived intact of a picture is kept, as a
            # real server keeps it, so that the client's next offset query resumes after it.
            result["outcome"] = "dropped" if answer is not None and answer.kind == "drop_after" else "truncated"
            result["note"] = f"{len(body)} body bytes read"
            if servlet == "UploadImage" and (answer is None or answer.keep_partial):
                try:
                    reply = servlets.upload_image(core.context(self.server.name), request, truncated=not complete)
                    result["note"] += "; " + reply.note
                except servlets.ServletError as e:
                    result["note"] += f"; nothing stored: ErrCode {e.code}: {e.message}"
            return False

        if effects.get("delay"):
            conn.wait(effects.get("delay"))
        if answer is not None and answer.kind == "hang":
            result.update(outcome="hung", note=f"no reply for {answer.rule['hang']} s")
            conn.wait(answer.rule["hang"])
            return False

        reply = None
        if answer is None or answer.process:
            try:
                reply = servlets.SERVLETS[servlet](core.context(self.server.name), request)
            except servlets.ServletError as e:
                reply = servlets.Reply([("Status", "Error"), ("ErrCode", str(e.code)), ("ErrMsg", e.message)])
        status, reason, headers, fields = 200, None, [], []
        if answer is not None and answer.kind == "http":
            status, reason = answer.rule["http"], answer.rule.get("reason")
        elif answer is not None:
            fields = answer.reply_fields()
        else:
            fields, headers = reply.fields, reply.headers
        if reply is not None and answer is not None:
            headers = reply.headers  # a processed request keeps its cookie
        omit = set(effects.get("omit", ()))
        fields = [(name, value) for name, value in fields if name not in omit]
        body = servlets.reply_body(fields, effects.get("line_end", "\n"), not effects.get("no_final_lf", False))
        framing = effects.get("framing", "length")
        close = request.wants_close() or framing == "close"
        reply_fields = dict(fields)
        if status != 200:
            outcome = "http"
        else:
            outcome = "ok" if reply_fields.get("Status") == "OK" else "error"
        result.update(outcome=outcome, http_status=status, reply=reply_fields, note=reply.note if reply else None)
        # The client may read the state as soon as it has the reply: the log and the counters are
        # complete before it goes out.
        if entry is not None:
            core.answered(entry, conn, close)
            self._end_request(entry, servlet, request, result)
        conn.send(http_wire.build_reply(
            status, body, [("Content-Type", "text/plain")] + headers, framing=framing, close=close, reason=reason,
            chunk_size=effects.get("chunk_size"), chunk_ext=effects.get("chunk_ext", False),
            trailer=effects.get("trailer", False),
        ))
        return not close

    def _stall(self, conn, request, servlet, answer, length, complete, result, rate=None):
        """A link that delivers the first N body bytes and loses the rest: what arrived of a picture is
        stored at once, the rest of the body is read and thrown away, and no reply comes. The request
        stays in flight until the client gives up and closes the connection (or the read time-out
        ends it), so that a test can act on a transfer that is certainly under way. With a slow-link rate
        the rest is read at that rate too, so that the client is still reading its source meanwhile."""
        core = self.server.core
        kept = len(request.body)
        result.update(outcome="stalled", note=f"{kept} body bytes kept")
        if servlet == "UploadImage" and answer.keep_partial:
            try:
                reply = servlets.upload_image(core.context(self.server.name), request, truncated=not complete)
                result["note"] += "; " + reply.note
            except servlets.ServletError as e:
                result["note"] += f"; nothing stored: ErrCode {e.code}: {e.message}"
        try:
            if length is not None and kept < length:
                conn.read_body(length - kept, rate=rate)
            if not conn.wait_closed(core.read_timeout):
                result["note"] += "; closed by the read time-out"
        except (PeerGone, HttpError):
            pass
        return False


def _write_port_file(path, ports):
    directory = os.path.dirname(os.path.abspath(path))
    fd, temporary = tempfile.mkstemp(prefix=".port.", dir=directory)
    with os.fdopen(fd, "w") as f:
        f.write("".join(f"{port}\n" for port in ports))
    os.replace(temporary, path)


def _load_rules_file(path):
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    if isinstance(data, list):
        return data, {}
    if not isinstance(data, dict) or set(data) - {"rules", "settings"}:
        raise ControlError(f"{path}: expected a list of rules or an object with 'rules' and 'settings'")
    return data.get("rules", []), validate_settings(data.get("settings", {}))


def parse_args(argv):
    parser = argparse.ArgumentParser(description="Reference upload server (binds to 127.0.0.1 only).")
    parser.add_argument("--port", type=int, default=0, help="TCP port; 0 (default) picks a free one")
    parser.add_argument("--port-file", help="write the chosen port (and the second server's) to FILE")
    parser.add_argument("--store", help="folder for received pictures and index.json (default: a new temporary folder)")
    parser.add_argument("--stats", help="statistics log, one JSON line per message (default: STORE/stats.jsonl)")
    parser.add_argument("--second-server", nargs="?", const="auto", metavar="HOST:PORT",
                        help="answer GetImageID with a second server: alone, a second listener of this process; "
                             "with HOST:PORT, that server")
    parser.add_argument("--faults", metavar="FILE", help="JSON file: a list of fault rules, or {\"rules\": [...], \"settings\": {...}}")
    parser.add_argument("--fault", action="append", default=[], metavar="JSON", help="one fault rule (repeatable)")
    parser.add_argument("--auth-id", help="accept only this AuthenticationID (ErrCode 1 otherwise)")
    parser.add_argument("--no-cookie-check", action="store_true", help="do not require the upload cookie")
    parser.add_argument("--lenient-forms", action="store_true", help="accept raw punctuation and '+' in form bodies")
    parser.add_argument("--upload-server-name", help="the UploadServer answer of GetImageID")
    parser.add_argument("--basic-auth", metavar="USER:PASSWORD",
                        help="refuse servlet requests without these Basic credentials (401 with a challenge)")
    parser.add_argument("--basic-realm",
                        help=f"the realm of the Basic challenge (default {basic_auth.DEFAULT_REALM!r})")
    parser.add_argument("--idle-timeout", type=float, default=30.0, help="seconds a kept-alive connection may idle")
    parser.add_argument("--max-body", type=int, default=DEFAULT_MAX_BODY, help="largest request body in bytes")
    parser.add_argument("--quiet", action="store_true", help="no request log on standard error")
    args = parser.parse_args(argv)
    if args.second_server not in (None, "auto") and not re.fullmatch(r"[^\s:/]+:[0-9]{1,5}", args.second_server):
        parser.error(f"--second-server {args.second_server!r}: expected HOST:PORT")
    if args.basic_auth is not None and basic_auth.check_credentials(args.basic_auth):
        parser.error(f"--basic-auth: {basic_auth.check_credentials(args.basic_auth)}")
    if args.basic_realm is not None and basic_auth.check_realm(args.basic_realm):
        parser.error(f"--basic-realm: {basic_auth.check_realm(args.basic_realm)}")
    return args


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    store = args.store or tempfile.mkdtemp(prefix="refserver-")
    stats = args.stats or os.path.join(store, "stats.jsonl")
    try:
        rules, settings = _load_rules_file(args.faults) if args.faults else ([], {})
        rules = rules + [json.loads(text) for text in args.fault]
        FaultPlan.validate(rules)
    except (OSError, ValueError) as e:  # RuleError, ControlError and JSON errors are ValueErrors
        print(f"refserver: {e}", file=sys.stderr)
        return 2
    settings = dict(settings)
    if args.auth_id is not None:
        settings["auth_id"] = args.auth_id
    if args.no_cookie_check:
        settings["cookie_check"] = False
    if args.lenient_forms:
        settings["strict_forms"] = False
    if args.upload_server_name is not None:
        settings["upload_server_name"] = args.upload_server_name
    if args.basic_auth is not None:
        settings["basic_auth"] = args.basic_auth
    if args.basic_realm is not None:
        settings["basic_realm"] = args.basic_realm

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    server = RefServer(store, stats, port=args.port, second_server=args.second_server, settings=settings,
                       rules=rules, idle_timeout=args.idle_timeout, max_body=args.max_body,
                       log=None if args.quiet else sys.stderr)
    try:
        server.start()
    except OSError as e:
        print(f"refserver: cannot listen on {HOST}:{args.port}: {e}", file=sys.stderr)
        return 1
    ports = [server.port] + ([server.second_port] if server.second_port else [])
    if args.port_file:
        _write_port_file(args.port_file, ports)
    print(f"listening on {server.address()}", flush=True)
    if server.second_port:
        print(f"second server listening on {server.address('second')}", flush=True)
    print(f"store {server.store.root}", flush=True)
    while not stop.wait(0.5):
        pass
    server.stop()
    print("stopped", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
