#!/usr/bin/env python3
"""Writes the icon images of res/Icons.cpp (XPM text, one char per pixel)
as one Windows .ico file: 32-bit images with an alpha channel and a mask.

usage: XpmToIco.py Icons.cpp ARRAY [ARRAY ...] OUT.ico
"""
import re
import struct
import sys


def read_xpm(source, name):
    body = re.search(r"\b" + re.escape(name) + r"\[\]\s*=\s*\{(.*?)\};", source, re.S)
    if body is None:
        sys.exit(f"XpmToIco: no image {name}")
    lines = re.findall(r'"((?:[^"\\]|\\.)*)"', body.group(1))
    width, height, colours, chars = map(int, lines[0].split())
    if chars != 1:
        sys.exit(f"XpmToIco: {name} has {chars} characters per pixel")
    palette = {}
    for line in lines[1:1 + colours]:
        value = line[1:].split()[-1]
        palette[line[0]] = None if value.lower() == "none" else int(value.lstrip("#"), 16)
    rows = lines[1 + colours:1 + colours + height]
    return width, height, [[palette[c] for c in row[:width]] for row in rows]


def ico_image(width, height, pixels):
    colour = bytearray()
    mask = bytearray()
    mask_stride = ((width + 31) // 32) * 4
    for row in reversed(pixels):  # bottom-up
        bits = bytearray(mask_stride)
        for x, rgb in enumerate(row):
            if rgb is None:
                colour += b"\0\0\0\0"
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                colour += bytes((rgb & 0xFF, (rgb >> 8) & 0xFF, rgb >> 16, 0xFF))
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return header + colour + mask


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    source = open(sys.argv[1], encoding="utf-8").read()
    images = [read_xpm(source, name) for name in sys.argv[2:-1]]
    blobs = [ico_image(*image) for image in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for (width, height, _), blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    with open(sys.argv[-1], "wb") as ico:
        ico.write(out + b"".join(blobs))


main()
