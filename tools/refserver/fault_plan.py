"""Fault rules of the reference upload server: which request gets a wrong answer, a dropped connection,
a slow link or an unusual reply shape. Rules come from the command line, a JSON file or the control
endpoint, and may be replaced while the server runs; every handler thread asks the plan once per
servlet request, under the plan's lock.

A rule is a JSON object:
  "servlet"   the servlet it applies to, or "*" (default) for all four
  "times"     how many requests it applies to (absent: every request)
  "skip"      how many matching requests to let pass first (default 0)
and at most one answer:
  "error": N (+ "message")     Status=Error, ErrCode=N, ErrMsg=message
  "busy": true (+ "message")    the same with ErrCode 6
  "status": TEXT (+ "code", "message")   Status=TEXT with ErrCode=code (default 0)
  "http": STATUS (+ "reason")   that HTTP status with an empty body, no fields at all
  "drop_after": N (+ "keep_partial")     close the connection after N bytes of the request body
  "stall_after": N (+ "keep_partial")    keep N bytes of the request body at once, swallow the rest,
                                         and answer nothing until the client closes the connection
  "hang": SECONDS               read the request, answer nothing, close after SECONDS
  "process": true               with error/busy/status/http: handle the request for real first
and any of these reply shapes:
  "slow": BYTES_PER_SECOND      cap on reading the request body
  "interim": N                  N "HTTP/1.1 100 Continue" replies before the final one
  "framing": "length" | "chunked" | "close"   (+ "chunk_size", "chunk_ext", "trailer")
  "delay": SECONDS              wait before answering
  "omit": [NAMES]               leave these fields out of the reply
  "line_end": "\\n" | "\\r\\n"  what ends each reply line
  "no_final_lf": true           no line end after the last field

Rules are walked in order. The first rule that matches and still has requests left gives the answer;
each shape is taken from the first such rule that names it. A rule that gives something counts one
of its "times".
"""

import copy
import threading

SERVLETS = ("GetImageID", "GetImageOffset", "UploadImage", "UploadClientStats")

ANSWER_KEYS = ("error", "busy", "status", "http", "drop_after", "stall_after", "hang")
SHAPE_KEYS = ("slow", "interim", "framing", "delay", "omit", "line_end", "no_final_lf")
# Keys that only qualify another key of the same rule.
MODIFIER_KEYS = {
    "message": ("error", "busy", "status"),
    "code": ("status",),
    "reason": ("http",),
    "keep_partial": ("drop_after", "stall_after"),
    "process": ("error", "busy", "status", "http"),
    "chunk_size": ("framing",),
    "chunk_ext": ("framing",),
    "trailer": ("framing",),
}
RULE_KEYS = {"servlet", "times", "skip", *ANSWER_KEYS, *SHAPE_KEYS, *MODIFIER_KEYS}
FRAMINGS = ("length", "chunked", "close")
MAX_WAIT_SECONDS = 3600.0  # a hang or delay longer than this is a typing mistake


class RuleError(ValueError):
    """A rule that cannot be used; the text names the rule and the key."""


def _is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def _is_number(value):
    return (isinstance(value, (int, float))) and not isinstance(value, bool)


def _check_int(rule_no, rule, key, minimum, maximum=None):
    value = rule[key]
    if not _is_int(value) or value < minimum or (maximum is not None and value > maximum):
        bound = f"from {minimum} to {maximum}" if maximum is not None else f"of at least {minimum}"
        raise RuleError(f"rule {rule_no}: {key!r} must be an integer {bound}, not {value!r}")


def _check_seconds(rule_no, rule, key):
    value = rule[key]
    if not _is_number(value) or value < 0 or value > MAX_WAIT_SECONDS:
        raise RuleError(f"rule {rule_no}: {key!r} must be seconds from 0 to {MAX_WAIT_SECONDS:g}, not {value!r}")


def _check_bool(rule_no, rule, key):
    if not isinstance(rule[key], bool):
        raise RuleError(f"rule {rule_no}: {key!r} must be true or false, not {rule[key]!r}")


def _check_text(rule_no, rule, key):
    value = rule[key]
    if not isinstance(value, str) or "\n" in value or "\r" in value:
        raise RuleError(f"rule {rule_no}: {key!r} must be one line of text, not {value!r}")


def validate_rule(rule_no, rule):
    """Raises RuleError unless `rule` is a usable rule; returns it unchanged."""
    if not isinstance(rule, dict):
        raise RuleError(f"rule {rule_no}: must be a JSON object, not {rule!r}")
    unknown = sorted(set(rule) - RULE_KEYS)
    if unknown:
        raise RuleError(f"rule {rule_no}: unknown key(s) {', '.join(map(repr, unknown))}")
    servlet = rule.get("servlet", "*")
    if servlet != "*" and servlet not in SERVLETS:
        raise RuleError(f"rule {rule_no}: 'servlet' must be one of {', '.join(SERVLETS)} or '*', not {servlet!r}")
    answers = [k for k in ANSWER_KEYS if k in rule]
    if len(answers) > 1:
        raise RuleError(f"rule {rule_no}: at most one answer per rule, found {', '.join(answers)}")
    if not answers and not any(k in rule for k in SHAPE_KEYS):
        raise RuleError(f"rule {rule_no}: names no answer ({', '.join(ANSWER_KEYS)}) and no reply shape")
    for key, owners in MODIFIER_KEYS.items():
        if key in rule and not any(owner in rule for owner in owners):
            raise RuleError(f"rule {rule_no}: {key!r} needs one of {', '.join(owners)} in the same rule")

    if "times" in rule:
        _check_int(rule_no, rule, "times", 1)
    if "skip" in rule:
        _check_int(rule_no, rule, "skip", 0)
    if "error" in rule:
        # 0 is what a missing ErrCode reads as; an error answer with it is the "status" answer.
        _check_int(rule_no, rule, "error", -(2**31), 2**31 - 1)
        if rule["error"] == 0:
            raise RuleError(f"rule {rule_no}: 'error' must not be 0; use 'status' for a non-OK status with ErrCode 0")
    if "busy" in rule and rule["busy"] is not True:
        raise RuleError(f"rule {rule_no}: 'busy' must be true")
    if "status" in rule:
        _check_text(rule_no, rule, "status")
        if rule["status"] == "OK":
            raise RuleError(f"rule {rule_no}: 'status' must not be \"OK\"")
    if "code" in rule:
        _check_int(rule_no, rule, "code", -(2**31), 2**31 - 1)
    if "message" in rule:
        _check_text(rule_no, rule, "message")
    if "http" in rule:
        _check_int(rule_no, rule, "http", 200, 599)
    if "reason" in rule:
        _check_text(rule_no, rule, "reason")
    if "drop_after" in rule:
        _check_int(rule_no, rule, "drop_after", 0)
    if "stall_after" in rule:
        _check_int(rule_no, rule, "stall_after", 0)
    if "hang" in rule:
        _check_seconds(rule_no, rule, "hang")
    for key in ("keep_partial", "process", "no_final_lf", "chunk_ext", "trailer"):
        if key in rule:
            _check_bool(rule_no, rule, key)
    if "slow" in rule:
        _check_int(rule_no, rule, "slow", 1)
    if "interim" in rule:
        _check_int(rule_no, rule, "interim", 0, 100)
    if "framing" in rule and rule["framing"] not in FRAMINGS:
        raise RuleError(f"rule {rule_no}: 'framing' must be one of {', '.join(FRAMINGS)}, not {rule['framing']!r}")
    if "chunk_size" in rule:
        _check_int(rule_no, rule, "chunk_size", 1)
    if "delay" in rule:
        _check_seconds(rule_no, rule, "delay")
    if "omit" in rule:
        omit = rule["omit"]
        if not isinstance(omit, list) or not all(isinstance(n, str) for n in omit):
            raise RuleError(f"rule {rule_no}: 'omit' must be a list of field names, not {omit!r}")
    if "line_end" in rule and rule["line_end"] not in ("\n", "\r\n"):
        raise RuleError(f"rule {rule_no}: 'line_end' must be \"\\n\" or \"\\r\\n\", not {rule['line_end']!r}")
    return rule


class Answer:
    """The answer one rule gives to one request."""

    def __init__(self, rule):
        self.kind = next(k for k in ANSWER_KEYS if k in rule)
        self.process = rule.get("process", False)
        self.keep_partial = rule.get("keep_partial", True)
        self.rule = rule

    def reply_fields(self):
        """The fields of an error/busy/status answer, in reply order."""
        rule = self.rule
        if self.kind == "busy":
            return [("Status", "Error"), ("ErrCode", "6"), ("ErrMsg", rule.get("message", "server busy"))]
        if self.kind == "error":
            code = rule["error"]
            return [("Status", "Error"), ("ErrCode", str(code)), ("ErrMsg", rule.get("message", f"injected error {code}"))]
        code = rule.get("code", 0)
        return [("Status", rule["status"]), ("ErrCode", str(code)), ("ErrMsg", rule.get("message", f"injected status {rule['status']}"))]


class Effects:
    """What the plan decided for one request: at most one answer and a set of reply shapes."""

    def __init__(self):
        self.answer = None
        self.shape = {}
        self.rules = []  # numbers of the rules that contributed, for the request log

    def get(self, key, default=None):
        return self.shape.get(key, default)

    def describe(self):
        parts = []
        if self.answer is not None:
            parts.append(f"{self.answer.kind}={self.answer.rule[self.answer.kind]!r}")
        parts.extend(f"{k}={v!r}" for k, v in sorted(self.shape.items()))
        return " ".join(parts)


class _LiveRule:
    def __init__(self, number, rule):
        self.number = number
        self.rule = copy.deepcopy(rule)
        self.times_left = rule.get("times")
        self.skip_left = rule.get("skip", 0)
        self.applied = 0

    def matches(self, servlet):
        wanted = self.rule.get("servlet", "*")
        return (wanted == "*" or wanted == servlet) and (self.times_left is None or self.times_left > 0)

    def as_json(self):
        return {"rule": self.rule, "times_left": self.times_left, "skip_left": self.skip_left, "applied": self.applied}


class FaultPlan:
    """The current rules. Handler threads call Take; the control endpoint replaces and reads the rules.
    `_lock` guards `_rules` and every counter in them."""

    def __init__(self):
        self._lock = threading.Lock()
        self._rules = []
        self._next_number = 1

    @staticmethod
    def validate(rules):
        if not isinstance(rules, list):
            raise RuleError(f"rules must be a JSON list, not {rules!r}")
        for index, rule in enumerate(rules, 1):
            validate_rule(index, rule)
        return rules

    def replace(self, rules):
        self.validate(rules)
        with self._lock:
            self._rules = []
            self._append_locked(rules)

    def add(self, rules):
        self.validate(rules)
        with self._lock:
            self._append_locked(rules)

    def _append_locked(self, rules):
        for rule in rules:
            self._rules.append(_LiveRule(self._next_number, rule))
            self._next_number += 1

    def take(self, servlet):
        effects = Effects()
        with self._lock:
            for live in self._rules:
                if not live.matches(servlet):
                    continue
                if live.skip_left > 0:
                    live.skip_left -= 1
                    continue
                gave = False
                rule = live.rule
                if effects.answer is None and any(k in rule for k in ANSWER_KEYS):
                    effects.answer = Answer(rule)
                    gave = True
                for key in SHAPE_KEYS:
                    if key in rule and key not in effects.shape:
                        effects.shape[key] = rule[key]
                        if key == "framing":
                            for extra in ("chunk_size", "chunk_ext", "trailer"):
                                if extra in rule:
                                    effects.shape[extra] = rule[extra]
                        gave = True
                if gave:
                    live.applied += 1
                    effects.rules.append(live.number)
                    if live.times_left is not None:
                        live.times_left -= 1
        return effects

    def as_json(self):
        with self._lock:
            return [dict(live.as_json(), number=live.number) for live in self._rules]
