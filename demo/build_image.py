#!/usr/bin/env python3
"""Builds the demo device image from the sources in demo/.

A device image is a folder: fs/ is the device's root, registry.reg its registry and
device.json what else the simulated device is like. The storage card is the folder
"fs/Storage Card"; it carries the installer and its enciphered configuration in 2577/,
and the application in Atlas/.

  build_image.py --config-tool PATH --out DIR [--version N] [--card-only] [--config FILE]

--card-only replaces just the storage card of an existing image, as when a second card
is put into the same device.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CARD = "Storage Card"

# The version stamps of the application's executable, by card version: the high 16 bits
# are the major, the low 16 bits the minor version.
STAMPS = {1: 0x00010004, 2: 0x00010005}


def fake_executable(stamp, size=4096):
    """A stand-in for the application's executable: an MZ header, filler, and the version
    stamp as the last four bytes (an unsigned build carries it there)."""
    body = bytearray(b"MZ" + b"\x90" * (size - 2))
    banner = b"Atlas Navigator demo build - a stand-in, not a real program"
    body[64:64 + len(banner)] = banner
    body[-4:] = struct.pack("<I", stamp)
    return bytes(body)


def logo_bmp(width=84, height=100):
    """A 24-bit bottom-up BMP: a compass rose in the brand's blue on white."""
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    cx, cy = width / 2, height / 2
    for y in range(height - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(width):
            dx, dy = x + 0.5 - cx, y + 0.5 - cy
            r2 = dx * dx + dy * dy
            blue = (0xC0, 0x60, 0x10)  # B, G, R
            if 34 * 34 <= r2 <= 38 * 38:
                pixel = blue
            elif abs(dx) * 4 + abs(dy) <= 34 or abs(dy) * 4 + abs(dx) <= 34:
                pixel = (0x20, 0x20, 0xD0) if dy < 0 and abs(dx) * 4 < -dy else blue
            else:
                pixel = (0xFF, 0xFF, 0xFF)
            row += bytes(pixel)
        row += b"\0" * (stride - width * 3)
        rows.append(bytes(row))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def map_tile(name, size):
    """Deterministic filler bytes standing for map data."""
    seed = sum(name.encode()) or 1
    out = bytearray(size)
    x = seed
    for i in range(size):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out[i] = (x >> 16) & 0xFF
    return bytes(out)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def build_card(card, version, config_tool, config):
    if os.path.exists(card):
        shutil.rmtree(card)
    shutil.copytree(os.path.join(HERE, "card"), card)
    app = os.path.join(card, "Atlas")
    # The installer itself (its bytes do not matter to the simulated device).
    write(os.path.join(card, "2577", "autorun.exe"), b"MZ autorun installer\n")
    write(os.path.join(app, "AtlasNav.exe"), fake_executable(STAMPS[version]))
    write(os.path.join(app, "logo.bmp"), logo_bmp())
    # Map data big enough to make the progress and the free-space figure meaningful.
    for name, size in (("europe.map", 96 * 1024), ("cities.poi", 48 * 1024)):
        write(os.path.join(app, "Maps", name), map_tile(name, size))
    if version >= 2:
        # The newer build brings a further skin and a further map.
        write(os.path.join(app, "Skins", "contrast.skn"),
              b"; Atlas Navigator skin: high contrast\r\nbackground=#000000\r\nroads=#ffff00\r\n")
        write(os.path.join(app, "Maps", "alps.map"), map_tile("alps.map", 64 * 1024))
    subprocess.run([config_tool, "encode", config,
                    os.path.join(card, "2577", "autorun_8.qlm")], check=True,
                   stdout=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--config-tool", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--version", type=int, default=1, choices=sorted(STAMPS))
    parser.add_argument("--card-only", action="store_true")
    parser.add_argument("--config", default=os.path.join(HERE, "config", "autorun.txt"),
                        help="the configuration text to encipher onto the card")
    args = parser.parse_args()

    if not args.card_only:
        if os.path.exists(args.out):
            shutil.rmtree(args.out)
        shutil.copytree(os.path.join(HERE, "device"), args.out)
        for folder in ("My Documents", "Program Files", "Windows/Start Menu/Programs"):
            os.makedirs(os.path.join(args.out, "fs", folder), exist_ok=True)
    build_card(os.path.join(args.out, "fs", CARD), args.version, args.config_tool, args.config)
    return 0


if __name__ == "__main__":
    sys.exit(main())
