#!/usr/bin/env python3
"""Reads an 8-bit RGB PNG and answers questions about it, one answer per line:

    png_probe.py FILE size                 -> "WIDTH HEIGHT"
    png_probe.py FILE pixel X Y            -> "R G B" (Y below 0 counts from the bottom)
    png_probe.py FILE dark X Y W H         -> number of pixels darker than mid grey in the box
    png_probe.py FILE colours              -> number of distinct colours
    png_probe.py FILE ... file FILE2 ...   -> the questions after it are about FILE2

Several questions may follow one another on the command line."""

import struct
import sys
import zlib


def read_png(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit("not a PNG")
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            if depth != 8 or colour != 2:
                raise SystemExit("not 8-bit RGB")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 3
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - 3] if i >= 3 else 0
            up = previous[i]
            corner = previous[i - 3] if i >= 3 else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                guess = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + guess) & 0xFF
        rows.append(line)
        previous = line
    return width, height, rows


def main(argv):
    width, height, rows = read_png(argv[1])
    args = argv[2:]
    while args:
        question, args = args[0], args[1:]
        if question == "file":
            width, height, rows = read_png(args[0])
            args = args[1:]
        elif question == "size":
            print(width, height)
        elif question == "pixel":
            x, y, args = int(args[0]), int(args[1]), args[2:]
            print(*rows[y][3 * x:3 * x + 3])
        elif question == "dark":
            x, y, w, h = (int(v) for v in args[:4])
            args = args[4:]
            count = 0
            for row in rows[y:y + h]:
                for k in range(x, x + w):
                    if sum(row[3 * k:3 * k + 3]) < 3 * 128:
                        count += 1
            print(count)
        elif question == "colours":
            print(len({bytes(row[k:k + 3]) for row in rows for k in range(0, len(row), 3)}))
        else:
            raise SystemExit("unknown question " + question)


if __name__ == "__main__":
    main(sys.argv)
