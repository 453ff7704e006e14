#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora, taken from the tests.

    make_seeds.py SOURCE_ROOT OUT_DIR

Every string literal of the test sources (plain, concatenated and raw) is sorted by what
it looks like: configuration texts, registry files, registry locations and JSON. The
configuration texts of tests/wine and demo/config are added. Logo and executable seeds are
built here after the shapes the ui and upgrade tests use. OUT_DIR/<fuzzer>/ receives one
file per seed, named by its content's hash.
"""

import hashlib
import json
import pathlib
import re
import struct
import sys

ROOT = pathlib.Path(sys.argv[1])
OUT = pathlib.Path(sys.argv[2])

ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "0": "\0", "\\": "\\", '"': '"', "'": "'",
           "a": "\a", "b": "\b", "f": "\f", "v": "\v", "?": "?"}


def literals(source):
    """The string literals of a C++ source, adjacent ones joined."""
    found = []
    pending = None
    i = 0
    n = len(source)
    while i < n:
        c = source[i]
        if source.startswith("//", i):
            i = source.find("\n", i)
            i = n if i < 0 else i
            continue
        if source.startswith("/*", i):
            end = source.find("*/", i + 2)
            i = n if end < 0 else end + 2
            continue
        if c == "'":  # character literal
            j = i + 1
            while j < n and source[j] != "'":
                j += 2 if source[j] == "\\" else 1
            i = j + 1
            continue
        m = re.match(r'(u8|u|U|L)?R"([^(\s]{0,16})\(', source[i:i + 24])
        if m and (i == 0 or not (source[i - 1].isalnum() or source[i - 1] == "_")):
            close = ")" + m.group(2) + '"'
            start = i + m.end()
            end = source.find(close, start)
            if end < 0:
                break
            pending = (pending or "") + source[start:end]
            i = end + len(close)
            continue
        m = re.match(r'(u8|u|U|L)?"', source[i:i + 3])
        if m and (i == 0 or not (source[i - 1].isalnum() or source[i - 1] == "_")):
            j = i + m.end()
            text = []
            while j < n and source[j] != '"':
                if source[j] == "\\" and j + 1 < n:
                    e = source[j + 1]
                    if e == "x":
                        h = re.match(r"[0-9a-fA-F]+", source[j + 2:j + 10])
                        text.append(chr(int(h.group(0), 16)))
                        j += 2 + len(h.group(0))
                        continue
                    if e in "uU":
                        size = 4 if e == "u" else 8
                        text.append(chr(int(source[j + 2:j + 2 + size], 16)))
                        j += 2 + size
                        continue
                    text.append(ESCAPES.get(e, e))
                    j += 2
                    continue
                text.append(source[j])
                j += 1
            pending = (pending or "") + "".join(text)
            i = j + 1
            continue
        if not c.isspace() and pending is not None:
            found.append(pending)
            pending = None
        i += 1
    if pending is not None:
        found.append(pending)
    return found


seeds = {}


def add(fuzzer, data):
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogatepass")
    seeds.setdefault(fuzzer, set()).add(bytes(data))


def utf16_text(text, crlf=True):
    if crlf:
        text = re.sub(r"(?<!\r)\n", "\r\n", text)
    return b"\xff\xfe" + text.encode("utf-16-le", "surrogatepass")


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 0xFF
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = bytearray()
    for byte in data:
        i = (i + 1) & 0xFF
        j = (j + s[i]) & 0xFF
        s[i], s[j] = s[j], s[i]
        out.append(byte ^ s[(s[i] + s[j]) & 0xFF])
    return bytes(out)


key_match = re.search(r'AUTORUN_CONFIGURATION_KEY "([A-Za-z0-9]+)"',
                      (ROOT / "CMakeLists.txt").read_text())
KEY = key_match.group(1).encode() if key_match else b"ARN20261208053700"


def add_configuration(text):
    plain = utf16_text(text)
    add("config_text", plain)
    add("config_text", utf16_text(text, crlf=False))
    add("config_file", b"\x01" + plain)                    # enciphered by the fuzzer
    add("config_file", b"\x00" + rc4(KEY, plain))          # as it lies on the card
    add("config_file", b"\x03" + plain)                    # also the system copy


def looks_like_configuration(text):
    return (re.search(r"^\[[^\]\r\n]*\]", text, re.M) is not None
            and re.search(r'=\s*"', text) is not None
            and "Windows Registry Editor" not in text)


sources = sorted(p for p in (ROOT / "tests").rglob("*") if p.suffix in (".cpp", ".h"))
for path in sources:
    for text in literals(path.read_text(encoding="utf-8", errors="replace")):
        if "Windows Registry Editor" in text or text.startswith("REGEDIT4"):
            add("sim_registry", text)
            # The same in the registry editor's UTF-16 and as a "REGEDIT4" file in the
            # fuzzer's code page (1251), so that every encoding's reader and writer is reached.
            add("sim_registry", utf16_text(text))
            regedit4 = text.replace("Windows Registry Editor Version 5.00", "REGEDIT4", 1)
            add("sim_registry", regedit4.encode("cp1251", "replace"))
        elif looks_like_configuration(text):
            add_configuration(text)
        if re.match(r"HK[A-Za-z]{2}(\\|$)", text):
            add("registry_location", text.encode("utf-16-le", "surrogatepass"))
        for location in re.findall(r'"(HK[A-Z]{2}\\[^"\r\n]*)"', text):
            # Written in a configuration text: the parser turns "\\" into one backslash.
            location = location.replace("\\\\", "\\")
            add("registry_location", location.encode("utf-16-le", "surrogatepass"))
        if text.lstrip().startswith("{"):
            try:
                json.loads(text)
                add("device_config", text)
            except ValueError:
                pass

for folder in ("tests/wine", "demo/config"):
    for path in sorted((ROOT / folder).glob("*.txt")):
        add_configuration(path.read_text(encoding="utf-8", errors="replace"))

# device.json: every field as the flow and sim tests set them.
for device in (
    {},
    {"cards": ["SD One", "SD Two", "Storage Card"]},
    {"free_bytes": 0},
    {"free_bytes": None},
    {"windows": [{"class": "AtlasMain", "title": "Atlas", "closes": False,
                  "process_exits": False}, {"class": "MSContactsUI"}]},
    {"special_folders": {"38": "\\Programme", "5": None}},
    {"dialog_client": {"width": 480, "height": 536}, "code_page": 1251},
    {"code_page": 65001, "cards": []},
):
    add("device_config", json.dumps(device))

# Logos, after the shapes of the logo tests.


def bmp(width, height, depth, compression=0, table=None, pixel_offset=None, pixel_bytes=None,
        info_size=40):
    stride = (depth * abs(width) + 31) // 32 * 4
    if table is None:
        table = (1 << depth) if depth <= 8 else 0
    offset = 14 + info_size + 4 * table if pixel_offset is None else pixel_offset
    count = stride * abs(height) if pixel_bytes is None else pixel_bytes
    info = struct.pack("<IiiHHIIiiII", info_size, width, height, 1, depth, compression,
                       count, 2835, 2835, 0, 0) + b"\0" * (info_size - 40)
    body = info + bytes((i * 37) & 0xFF for i in range(4 * table))
    body += b"\0" * max(0, offset - 14 - len(body))
    pixels = bytes((i * 7 + 1) & 0xFF for i in range(count))
    return struct.pack("<2sIHHI", b"BM", 14 + len(body) + count, 0, 0, offset) + body + pixels


for shape in ((85, 2, 24), (85, -2, 24), (84, 100, 24), (240, 100, 24), (241, 100, 24),
              (3, 3, 8), (9, 2, 1), (5, 5, 4), (4, 4, 16), (4, -4, 32), (0, 0, 24), (1, 1, 24)):
    add("logo", bmp(*shape))
add("logo", bmp(2, 2, 8, table=2))                       # a short colour table
add("logo", bmp(4, 4, 24, compression=1))                # compressed
add("logo", bmp(4, 4, 24, info_size=124))                # a larger header version
add("logo", bmp(4, 4, 24, pixel_bytes=10))               # truncated pixels
add("logo", bmp(4, 4, 8, pixel_offset=200))              # pixels not right after the table
add("logo", bmp(4, 4, 24)[:30])                          # truncated header
add("logo", b"BM")
add("logo", b"MB" + bmp(1, 1, 24)[2:])

# Executables, after the shapes of the version stamp tests.


def executable(size, stamp, entry_word=None, table_offset=800):
    data = bytearray(b"\x90" * size)
    data[0:2] = b"MZ"
    data[size - 4:size] = struct.pack("<I", stamp)
    if entry_word is not None:
        data[4 * entry_word:4 * entry_word + 4] = struct.pack("<I", 0x460)
        data[4 * (entry_word - 1):4 * entry_word] = struct.pack("<I", table_offset)
        if table_offset >= 8 and table_offset - 8 + 4 <= size:
            data[table_offset - 8:table_offset - 4] = struct.pack("<I", stamp ^ 0x5A5A)
    return bytes(data)


add("version_stamp", executable(1024, 0x00010004))
add("version_stamp", executable(1024, 0xFFFFFFFF))
add("version_stamp", executable(1024, 7, entry_word=40))
add("version_stamp", executable(1024, 7, entry_word=40, table_offset=0))
add("version_stamp", executable(1024, 7, entry_word=40, table_offset=4))
add("version_stamp", executable(1024, 7, entry_word=40, table_offset=5000))
add("version_stamp", executable(600, 9, entry_word=127))
add("version_stamp", executable(511, 3))
add("version_stamp", b"\x01\x02\x03")

for fuzzer, items in seeds.items():
    folder = OUT / fuzzer
    folder.mkdir(parents=True, exist_ok=True)
    for data in items:
        (folder / hashlib.sha1(data).hexdigest()).write_bytes(data)
print(" ".join(f"{name}:{len(items)}" for name, items in sorted(seeds.items())))
