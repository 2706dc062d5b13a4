#!/usr/bin/env python3
"""Draws the sample images in samples/: small 8-bit BMPs made for this project.

Run from the project root: python3 scripts/make-samples.py
Every picture is drawn from simple shapes, so the files can be rebuilt at any time with
the same bytes.

- sprite.bmp  48 x 40: a round badge with a letter on an index-255 background, with a
              shadow of index 250 below it.
- odd.bmp     37 x 23: an odd width (rows padded to 40 bytes), stripes and a diagonal.
- wide.bmp    300 x 64: wider than two 128-column segments, with runs of 255 and 250 that
              cross the segment boundaries at columns 128 and 256.
"""
import math
import os
import struct

BACKGROUND = 255
SHADOW = 250


def palette():
    entries = []
    for i in range(256):
        if i == BACKGROUND:
            entries.append((255, 0, 255))  # magenta: the transparent background
        elif i == SHADOW:
            entries.append((40, 40, 48))
        elif i < 64:  # a warm ramp
            entries.append((i * 4, i * 2, i // 2))
        elif i < 128:  # a cool ramp
            j = i - 64
            entries.append((j // 2, j * 2, j * 4))
        elif i < 192:  # greys
            j = (i - 128) * 4
            entries.append((j, j, j))
        else:  # a few saturated colours
            j = i - 192
            entries.append(((j * 37) % 256, (j * 91) % 256, (j * 53) % 256))
    return entries


def write_bmp(path, width, height, pixel):
    """pixel(x, y) gives the index at column x of row y, row 0 being the top."""
    stride = (width + 3) & ~3
    rows = bytearray()
    for y in range(height - 1, -1, -1):  # bottom row first
        row = bytes(pixel(x, y) for x in range(width))
        rows += row + bytes(stride - width)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette())
    offset = 14 + 40 + len(pal)
    size = offset + len(rows)
    header = struct.pack("<2sIHHI", b"BM", size, 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(rows), 2835, 2835, 256, 0)
    with open(path, "wb") as f:
        f.write(header + info + pal + rows)


def sprite(x, y):
    cx, cy, r = 23.5, 17.5, 14
    d = math.hypot(x - cx, y - cy)
    if d <= r:
        if 16 <= x <= 19 and 9 <= y <= 26 or 16 <= x <= 30 and 24 <= y <= 26:
            return 200  # the letter L
        return 8 + int(d * 3)  # warm ramp, brighter outwards
    if 32 <= y <= 35 and abs(x - cx) <= 12 - (y - 32) * 2:
        return SHADOW
    return BACKGROUND


def odd(x, y):
    if x == y or x == y + 14:
        return 130
    if (x // 5) % 2 == 0:
        return 70 + y
    return BACKGROUND if y < 12 else SHADOW


def wide(x, y):
    if 100 <= x < 160 and 8 <= y < 56:
        return BACKGROUND  # a run across column 128
    if 230 <= x < 280 and y % 8 < 4:
        return SHADOW  # runs of 250 across column 256
    if (x + y) % 17 == 0:
        return 3 + (x % 60)
    if y < 4 or y >= 60:
        return BACKGROUND
    return 140 + (x // 20)


def main():
    os.makedirs("samples", exist_ok=True)
    write_bmp("samples/sprite.bmp", 48, 40, sprite)
    write_bmp("samples/odd.bmp", 37, 23, odd)
    write_bmp("samples/wide.bmp", 300, 64, wide)


if __name__ == "__main__":
    main()
