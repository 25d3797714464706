#!/usr/bin/env python3
"""A scripted HTTP peer for the response reader's tests: replays exact byte sequences.

Reads a JSON script from standard input, listens on 127.0.0.1 on a free port, prints the port on
standard output, then serves one connection per entry of "connections", in order, and exits.

Script: {"connections": [[action, ...], ...]}. Actions, run in order on the connection:
  {"send": TEXT}                      sends TEXT (each character one byte, code points 0-255)
  {"send": TEXT, "piece": N, "gap": S} the same in pieces of N bytes with S seconds between them
  {"pause": S}                        waits S seconds
  {"drain": true}                     reads until the peer closes
  {"reset": true}                     ends the connection with a reset instead of a close
A connection whose actions end without a reset is closed in the orderly way. The request, if the
client sends one, is read and ignored.
"""
import json
import socket
import struct
import sys
import threading
import time


def drain_in_background(conn):
    def run():
        try:
            while conn.recv(4096):
                pass
        except OSError:
            pass

    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    return thread


def serve(conn, actions):
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    reader = None
    for action in actions:
        if "send" in action:
            data = action["send"].encode("latin-1")
            piece = action.get("piece", 0) or max(1, len(data))
            gap = action.get("gap", 0)
            for start in range(0, len(data), piece):
                if start and gap:
                    time.sleep(gap)
                conn.sendall(data[start:start + piece])
        elif "pause" in action:
            time.sleep(action["pause"])
        elif action.get("drain"):
            reader = reader or drain_in_background(conn)
            reader.join()
        elif action.get("reset"):
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            conn.close()
            return
    try:
        conn.shutdown(socket.SHUT_WR)
        # Let the client read to the end before the socket goes, so that the close is orderly.
        reader = reader or drain_in_background(conn)
        reader.join(timeout=10)
    except OSError:
        pass
    conn.close()


def main():
    script = json.load(sys.stdin)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)
    for actions in script["connections"]:
        conn, _ = listener.accept()
        serve(conn, actions)
    listener.close()


if __name__ == "__main__":
    main()
