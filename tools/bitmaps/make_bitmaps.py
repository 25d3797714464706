#!/usr/bin/env python3
"""Bitmap generator: draws the module's bitmaps from the SVG descriptions below and writes each one as
a 24-bit bitmap file (bitmap_<id>.bmp) for the resource compiler.

Every bitmap is SVG text made by a small function of this file, rendered with rsvg-convert (librsvg)
in the fonts of the build machine (DejaVu). Two kinds:

  picture   drawn as it is shown, on the background it is shown on;
  template  a button drawn as three coverage layers, each rendered white on black and stored in one
            channel: green the body, red the label, blue the drop shadow. The toolkit colours it in the
            host page's button colours at run time.

Usage: make_bitmaps.py --output DIR [--preview DIR]   (--preview also writes PNG files to look at)
"""

import argparse
import os
import struct
import subprocess
import sys
import tempfile
import zlib

FONT = "DejaVu Sans"

# ---------------------------------------------------------------------------------------------------
# Rendering: SVG -> RGB rows, and 24-bit bitmap files.


class BitmapError(Exception):
    pass


def decode_png(data):
    """8-bit RGB or RGBA, non-interlaced PNG (what rsvg-convert writes) -> (width, height, rows of
    (r, g, b, a) tuples)."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise BitmapError("not a PNG")
    pos = 8
    idat = b""
    width = height = None
    channels = 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace:
                raise BitmapError(f"unsupported PNG (depth {depth}, colour type {colour})")
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    raw = zlib.decompress(idat)
    stride = width * channels
    rows = []
    previous = bytearray(stride)
    at = 0
    for _ in range(height):
        kind = raw[at]
        line = bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + ((left + up) >> 1)) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + predictor) & 0xFF
        previous = line
        if channels == 3:
            rows.append([(line[i], line[i + 1], line[i + 2], 255) for i in range(0, stride, 3)])
        else:
            rows.append([tuple(line[i:i + 4]) for i in range(0, stride, 4)])
    return width, height, rows


def render_svg(svg, width, height):
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "in.svg")
        target = os.path.join(folder, "out.png")
        with open(source, "w", encoding="utf-8") as f:
            f.write(svg)
        subprocess.run(["rsvg-convert", "--width", str(width), "--height", str(height), "--output", target,
                        source], check=True)
        with open(target, "rb") as f:
            w, h, rows = decode_png(f.read())
    if (w, h) != (width, height):
        raise BitmapError(f"rendered {w} x {h}, expected {width} x {height}")
    return rows


def flatten(rows, background):
    """RGBA rows composed over an opaque background -> RGB rows."""
    out = []
    for row in rows:
        line = []
        for r, g, b, a in row:
            line.append(tuple((c * a + k * (255 - a) + 127) // 255 for c, k in zip((r, g, b), background)))
        out.append(line)
    return out


def encode_bmp(rows):
    """RGB rows, top first -> a 24-bit bottom-up bitmap file, 1000 pixels per metre."""
    height = len(rows)
    width = len(rows[0])
    row_bytes = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (row_bytes - len(line))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 1000, 1000, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + bytes(pixels)


def encode_png(rows):
    height = len(rows)
    width = len(rows[0])
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# ---------------------------------------------------------------------------------------------------
# SVG helpers.


def svg(width, height, body, background=None):
    fill = f'<rect width="{width}" height="{height}" fill="{background}"/>' if background else ""
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
            f'viewBox="0 0 {width} {height}">{fill}{body}</svg>')


def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def text(x, y, words, size, fill, weight="normal", anchor="start", extra=""):
    return (f'<text x="{x}" y="{y}" font-family="{FONT}" font-size="{size}" font-weight="{weight}" '
            f'fill="{fill}" text-anchor="{anchor}" {extra}>{escape(words)}</text>')


def blur_filter(name, deviation):
    return (f'<defs><filter id="{name}" x="-20%" y="-20%" width="140%" height="140%">'
            f'<feGaussianBlur stdDeviation="{deviation}"/></filter></defs>')


def stack(width, state_height, states):
    """SVG groups for states drawn one below the other (normal, hover or pressed, disabled)."""
    return "".join(f'<g transform="translate(0 {i * state_height})">{body}</g>' for i, body in enumerate(states))


# ---------------------------------------------------------------------------------------------------
# Button templates: body, label and shadow coverage.

BUTTON_HEIGHT = 28


def button_template(label, width, height=BUTTON_HEIGHT):
    """Three layers of a rounded button: the body leaves 3 pixels at the right and bottom for the
    shadow, which lies 2 pixels down and right of the body, softened."""
    bw, bh = width - 4, height - 4
    body = f'<rect x="1" y="1" width="{bw}" height="{bh}" rx="7" ry="7" fill="white"/>'
    label_layer = text(1 + bw / 2, 1 + bh / 2 + 4.5, label, 12.5, "white", weight="bold", anchor="middle")
    shadow = (blur_filter("soft", 0.9) +
              f'<rect x="3" y="3" width="{bw}" height="{bh}" rx="7" ry="7" fill="white" '
              f'fill-opacity="0.6" filter="url(#soft)"/>')
    return {"body": body, "label": label_layer, "shadow": shadow}


# ---------------------------------------------------------------------------------------------------
# Pictures of the upload list.

LIST_BACKGROUND = "#eeeeee"  # the host page's default background around the list
WHITE = "#ffffff"


def sort_arrow(up, colour):
    points = "1,6 5.5,1.5 10,6" if up else "1,1.5 5.5,6 10,1.5"
    return svg(11, 8, f'<polygon points="{points}" fill="{colour}"/>', WHITE)


def empty_list_picture():
    # Soft overlapping circles, the paler the further from the middle, as a quiet backdrop for an
    # empty list.
    circles = [
        (228, 84, 70, "#dfe7f3"), (150, 70, 46, "#e6edf6"), (306, 96, 52, "#e3eaf5"),
        (88, 104, 34, "#edf1f8"), (372, 62, 38, "#ebf0f7"), (40, 56, 22, "#f2f5fa"),
        (420, 118, 26, "#f0f3f9"), (196, 138, 24, "#e9eff7"), (268, 30, 20, "#edf2f8"),
        (128, 18, 14, "#f3f6fb"), (340, 150, 16, "#f1f4fa"), (18, 140, 12, "#f5f7fb"),
    ]
    body = "".join(f'<circle cx="{x}" cy="{y}" r="{r}" fill="{c}" fill-opacity="0.9"/>' for x, y, r, c in circles)
    rings = "".join(f'<circle cx="{x}" cy="{y}" r="{r + 6}" fill="none" stroke="#e4ebf5" stroke-width="1.5"/>'
                    for x, y, r, _ in circles[:3])
    return svg(456, 168, body + rings, WHITE)


def drop_hint():
    lines = ["You can also Drag and Drop pictures from a", "folder on your computer into the area above."]
    body = (text(0, 12, lines[0], 10.2, "#555555", extra='textLength="236" lengthAdjust="spacingAndGlyphs"') +
            text(0, 26, lines[1], 10.2, "#555555", extra='textLength="236" lengthAdjust="spacingAndGlyphs"'))
    return svg(238, 31, body, LIST_BACKGROUND)


def gear(cx, cy, r, colour):
    teeth = "".join(
        f'<rect x="{cx - 1.4}" y="{cy - r - 1.6}" width="2.8" height="3.4" fill="{colour}" '
        f'transform="rotate({angle} {cx} {cy})"/>' for angle in range(0, 360, 45))
    return (teeth + f'<circle cx="{cx}" cy="{cy}" r="{r}" fill="{colour}"/>'
            f'<circle cx="{cx}" cy="{cy}" r="{r * 0.42}" fill="{LIST_BACKGROUND}"/>')


def preferences_link(icon, words):
    body = gear(8, 9, 4.6, icon) + text(18, 13, "Preferences", 11.5, words, extra='text-decoration="underline"')
    return svg(92, 18, body, LIST_BACKGROUND)


# ---------------------------------------------------------------------------------------------------
# Pictures of the completion dialog (white).


def banner(title, colour, accent):
    body = (text(2, 33, title, 24, colour, weight="bold") +
            f'<rect x="0" y="46" width="340" height="3" fill="{accent}"/>'
            f'<rect x="0" y="49" width="340" height="1" fill="#ffffff"/>')
    return svg(340, 56, body, WHITE)


def status_icon(kind):
    if kind == "error":
        mark = ('<rect x="21.5" y="11" width="5" height="18" rx="2.5" fill="white"/>'
                '<circle cx="24" cy="35" r="3" fill="white"/>')
        top, bottom = "#e0483e", "#b3241c"
    else:
        mark = ('<polyline points="13,25 21,33 35,15" fill="none" stroke="white" stroke-width="5" '
                'stroke-linecap="round" stroke-linejoin="round"/>')
        top, bottom = "#4cbb4a", "#2a8a2c"
    body = (f'<defs><linearGradient id="g" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="{top}"/>'
            f'<stop offset="1" stop-color="{bottom}"/></linearGradient></defs>' + blur_filter("s", 1.2) +
            '<circle cx="25" cy="26" r="21" fill="#000000" fill-opacity="0.25" filter="url(#s)"/>'
            '<circle cx="24" cy="24" r="21" fill="url(#g)"/>'
            '<ellipse cx="24" cy="13" rx="14" ry="7" fill="white" fill-opacity="0.18"/>' + mark)
    return svg(48, 48, body, WHITE)


# ---------------------------------------------------------------------------------------------------
# Pictures of the picture browser.

DIALOG = "#f6f5f4"  # the dialog's face
BLUE = "#2a62b8"
GREY = "#a7a7a7"


def tool_states(width, height, icon):
    """Normal, hover (a raised face behind the icon) and disabled (greyed) looks of a toolbar button."""
    face = (f'<rect x="0.5" y="0.5" width="{width - 1}" height="{height - 1}" rx="4" fill="#ffffff" '
            f'stroke="#b9c6da"/>')
    return stack(width, height, [icon(BLUE), face + icon("#1b4f9c"), icon(GREY)])


def arrow_icon(direction):
    def draw(colour):
        shaft = {"left": "M26,15 H12", "up": "M18,23 V9"}[direction]
        head = {"left": "M17,9 L11,15 L17,21", "up": "M12,14 L18,8 L24,14"}[direction]
        return (f'<path d="{shaft}" stroke="{colour}" stroke-width="3.2" stroke-linecap="round" fill="none"/>'
                f'<path d="{head}" stroke="{colour}" stroke-width="3.2" stroke-linecap="round" '
                f'stroke-linejoin="round" fill="none"/>')
    return draw


def open_icon(colour):
    return (f'<path d="M7,9 H14 L16,11 H27 V23 H7 Z" fill="{colour}" fill-opacity="0.25" stroke="{colour}" '
            f'stroke-width="1.6" stroke-linejoin="round"/>'
            f'<path d="M7,23 L10,14 H30 L27,23 Z" fill="{colour}" stroke="{colour}" stroke-width="1.2" '
            f'stroke-linejoin="round"/>')


def thumbnails_icon(colour):
    cells = "".join(f'<rect x="{x}" y="{y}" width="7" height="7" rx="1" fill="{colour}"/>'
                    for x in (10, 19) for y in (7, 16))
    return cells + f'<path d="M30,12 L33,16 L36,12" fill="none" stroke="{colour}" stroke-width="1.6"/>'


def details_icon(colour):
    rows = "".join(f'<rect x="10" y="{y}" width="3" height="3" fill="{colour}"/>'
                   f'<rect x="15" y="{y}" width="11" height="3" fill="{colour}"/>' for y in (8, 13.5, 19))
    return rows + f'<path d="M30,12 L33,16 L36,12" fill="none" stroke="{colour}" stroke-width="1.6"/>'


def separator_vertical():
    return svg(2, 22, '<rect x="0" y="0" width="1" height="22" fill="#b8b8b8"/>'
               '<rect x="1" y="0" width="1" height="22" fill="#ffffff"/>', DIALOG)


def separator_horizontal():
    return svg(600, 2, '<rect x="0" y="0" width="600" height="1" fill="#c4c4c4"/>'
               '<rect x="0" y="1" width="600" height="1" fill="#ffffff"/>', DIALOG)


def drop_down_arrow():
    body = ('<rect x="0.5" y="0.5" width="16" height="19" rx="2" fill="#fbfbfb" stroke="#b6b6b6"/>'
            '<path d="M4.5,8 L8.5,12.5 L12.5,8" fill="none" stroke="#404040" stroke-width="1.8" '
            'stroke-linecap="round" stroke-linejoin="round"/>')
    return svg(17, 20, body, WHITE)


def label_picture(words, width):
    return svg(width, 18, text(0, 13, words, 11.5, "#222222", weight="bold"), DIALOG)


def link_states(words, width):
    def look(colour, underline=True):
        decoration = 'text-decoration="underline"' if underline else ""
        return text(1, 13, words, 11.5, colour, extra=decoration)
    return stack(width, 18, [look(BLUE), look("#c0392b"), look(GREY, underline=False)])


def push_states(words, width, top, bottom, ink, border):
    """A finished button, normal and pressed (darker, its label one pixel lower)."""
    def look(pressed):
        shade = (bottom, top) if pressed else (top, bottom)
        name = "p" if pressed else "n"
        shift = 1 if pressed else 0
        return (f'<defs><linearGradient id="{name}" x1="0" y1="0" x2="0" y2="1">'
                f'<stop offset="0" stop-color="{shade[0]}"/><stop offset="1" stop-color="{shade[1]}"/>'
                f'</linearGradient></defs>'
                f'<rect x="0.5" y="0.5" width="{width - 1}" height="27" rx="6" fill="url(#{name})" '
                f'stroke="{border}"/>' +
                text(width / 2, 18.5 + shift, words, 12, ink, weight="bold", anchor="middle"))
    return stack(width, 28, [look(False), look(True)])


def cell_frame():
    body = (blur_filter("s", 1.3) +
            '<rect x="3" y="3" width="98" height="103" rx="9" fill="#000000" fill-opacity="0.22" '
            'filter="url(#s)"/>'
            '<rect x="1.5" y="1.5" width="99" height="104" rx="9" fill="#ffffff" stroke="#c9cfd8"/>')
    return svg(104, 109, body, WHITE)


def tick_box(ticked):
    body = '<rect x="0.5" y="0.5" width="12" height="12" rx="2" fill="#ffffff" stroke="#7a8899"/>'
    if ticked:
        body += ('<polyline points="3,6.5 5.5,9.2 10,3.6" fill="none" stroke="#1f7a3a" stroke-width="2.1" '
                 'stroke-linecap="round" stroke-linejoin="round"/>')
    return svg(13, 13, body, WHITE)


# ---------------------------------------------------------------------------------------------------
# The table: id -> (kind, width, height, background, source). Sizes that the views lay out with are
# fixed by them (the empty-list picture, the hint, the cell frame).

def pictures():
    table = {}

    def picture(ident, width, height, background, source):
        table[ident] = ("picture", width, height, background, source)

    def template(ident, label, width):
        table[ident] = ("template", width, BUTTON_HEIGHT, None, button_template(label, width))

    # Upload list: button templates, sort arrows, the empty list, the hint, the Preferences link.
    template(113, "Remove", 96)
    template(116, "Pause", 96)
    template(119, "Resume", 96)
    template(137, "Start", 96)
    template(146, "Retry", 96)
    template(122, "Choose pictures...", 156)
    picture(132, 11, 8, (255, 255, 255), sort_arrow(True, "#333333"))
    picture(133, 11, 8, (255, 255, 255), sort_arrow(False, "#333333"))
    picture(134, 11, 8, (255, 255, 255), sort_arrow(True, "#9a9a9a"))
    picture(135, 11, 8, (255, 255, 255), sort_arrow(False, "#9a9a9a"))
    picture(139, 456, 168, (255, 255, 255), empty_list_picture())
    picture(201, 238, 31, (0xee, 0xee, 0xee), drop_hint())
    picture(191, 92, 18, (0xee, 0xee, 0xee), preferences_link("#9a9a9a", "#9a9a9a"))
    picture(192, 92, 18, (0xee, 0xee, 0xee), preferences_link("#9b1c1c", "#1a3fb0"))
    picture(193, 92, 18, (0xee, 0xee, 0xee), preferences_link("#f08cb4", "#7fb2f0"))

    # Completion dialog: icons, banners, buttons.
    picture(194, 48, 48, (255, 255, 255), status_icon("error"))
    picture(195, 340, 56, (255, 255, 255), banner("Upload incomplete", "#b3241c", "#e0483e"))
    picture(196, 48, 48, (255, 255, 255), status_icon("ok"))
    picture(197, 340, 56, (255, 255, 255), banner("Upload complete", "#2a7a2c", "#4cbb4a"))
    template(198, "View pictures", 130)
    template(199, "Add more pictures", 160)
    template(200, "View & retry failed pictures", 230)

    # Picture browser.
    dialog = (0xf6, 0xf5, 0xf4)
    picture(183, 2, 22, dialog, separator_vertical())
    picture(184, 36, 90, dialog, svg(36, 90, tool_states(36, 30, arrow_icon("left")), DIALOG))
    picture(185, 36, 90, dialog, svg(36, 90, tool_states(36, 30, open_icon), DIALOG))
    picture(186, 36, 90, dialog, svg(36, 90, tool_states(36, 30, arrow_icon("up")), DIALOG))
    picture(188, 42, 90, dialog, svg(42, 90, tool_states(42, 30, thumbnails_icon), DIALOG))
    picture(189, 42, 90, dialog, svg(42, 90, tool_states(42, 30, details_icon), DIALOG))
    picture(207, 17, 20, (255, 255, 255), drop_down_arrow())
    picture(176, 46, 18, dialog, label_picture("Select:", 46))
    picture(210, 20, 54, dialog, svg(20, 54, link_states("all", 20), DIALOG))
    picture(211, 36, 54, dialog, svg(36, 54, link_states("none", 36), DIALOG))
    picture(187, 176, 56, dialog,
            svg(176, 56, push_states("Add selected pictures", 176, "#5b8fe0", "#2f62b5", "#ffffff", "#24509a"),
                DIALOG))
    picture(209, 84, 56, dialog,
            svg(84, 56, push_states("Cancel", 84, "#fdfdfd", "#dcdcdc", "#333333", "#9f9f9f"), DIALOG))
    picture(213, 600, 2, dialog, separator_horizontal())
    picture(175, 104, 109, (255, 255, 255), cell_frame())
    picture(173, 13, 13, (255, 255, 255), tick_box(True))
    picture(174, 13, 13, (255, 255, 255), tick_box(False))
    return table


def render_template(layers, width, height):
    """Each layer white on black; its coverage goes to one channel."""
    coverage = {}
    for name, body in layers.items():
        rows = flatten(render_svg(svg(width, height, body, "#000000"), width, height), (0, 0, 0))
        coverage[name] = [[pixel[0] for pixel in row] for row in rows]
    return [[(coverage["label"][y][x], coverage["body"][y][x], coverage["shadow"][y][x]) for x in range(width)]
            for y in range(height)]


def preview_template(rows):
    """A template as the default page colours show it, to look at."""
    background, face, ink = (0xee, 0xee, 0xee), (0x99, 0x99, 0xcc), (0xff, 0xff, 0xff)
    out = []
    for row in rows:
        line = []
        for r, g, b in row:
            G, R, B = g / 255, r / 255, b / 255
            line.append(tuple(int((1 - G) * (1 - B) * k + G * ((1 - R) * f + R * i))
                              for k, f, i in zip(background, face, ink)))
        out.append(line)
    return out


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", required=True)
    parser.add_argument("--preview")
    parser.add_argument("--stamp")
    args = parser.parse_args(argv)
    os.makedirs(args.output, exist_ok=True)
    if args.preview:
        os.makedirs(args.preview, exist_ok=True)
    try:
        for ident, (kind, width, height, background, source) in sorted(pictures().items()):
            if kind == "template":
                rows = render_template(source, width, height)
                shown = preview_template(rows)
            else:
                rows = flatten(render_svg(source, width, height), background)
                shown = rows
            with open(os.path.join(args.output, f"bitmap_{ident}.bmp"), "wb") as f:
                f.write(encode_bmp(rows))
            if args.preview:
                with open(os.path.join(args.preview, f"bitmap_{ident}.png"), "wb") as f:
                    f.write(encode_png(shown))
    except (BitmapError, OSError, subprocess.CalledProcessError) as e:
        print(f"make_bitmaps: {e}", file=sys.stderr)
        return 1
    if args.stamp:
        with open(args.stamp, "w", encoding="ascii") as f:
            f.write("bitmaps written\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
