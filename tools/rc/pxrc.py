#!/usr/bin/env python3
"""Resource compiler: turns the readable resource sources of control/resources/ into one C++ source
that defines the module's resources (message tables in their binary form, the string table).

Source formats (both: "#" starts a comment line; $(NAME) is replaced by a definition of product.defs):

  Message tables (*.mt, named messages_<id>.mt): one entry per id, ids 1..N in order.
      <id>  "<first line of the entry>"
            "<further line of the entry>"        (a continuation line starts with white space)
    The text is everything between the first and the last double quote of the line, byte for byte:
    a backslash stays a backslash, because the catalogue parser resolves its own escapes at run time.
    An entry's lines are stored joined by CR LF, with a closing CR LF.

  String table (strings.str):
      <id>  "<text>"
    Between the first and the last double quote, with the C escapes \\n \\r \\t \\\\ and \\" resolved.

  Bitmaps (--bitmaps FOLDER): the folder's bitmap_<id>.bmp files (24-bit bitmap files, written by
    tools/bitmaps/make_bitmaps.py), stored as bitmap resources without their 14-byte file header, as
    a module's bitmap resources are.
  Dialog templates (dialog_<id>.dlg, one dialog per file), sizes in dialog units:
      caption "<text>"
      size <width> <height>
      font <points> "<face>"
      control <id> <class> "<text>" <x> <y> <width> <height> [STYLE|STYLE...]
    Classes: button defbutton checkbox radio groupbox label edit listbox. Styles: GROUP TABSTOP
    DISABLED and, for edits, MULTILINE PASSWORD READONLY NUMBER. A control's text takes the C escapes.
    Stored as: "PXDL", u32 id, s16 width, s16 height, s16 points, text face, text caption, u16 count,
    per control s16 id, u8 class, u32 style, s16 x, y, width, height, text; a text is u16 length and
    its bytes; all little-endian.

  Menus (menu_<id>.mnu, one menu resource per file): one entry per line, indentation free:
      popup "<text>"            starts a sub-menu, closed by "end"
      item <id> "<text>" [CHECKED|GRAYED]
      separator
      end
    "&" in a text marks the mnemonic. Stored as: "PXMN", u32 id, then per entry u8 kind (0 item,
    1 separator, 2 popup, 3 end of a popup), u8 flags (1 checked, 2 grayed), u16 id, u16 text length
    and the text's bytes; all little-endian.

  Version (version.ver, the module's version resource, type 16 id 1): one "<KEY> <value>" per line,
      FILEVERSION a.b.c.d          PRODUCTVERSION a.b.c.d     (each part 0..65535)
      FILEFLAGSMASK n  FILEFLAGS n  FILEOS n  FILETYPE n  FILESUBTYPE n   (decimal or 0x hex)
    Stored as a version-information block: u16 length, u16 value length (52), u16 type (0), the key
    "VS_VERSION_INFO" in UTF-16LE with its NUL, zero padding to a multiple of 4, and the fixed file
    information: thirteen u32 (signature 0xFEEF04BD, structure version 0x00010000, file version
    most and least significant halves, product version likewise, flags mask, flags, OS, type,
    subtype, date most and least significant halves); all little-endian.

With --image-rc FILE, the resources go into the program's image instead (a Windows module's
resource section): FILE becomes a resource script for windres that names one file of bytes per
resource (in FILE.d/, the same bytes as the compiled-in blocks, under the same type numbers), the
string table becomes the module's own (type 6: blocks of sixteen strings, block n + 1 holding ids
16n to 16n + 15, each string a u16 count of UTF-16LE units and the units), and the C++ source only
names the module, whose look-ups then ask the system.

The message tables are emitted in the binary message-table format: u32 block count; per block u32
lowest id, u32 highest id, u32 offset of its first entry; per entry u16 length (header, text, NUL and
zero padding to a multiple of 4), u16 flags (1: UTF-16LE), the text, its NUL, the padding.
"""

import argparse
import os
import re
import struct
import sys

DEFINE_RE = re.compile(r"^\s*([A-Z_][A-Z0-9_]*)\s*=\s*(.*?)\s*$")
ENTRY_RE = re.compile(r'^(\d+)\s+(".*")\s*$')
CONTINUATION_RE = re.compile(r'^\s+(".*")\s*$')
USE_RE = re.compile(r"\$\(([A-Z_][A-Z0-9_]*)\)")


class SourceError(Exception):
    pass


def read_defines(path):
    defines = {}
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            m = DEFINE_RE.match(line)
            if not m:
                raise SourceError(f"{path}:{number}: expected NAME = value")
            defines[m.group(1)] = m.group(2)
    return defines


def expand(text, defines, where):
    def use(m):
        if m.group(1) not in defines:
            raise SourceError(f"{where}: $({m.group(1)}) is not defined")
        return defines[m.group(1)]

    return USE_RE.sub(use, text)


def unquote(quoted):
    # Everything between the first and the last quote, so that texts may hold quotes and keep
    # trailing spaces that an editor would otherwise strip.
    return quoted[1:-1]


def source_lines(path):
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            yield number, line


def read_message_table(path, defines):
    entries = []  # list of (id, [lines])
    for number, line in source_lines(path):
        where = f"{path}:{number}"
        m = ENTRY_RE.match(line)
        if m:
            entries.append((int(m.group(1)), [expand(unquote(m.group(2)), defines, where)]))
            continue
        m = CONTINUATION_RE.match(line)
        if m and entries:
            entries[-1][1].append(expand(unquote(m.group(1)), defines, where))
            continue
        raise SourceError(f"{where}: expected <id> \"text\" or an indented \"text\"")
    for index, (ident, _) in enumerate(entries):
        if ident != index + 1:
            raise SourceError(f"{path}: ids must run 1..N in order; found {ident} at position {index + 1}")
    for ident, lines in entries:
        for text in lines:
            if any(ord(c) > 0x7E or (ord(c) < 0x20) for c in text):
                raise SourceError(f"{path}: entry {ident} holds a character that is not printable ASCII")
    return entries


def encode_message_table(entries):
    """The binary form: one block with ids 1..N, every text UTF-16LE."""
    header = struct.pack("<I", 1)
    first_offset = 4 + 12
    header += struct.pack("<III", 1, len(entries), first_offset)
    body = b""
    for ident, lines in entries:
        text = ("\r\n".join(lines) + "\r\n").encode("utf-16-le") + b"\0\0"
        length = 4 + len(text)
        length += (-length) % 4
        if length > 0xFFFF:
            raise SourceError(f"entry {ident} is too long for a message-table entry")
        entry = struct.pack("<HH", length, 1) + text
        entry += b"\0" * (length - len(entry))
        body += entry
    return header + body


C_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}


def resolve_c_escapes(text, where):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\":
            if i + 1 >= len(text) or text[i + 1] not in C_ESCAPES:
                raise SourceError(f"{where}: unknown escape in {text!r}")
            out.append(C_ESCAPES[text[i + 1]])
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def read_string_table(path, defines):
    strings = {}
    for number, line in source_lines(path):
        where = f"{path}:{number}"
        m = ENTRY_RE.match(line)
        if not m:
            raise SourceError(f"{where}: expected <id> \"text\"")
        ident = int(m.group(1))
        if ident in strings:
            raise SourceError(f"{where}: string {ident} is defined twice")
        strings[ident] = resolve_c_escapes(expand(unquote(m.group(2)), defines, where), where)
    return strings


BITMAP_NAME_RE = re.compile(r"^bitmap_(\d+)\.bmp$")
BITMAP_FILE_HEADER = 14


def read_bitmaps(folder):
    """{id: bitmap bytes without the file header} of the folder's bitmap_<id>.bmp files."""
    bitmaps = {}
    for name in sorted(os.listdir(folder)):
        m = BITMAP_NAME_RE.match(name)
        if not m:
            continue
        path = os.path.join(folder, name)
        with open(path, "rb") as f:
            data = f.read()
        if len(data) < BITMAP_FILE_HEADER + 40 or data[:2] != b"BM":
            raise SourceError(f"{path}: not a bitmap file")
        offset = struct.unpack_from("<I", data, 10)[0]
        header_size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
        if bits != 24 or compression != 0 or offset != BITMAP_FILE_HEADER + header_size:
            raise SourceError(f"{path}: expected a 24-bit uncompressed bitmap without a colour table")
        row_bytes = (width * 3 + 3) & ~3
        if width <= 0 or height == 0 or len(data) < offset + row_bytes * abs(height):
            raise SourceError(f"{path}: the pixels are cut short")
        bitmaps[int(m.group(1))] = data[BITMAP_FILE_HEADER:offset + row_bytes * abs(height)]
    return bitmaps


def c_string(text):
    out = []
    for c in text:
        if c == "\\":
            out.append("\\\\")
        elif c == '"':
            out.append('\\"')
        elif c == "\n":
            out.append("\\n")
        elif c == "\r":
            out.append("\\r")
        elif c == "\t":
            out.append("\\t")
        elif " " <= c <= "~":
            out.append(c)
        else:
            raise SourceError(f"non-ASCII character in string {text!r}")
    return '"' + "".join(out) + '"'


def c_bytes(data):
    lines = []
    for i in range(0, len(data), 16):
        lines.append("    " + ", ".join(f"0x{b:02x}" for b in data[i:i + 16]) + ",")
    return "\n".join(lines)


DIALOG_CLASSES = {"button": 0, "defbutton": 1, "checkbox": 2, "radio": 3, "groupbox": 4, "label": 5,
                  "edit": 6, "listbox": 7}
DIALOG_STYLES = {"GROUP": 0x00020000, "TABSTOP": 0x00010000, "DISABLED": 0x08000000, "MULTILINE": 0x0004,
                 "PASSWORD": 0x0020, "READONLY": 0x0800, "NUMBER": 0x2000}
CONTROL_RE = re.compile(r'^control\s+(-?\d+)\s+(\w+)\s+"(.*)"\s+(-?\d+)\s+(-?\d+)\s+(\d+)\s+(\d+)(?:\s+([A-Z|]+))?\s*$')


def read_dialog(path, defines):
    m = re.search(r"dialog_(\d+)\.dlg$", path)
    if not m:
        raise SourceError(f"{path}: a dialog's file is named dialog_<id>.dlg")
    dialog = {"id": int(m.group(1)), "caption": "", "size": None, "font": (8, "Sans"), "controls": []}
    ids = set()
    for number, line in source_lines(path):
        where = f"{path}:{number}"
        line = expand(line.strip(), defines, where)
        if line.startswith("caption "):
            dialog["caption"] = resolve_c_escapes(unquote(line[len("caption "):].strip()), where)
        elif line.startswith("size "):
            parts = line.split()
            if len(parts) != 3 or not all(p.isdigit() for p in parts[1:]):
                raise SourceError(f"{where}: expected size <width> <height>")
            dialog["size"] = (int(parts[1]), int(parts[2]))
        elif line.startswith("font "):
            fm = re.match(r'^font\s+(\d+)\s+"(.+)"$', line)
            if not fm:
                raise SourceError(f'{where}: expected font <points> "<face>"')
            dialog["font"] = (int(fm.group(1)), fm.group(2))
        elif line.startswith("control "):
            cm = CONTROL_RE.match(line)
            if not cm:
                raise SourceError(f'{where}: expected control <id> <class> "<text>" <x> <y> <w> <h> [STYLES]')
            ident, cls, text = int(cm.group(1)), cm.group(2), resolve_c_escapes(cm.group(3), where)
            if cls not in DIALOG_CLASSES:
                raise SourceError(f"{where}: unknown control class {cls!r}")
            if ident in ids and ident != -1:
                raise SourceError(f"{where}: control id {ident} is used twice")
            ids.add(ident)
            style = 0
            for name in filter(None, (cm.group(8) or "").split("|")):
                if name not in DIALOG_STYLES:
                    raise SourceError(f"{where}: unknown style {name!r}")
                style |= DIALOG_STYLES[name]
            rect = tuple(int(cm.group(i)) for i in range(4, 8))
            dialog["controls"].append((ident, DIALOG_CLASSES[cls], style, rect, text))
        else:
            raise SourceError(f"{where}: expected caption, size, font or control")
    if dialog["size"] is None:
        raise SourceError(f"{path}: the dialog has no size")
    return dialog


def encode_dialog(dialog):
    def text(value):
        data = value.encode("ascii")
        if len(data) > 0xFFFF:
            raise SourceError(f"dialog {dialog['id']}: a text is too long")
        return struct.pack("<H", len(data)) + data

    points, face = dialog["font"]
    out = b"PXDL" + struct.pack("<Ihhh", dialog["id"], dialog["size"][0], dialog["size"][1], points)
    out += text(face) + text(dialog["caption"]) + struct.pack("<H", len(dialog["controls"]))
    for ident, cls, style, (x, y, w, h), label in dialog["controls"]:
        out += struct.pack("<hBIhhhh", ident, cls, style, x, y, w, h) + text(label)
    return out


MENU_FLAGS = {"CHECKED": 1, "GRAYED": 2}
MENU_ITEM_RE = re.compile(r'^item\s+(\d+)\s+"(.*)"(?:\s+([A-Z|]+))?\s*$')
MENU_POPUP_RE = re.compile(r'^popup\s+"(.*)"\s*$')


def read_menu(path, defines):
    """(id, [entries]) of a menu source; an entry is (kind, flags, id, text)."""
    m = re.search(r"menu_(\d+)\.mnu$", path)
    if not m:
        raise SourceError(f"{path}: a menu's file is named menu_<id>.mnu")
    entries = []
    depth = 0
    for number, line in source_lines(path):
        where = f"{path}:{number}"
        line = expand(line.strip(), defines, where)
        pm = MENU_POPUP_RE.match(line)
        im = MENU_ITEM_RE.match(line)
        if pm:
            entries.append((2, 0, 0, resolve_c_escapes(pm.group(1), where)))
            depth += 1
        elif im:
            ident = int(im.group(1))
            if not 0 < ident <= 0xFFFF:
                raise SourceError(f"{where}: a menu item's id runs from 1 to 65535")
            flags = 0
            for name in filter(None, (im.group(3) or "").split("|")):
                if name not in MENU_FLAGS:
                    raise SourceError(f"{where}: unknown item flag {name!r}")
                flags |= MENU_FLAGS[name]
            entries.append((0, flags, ident, resolve_c_escapes(im.group(2), where)))
        elif line == "separator":
            entries.append((1, 0, 0, ""))
        elif line == "end":
            if depth == 0:
                raise SourceError(f"{where}: end without a popup")
            entries.append((3, 0, 0, ""))
            depth -= 1
        else:
            raise SourceError(f'{where}: expected popup "<text>", item <id> "<text>", separator or end')
    if depth != 0:
        raise SourceError(f"{path}: a popup is not closed with end")
    if not entries:
        raise SourceError(f"{path}: the menu is empty")
    return int(m.group(1)), entries


def encode_menu(ident, entries):
    out = b"PXMN" + struct.pack("<I", ident)
    for kind, flags, item_id, text in entries:
        data = text.encode("ascii")
        if len(data) > 0xFFFF:
            raise SourceError(f"menu {ident}: a text is too long")
        out += struct.pack("<BBHH", kind, flags, item_id, len(data)) + data
    return out


VERSION_NUMBERS = ("FILEFLAGSMASK", "FILEFLAGS", "FILEOS", "FILETYPE", "FILESUBTYPE")
VERSION_QUADS = ("FILEVERSION", "PRODUCTVERSION")
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD
FIXED_FILE_INFO_STRUCT_VERSION = 0x00010000


def read_version(path, defines):
    """{key: value} of a version source: quads as four numbers, the others as one."""
    values = {}
    for number, line in source_lines(path):
        where = f"{path}:{number}"
        parts = expand(line.strip(), defines, where).split()
        if len(parts) != 2:
            raise SourceError(f"{where}: expected <KEY> <value>")
        key, value = parts
        if key in values:
            raise SourceError(f"{where}: {key} is given twice")
        if key in VERSION_QUADS:
            quad = value.split(".")
            if len(quad) != 4 or not all(q.isdigit() and int(q) <= 0xFFFF for q in quad):
                raise SourceError(f"{where}: {key} takes four numbers from 0 to 65535, as 2.0.4.0")
            values[key] = [int(q) for q in quad]
        elif key in VERSION_NUMBERS:
            try:
                values[key] = int(value, 0)
            except ValueError:
                raise SourceError(f"{where}: {key} takes a number") from None
            if not 0 <= values[key] <= 0xFFFFFFFF:
                raise SourceError(f"{where}: {key} does not fit 32 bits")
        else:
            raise SourceError(f"{where}: unknown key {key!r}")
    if "FILEVERSION" not in values:
        raise SourceError(f"{path}: the version has no FILEVERSION")
    return values


def encode_version(values):
    def halves(quad):
        return (quad[0] << 16) | quad[1], (quad[2] << 16) | quad[3]

    file_ms, file_ls = halves(values["FILEVERSION"])
    product_ms, product_ls = halves(values.get("PRODUCTVERSION", values["FILEVERSION"]))
    fixed = struct.pack("<13I", FIXED_FILE_INFO_SIGNATURE, FIXED_FILE_INFO_STRUCT_VERSION, file_ms, file_ls,
                        product_ms, product_ls, *(values.get(k, 0) for k in VERSION_NUMBERS), 0, 0)
    key = "VS_VERSION_INFO".encode("utf-16-le") + b"\0\0"
    head_length = 6 + len(key)
    padding = b"\0" * ((-head_length) % 4)
    length = head_length + len(padding) + len(fixed)
    return struct.pack("<HHH", length, len(fixed), 0) + key + padding + fixed


# The type numbers of the blocks, as ResourceType names them, and of a module's string table.
BLOCK_TYPES = {"Bitmap": 2, "Menu": 4, "Dialog": 5, "RcData": 10, "Version": 16}
STRING_TABLE_TYPE = 6
STRINGS_PER_BLOCK = 16


def encode_string_blocks(strings):
    """{block id: bytes} of the string table as a module's string resources."""
    texts = {}
    for ident, text in strings.items():
        if not 0 <= ident <= 0xFFFF - STRINGS_PER_BLOCK:
            raise SourceError(f"string {ident}: a module's string ids run from 0 to {0xFFFF - STRINGS_PER_BLOCK}")
        if text == "":
            # The format stores a missing string as an empty one: the two could not be told apart.
            raise SourceError(f"string {ident} is empty, which a module's string table cannot hold")
        texts.setdefault(ident // STRINGS_PER_BLOCK + 1, [""] * STRINGS_PER_BLOCK)[ident % STRINGS_PER_BLOCK] = text
    blocks = {}
    for block, entries in texts.items():
        data = bytearray()
        for text in entries:
            units = text.encode("utf-16-le", "surrogatepass")
            data += struct.pack("<H", len(units) // 2) + units
        blocks[block] = bytes(data)
    return blocks


def rc_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '""') + '"'


def write_image_script(path, typed_blocks, strings):
    """Writes the resource script at path and its files of bytes into path.d/."""
    folder = path + ".d"
    os.makedirs(folder, exist_ok=True)
    lines = ["// Generated by tools/rc/pxrc.py from control/resources/; do not edit.",
             "LANGUAGE 0, 0", ""]
    entries = [(BLOCK_TYPES[kind], blocks) for kind, blocks in typed_blocks]
    entries.append((STRING_TABLE_TYPE, encode_string_blocks(strings)))
    written = set()
    for type_number, blocks in sorted(entries):
        for ident, data in sorted(blocks.items()):
            if not 1 <= ident <= 0xFFFF:
                raise SourceError(f"resource {type_number}/{ident}: a module's resource ids run from 1 to 65535")
            file = os.path.join(folder, f"{type_number}_{ident}.bin")
            # Unchanged files keep their times, so that the script is compiled again only when needed.
            try:
                with open(file, "rb") as f:
                    same = f.read() == data
            except OSError:
                same = False
            if not same:
                with open(file, "wb") as f:
                    f.write(data)
            lines.append(f"{ident} {type_number} {rc_string(os.path.abspath(file))}")
            written.add(os.path.basename(file))
    # A resource that is gone leaves no file behind to be taken for one.
    for name in os.listdir(folder):
        if name.endswith(".bin") and name not in written:
            os.remove(os.path.join(folder, name))
    lines.append("")
    with open(path, "w", encoding="ascii") as f:
        f.write("\n".join(lines))


def generate(tables, strings, defines, symbol, bitmaps=None, dialogs=None, function="PxModuleResources",
             menus=None, versions=None, image_rc=None):
    out = [
        "// Generated by tools/rc/pxrc.py from control/resources/; do not edit.",
        '#include "control/resources/module_resources.h"',
        "",
        "#include <cstdint>",
        "",
        "namespace {",
        "",
    ]
    bitmaps = bitmaps or {}
    dialogs = dialogs or {}
    menus = menus or {}
    versions = versions or {}
    # Sorted by type, then id: bitmaps (2), menus (4), dialogs (5), message tables as raw data (10),
    # the version (16).
    kinds = (("Bitmap", "kBitmap", bitmaps), ("Menu", "kMenu", menus), ("Dialog", "kDialog", dialogs),
             ("RcData", "kMessageTable", tables), ("Version", "kVersion", versions))
    if image_rc:
        write_image_script(image_rc, [(kind, blocks) for kind, _, blocks in kinds], strings)
        out.append("// The resources are in the program's image, where the system finds them.")
        out.append(f'const platform::ResourceModule kModule{{"{symbol}", {{}}, {{}}, true}};')
        out.append("")
    else:
        for _, prefix, blocks in kinds:
            for ident, data in sorted(blocks.items()):
                out.append(f"const uint8_t {prefix}{ident}[] = {{")
                out.append(c_bytes(data))
                out.append("};")
                out.append("")
        out.append("const platform::ResourceBlock kBlocks[] = {")
        for kind, prefix, blocks in kinds:
            for ident in sorted(blocks):
                name = f"{prefix}{ident}"
                out.append(f"    {{platform::ResourceType::{kind}, {ident}, {name}, sizeof {name}}},")
        out.append("};")
        out.append("")
        out.append("const platform::ResourceString kStrings[] = {")
        for ident in sorted(strings):
            out.append(f"    {{{ident}, {c_string(strings[ident])}}},")
        out.append("};")
        out.append("")
        out.append(f'const platform::ResourceModule kModule{{"{symbol}", kBlocks, kStrings}};')
        out.append("")
    out.append("}  // namespace")
    out.append("")
    out.append(f"const platform::ResourceModule& {function}();")
    out.append(f"const platform::ResourceModule& {function}() {{ return kModule; }}")
    out.append("")
    for name in sorted(defines):
        out.append(f"const char* const kPx{''.join(p.title() for p in name.split('_'))} = "
                   f"{c_string(defines[name])};")
    out.append("")
    return "\n".join(out)


def read_menus(paths, defines):
    menus = {}
    for path in paths:
        ident, entries = read_menu(path, defines)
        if ident in menus:
            raise SourceError(f"{path}: menu {ident} is given twice")
        menus[ident] = encode_menu(ident, entries)
    return menus


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--defines", required=True)
    parser.add_argument("--strings", required=True)
    parser.add_argument("--module", default="pxupload")
    parser.add_argument("--output", required=True)
    parser.add_argument("--bitmaps", help="folder of bitmap_<id>.bmp files")
    parser.add_argument("--dialogs", nargs="*", default=[], help="dialog_<id>.dlg files")
    parser.add_argument("--menus", nargs="*", default=[], help="menu_<id>.mnu files")
    parser.add_argument("--version", help="the version.ver file of the module's version resource")
    parser.add_argument("--function", default="PxModuleResources",
                        help="the name of the function that gives the module")
    parser.add_argument("--image-rc", help="put the resources into the program's image through this resource script")
    parser.add_argument("tables", nargs="+", help="messages_<id>.mt files")
    args = parser.parse_args(argv)
    try:
        defines = read_defines(args.defines)
        tables = {}
        for path in args.tables:
            m = re.search(r"messages_(\d+)\.mt$", path)
            if not m:
                raise SourceError(f"{path}: a message table's file is named messages_<id>.mt")
            tables[int(m.group(1))] = encode_message_table(read_message_table(path, defines))
        strings = read_string_table(args.strings, defines)
        bitmaps = read_bitmaps(args.bitmaps) if args.bitmaps else {}
        dialogs = {}
        for path in args.dialogs:
            dialog = read_dialog(path, defines)
            dialogs[dialog["id"]] = encode_dialog(dialog)
        menus = read_menus(args.menus, defines)
        versions = {1: encode_version(read_version(args.version, defines))} if args.version else {}
        text = generate(tables, strings, defines, args.module, bitmaps, dialogs, args.function, menus, versions,
                        args.image_rc)
    except (SourceError, OSError) as e:
        print(f"pxrc: {e}", file=sys.stderr)
        return 1
    with open(args.output, "w", encoding="ascii") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
