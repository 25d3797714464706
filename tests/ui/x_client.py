#!/usr/bin/python3
"""Another X client for the toolkit's GUI tests.

  x_client.py drag X Y PATH...   a window at (X, Y) that offers the paths as text/uri-list when
                                 dragged from; it ends when the drag ends (or after 30 s)
  x_client.py clipboard TEXT     owns the clipboard with TEXT; prints "ready" once it does and
                                 serves it until it is terminated (or for 30 s)
"""

import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gio, Gtk  # noqa: E402


def drag(x, y, paths):
    uris = [Gio.File.new_for_path(p).get_uri() for p in paths]
    window = Gtk.Window(title="drag source")
    window.set_default_size(120, 120)
    window.move(x, y)
    area = Gtk.EventBox()
    area.add(Gtk.Label(label="drag me"))
    window.add(area)
    area.drag_source_set(Gdk.ModifierType.BUTTON1_MASK, [Gtk.TargetEntry.new("text/uri-list", 0, 0)],
                         Gdk.DragAction.COPY)

    def on_data_get(widget, context, selection, info, time):
        selection.set_uris(uris)

    area.connect("drag-data-get", on_data_get)
    area.connect("drag-end", lambda *args: GLib.timeout_add(200, Gtk.main_quit))
    window.connect("destroy", Gtk.main_quit)
    window.show_all()


def clipboard(text):
    board = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)
    board.set_text(text, -1)
    # Round trip through the server, so that the selection is ours before the test is told.
    while Gtk.events_pending():
        Gtk.main_iteration()
    print("ready", flush=True)


def main(argv):
    if len(argv) >= 4 and argv[0] == "drag":
        drag(int(argv[1]), int(argv[2]), argv[3:])
    elif len(argv) == 2 and argv[0] == "clipboard":
        clipboard(argv[1])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    GLib.timeout_add_seconds(30, Gtk.main_quit)
    Gtk.main()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
