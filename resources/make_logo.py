#!/usr/bin/env python3
"""Draws the built-in placeholder logo (bitmap 106): an 84 x 100, 24-bit BMP showing a
map pin over a soft gradient. Run from anywhere; writes logo.bmp beside this script."""

import math
import os
import struct

WIDTH, HEIGHT = 84, 100


def pixel(x, y):
    """The colour (red, green, blue) at (x, y), y counted from the top."""
    # Background: pale blue at the top fading to pale green at the bottom.
    t = y / (HEIGHT - 1)
    r = round(200 + (214 - 200) * t)
    g = round(222 + (236 - 222) * t)
    b = round(245 + (206 - 245) * t)

    # The pin: a disc whose lower half narrows to a point.
    cx, cy, radius, tip = 42.0, 38.0, 22.0, 86.0
    px, py = x + 0.5, y + 0.5
    dx, dy = px - cx, py - cy
    inside = dx * dx + dy * dy <= radius * radius
    if not inside and cy <= py <= tip:
        # Between the disc's tangent points and the tip the outline is straight.
        half_width = radius * (tip - py) / (tip - cy) * 0.75
        inside = abs(dx) <= half_width
    if inside:
        shade = 0.85 + 0.15 * max(0.0, min(1.0, (cx - px + cy - py) / (2 * radius)))
        r, g, b = round(205 * shade), round(60 * shade), round(52 * shade)
        if dx * dx + dy * dy <= 8.0 * 8.0:
            r, g, b = 250, 250, 250

    # A shadow ellipse under the tip.
    sx, sy = (px - 42.0) / 14.0, (py - 90.0) / 3.5
    if sx * sx + sy * sy <= 1.0 and not inside:
        r, g, b = round(r * 0.7), round(g * 0.7), round(b * 0.7)
    return r, g, b


def bmp_bytes():
    stride = (24 * WIDTH + 31) // 32 * 4
    rows = []
    for y in reversed(range(HEIGHT)):  # bottom-up
        row = bytearray()
        for x in range(WIDTH):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += bytes(stride - len(row))
        rows.append(bytes(row))
    data = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    return header + info + data


if __name__ == "__main__":
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "logo.bmp")
    with open(path, "wb") as out:
        out.write(bmp_bytes())
