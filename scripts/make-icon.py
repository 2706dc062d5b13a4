#!/usr/bin/env python3
"""Draws the program icon in res/icons/: 32 x 32 and 16 x 16, 16 colours each.

Run from the project root: python3 scripts/make-icon.py
The icon is a small landscape picture lying on a page of coloured runs: a bitmap turned
into run-length data. Both sizes are drawn from simple shapes into 4-bit palette PNGs, so
the files can be rebuilt at any time with the same bytes.
"""
import os
import struct
import zlib

# The 16 colours of the classic 4-bit palette, except that entry 5 is the transparent
# background.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (255, 255, 255), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_RED, DARK_GREEN, OLIVE, NAVY, CLEAR, TEAL, SILVER = range(8)
GREY, RED, GREEN, YELLOW, BLUE, MAGENTA, CYAN, WHITE = range(8, 16)


class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[CLEAR] * size for _ in range(size)]

    def put(self, x, y, colour):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.pixels[y][x] = colour

    def box(self, left, top, right, bottom, fill, outline=None):
        """Fills the box with corners (left, top) and (right, bottom), both included."""
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                edge = x in (left, right) or y in (top, bottom)
                self.put(x, y, outline if edge and outline is not None else fill)

    def disc(self, cx, cy, radius, colour):
        for y in range(self.size):
            for x in range(self.size):
                if (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius:
                    self.put(x, y, colour)


def page(canvas, left, top, right, bottom, fold, rows):
    """A white page with a folded corner, holding rows of coloured runs."""
    canvas.box(left, top, right, bottom, WHITE, BLACK)
    for i in range(fold):  # cut the corner, then draw the fold
        for x in range(right - fold + 1 + i, right + 1):
            canvas.put(x, top + i, CLEAR)
        canvas.put(right - fold + i, top + i, BLACK)
        canvas.put(right - fold, top + i, BLACK)
        canvas.put(right - fold + i, top + fold, BLACK)
    for y, runs in rows:
        x = left + 2
        for length, colour in runs:
            for dx in range(length):
                canvas.put(x + dx, y, colour)
                if canvas.size > 16:
                    canvas.put(x + dx, y + 1, colour)
            x += length


def picture(canvas, left, top, right, bottom, sun, sun_radius, hill_height):
    """A framed landscape: sky, sun and a green hill."""
    canvas.box(left, top, right, bottom, CYAN, BLACK)
    canvas.disc(sun[0], sun[1], sun_radius, YELLOW)
    width = right - left - 1
    for x in range(left + 1, right):
        t = (x - left) / width
        crest = bottom - 1 - int(hill_height * (1 - (2 * t - 0.8) ** 2))
        for y in range(max(crest, top + 1), bottom):
            canvas.put(x, y, GREEN if y == crest else DARK_GREEN)
    for x in range(left, right + 1):
        canvas.put(x, top, BLACK)
        canvas.put(x, bottom, BLACK)
    for y in range(top, bottom + 1):
        canvas.put(left, y, BLACK)
        canvas.put(right, y, BLACK)


def icon32():
    canvas = Canvas(32)
    page(canvas, 12, 9, 30, 30, 5, [
        (14, [(4, RED), (6, BLUE)]),
        (17, [(7, TEAL), (3, YELLOW), (4, RED)]),
        (20, [(2, BLUE), (9, GREY), (4, GREEN)]),
        (23, [(5, RED), (5, NAVY), (2, YELLOW)]),
        (26, [(8, GREEN), (4, MAGENTA)]),
    ])
    picture(canvas, 1, 1, 19, 18, (14, 6), 2.6, 6)
    return canvas


def icon16():
    canvas = Canvas(16)
    page(canvas, 6, 4, 15, 15, 3, [
        (8, [(2, RED), (3, BLUE)]),
        (10, [(3, TEAL), (3, YELLOW)]),
        (12, [(1, BLUE), (4, GREEN)]),
    ])
    picture(canvas, 0, 0, 9, 9, (6, 3), 1.2, 3)
    return canvas


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def write_png(path, canvas):
    rows = bytearray()
    for row in canvas.pixels:
        rows.append(0)  # no filter
        for x in range(0, canvas.size, 2):
            rows.append(row[x] << 4 | row[x + 1])
    header = struct.pack(">IIBBBBB", canvas.size, canvas.size, 4, 3, 0, 0, 0)
    palette = b"".join(struct.pack("BBB", *colour) for colour in PALETTE)
    alpha = bytes(0 if i == CLEAR else 255 for i in range(CLEAR + 1))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"PLTE", palette))
        f.write(chunk(b"tRNS", alpha))
        f.write(chunk(b"IDAT", zlib.compress(bytes(rows), 9)))
        f.write(chunk(b"IEND", b""))


def main():
    folder = os.path.join("res", "icons")
    os.makedirs(folder, exist_ok=True)
    write_png(os.path.join(folder, "kav-graphic-converter-32.png"), icon32())
    write_png(os.path.join(folder, "kav-graphic-converter-16.png"), icon16())


if __name__ == "__main__":
    main()
