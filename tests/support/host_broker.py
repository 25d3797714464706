#!/usr/bin/env python3
"""Starts Linux programs for tests that run under Wine, which cannot start and wait for them itself.

    host_broker.py [--port N] [--port-file PATH]

Listens on 127.0.0.1 only (port N, or one of the system's choosing) and, once it accepts, writes N
to PATH, or without --port-file prints "port N" as its first line of standard output. It runs until it is
terminated; every child it started goes with it.

One TCP connection per request, each message one line of JSON (UTF-8, ending in "\\n"):

  Start a child (the connection then belongs to it):
    -> {"argv": [...], "env": {"NAME": "value" or null}, "stdout": path or null,
        "stderr": path or null, "stdin": path or null}
    <- {"started": true, "pid": n}  or  {"started": false, "error": "..."}
  "env" changes the broker's own environment (a null removes the variable); "stdout" and "stderr"
  name files made anew, the same path for both takes them together; "stdin" names a file to read
  (without it the child reads nothing). The child runs in a process
  group of its own. After that, each of these lines
    -> "state"            (a bare word; the JSON string "state" works too)
    -> "wait SECONDS"     (waits up to SECONDS, negative for ever)
    -> "stop SECONDS"     (SIGTERM to the group, waits up to SECONDS, then SIGKILL)
    -> "kill"             (SIGKILL to the group and waits)
  is answered with
    <- {"state": "running" | "exited" | "killed", "code": n}
  where code is the exit status when "exited" and -1 otherwise. When the connection closes, the
  child's group is killed and the child reaped, so no test leaves a process behind.

  Find a program:
    -> {"which": name, "folders": [...]}
    <- {"path": "/usr/bin/name"}   ("" when none is found)
  A name with a "/" is checked as it is; a bare name is looked up in the broker's PATH, then in the
  folders.

  Translate a path:
    -> {"translate": path}
    <- {"path": "/unix/path"}

Paths: Windows paths ("C:\\users\\...", "z:/tmp/...") in argv, env values, stdout, stderr, "which"
and "translate" become Unix paths through $WINEPREFIX/dosdevices (default ~/.wine); a path that
already starts with "/" stays as it is (Wine opens "/tmp/x" as the Unix file too). An argument is
translated when it is a Windows path as a whole, or when the part after its first "=" is one
("--file=C:\\x").
"""

import argparse
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

CHILDREN = set()  # every child still to be reaped, for the broker's own end
CHILDREN_LOCK = threading.Lock()
_DRIVE_PATH = re.compile(r"^([A-Za-z]):[\\/]")


def dosdevices():
    prefix = os.environ.get("WINEPREFIX") or os.path.join(os.path.expanduser("~"), ".wine")
    return os.path.join(prefix, "dosdevices")


def translate(path):
    """The Unix path of a Windows path; anything else as it is."""
    if not isinstance(path, str):
        return path
    match = _DRIVE_PATH.match(path)
    if not match:
        return path
    drive = os.path.realpath(os.path.join(dosdevices(), match.group(1).lower() + ":"))
    rest = path[3:].replace("\\", "/")
    return os.path.join(drive, rest) if rest else drive


def translate_argument(argument):
    if _DRIVE_PATH.match(argument):
        return translate(argument)
    name, equals, value = argument.partition("=")
    if equals and _DRIVE_PATH.match(value):
        return name + "=" + translate(value)
    return argument


def which(name, folders):
    name = translate(name)
    if "/" in name:
        return name if os.path.isfile(name) and os.access(name, os.X_OK) else ""
    found = shutil.which(name)
    if found:
        return found
    for folder in folders or []:
        candidate = os.path.join(translate(folder), name)
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    return ""


class Child:
    def __init__(self, request):
        argv = [translate_argument(str(a)) for a in request.get("argv") or []]
        if not argv:
            raise ValueError("no program")
        argv[0] = translate(argv[0])
        environment = dict(os.environ)
        for name, value in (request.get("env") or {}).items():
            if value is None:
                environment.pop(name, None)
            else:
                environment[name] = translate_argument(str(value))
        out_path = translate(request.get("stdout"))
        err_path = translate(request.get("stderr"))
        in_path = translate(request.get("stdin"))
        opened = []
        try:
            stdin = subprocess.DEVNULL
            if in_path:
                stdin = open(in_path, "rb")
                opened.append(stdin)
            stdout = stderr = None
            if out_path:
                stdout = open(out_path, "wb")
                opened.append(stdout)
            if err_path and err_path == out_path:
                stderr = subprocess.STDOUT
            elif err_path:
                stderr = open(err_path, "wb")
                opened.append(stderr)
            self.process = subprocess.Popen(argv, env=environment, stdin=stdin,
                                            stdout=stdout, stderr=stderr, start_new_session=True)
        finally:
            for f in opened:
                f.close()
        self.killed = False

    def signal_group(self, number):
        if self.process.poll() is not None:
            return
        try:
            os.killpg(self.process.pid, number)
        except ProcessLookupError:
            pass

    def wait(self, seconds, connection=None):
        """Waits for the child, in slices so that a client gone meanwhile is noticed."""
        deadline = None if seconds < 0 else time.monotonic() + seconds
        while self.process.poll() is None:
            left = 0.1 if deadline is None else min(0.1, deadline - time.monotonic())
            if left <= 0:
                return
            if connection is not None and client_gone(connection):
                self.kill()
                return
            try:
                self.process.wait(left)
            except subprocess.TimeoutExpired:
                pass

    def state(self):
        code = self.process.poll()
        if code is None:
            return {"state": "running", "code": -1}
        if code < 0 or self.killed:
            return {"state": "killed", "code": -1}
        return {"state": "exited", "code": code}

    def stop(self, seconds):
        if self.process.poll() is None:
            self.killed = True
            self.signal_group(signal.SIGTERM)
            self.wait(seconds)
        self.kill()

    def kill(self):
        if self.process.poll() is None:
            self.killed = True
            self.signal_group(signal.SIGKILL)
            self.process.wait()
        # Whatever the child left in its group goes too.
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass


def client_gone(connection):
    readable, _, _ = select.select([connection], [], [], 0)
    if not readable:
        return False
    try:
        return connection.recv(1, socket.MSG_PEEK) == b""
    except OSError:
        return True


def send(connection, message):
    connection.sendall((json.dumps(message) + "\n").encode())


def serve(connection):
    child = None
    try:
        reader = connection.makefile("rb")
        line = reader.readline()
        if not line:
            return
        request = json.loads(line)
        if "which" in request:
            send(connection, {"path": which(str(request["which"]), request.get("folders"))})
            return
        if "translate" in request:
            send(connection, {"path": translate(str(request["translate"]))})
            return
        try:
            child = Child(request)
        except (OSError, ValueError) as error:
            send(connection, {"started": False, "error": str(error)})
            return
        with CHILDREN_LOCK:
            CHILDREN.add(child)
        send(connection, {"started": True, "pid": child.process.pid})
        for line in reader:
            words = line.decode(errors="replace").strip().strip('"').split()
            if not words:
                continue
            seconds = float(words[1]) if len(words) > 1 else 10.0
            if words[0] == "wait":
                child.wait(seconds, connection)
            elif words[0] == "stop":
                child.stop(seconds)
            elif words[0] == "kill":
                child.kill()
            send(connection, child.state())
    except (OSError, ValueError) as error:
        sys.stderr.write("host_broker: %s\n" % error)
    finally:
        if child is not None:
            child.kill()
            with CHILDREN_LOCK:
                CHILDREN.discard(child)
        connection.close()


def main():
    parser = argparse.ArgumentParser(description="Starts Linux programs for tests under Wine.")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    options = parser.parse_args()

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", options.port))
    listener.listen(64)
    port = listener.getsockname()[1]
    if options.port_file:
        with open(options.port_file + ".part", "w") as f:
            f.write("%d\n" % port)
        os.replace(options.port_file + ".part", options.port_file)
    else:
        print("port %d" % port, flush=True)

    # Terminated, the broker ends its children first.
    def finish(number, frame):
        with CHILDREN_LOCK:
            children = list(CHILDREN)
        for child in children:
            child.signal_group(signal.SIGKILL)
        for child in children:
            child.process.wait()
        os._exit(0)

    signal.signal(signal.SIGTERM, finish)
    signal.signal(signal.SIGINT, finish)

    while True:
        connection, _ = listener.accept()
        threading.Thread(target=serve, args=(connection,), daemon=True).start()


if __name__ == "__main__":
    main()
