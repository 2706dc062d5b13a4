#!/usr/bin/env python3
"""Draws the program icons in res/icons/: 32 x 32 and 16 x 16, 16 colours each (the window
icons), and the desktop's sizes drawn to match them: a scalable SVG and smooth RGBA PNGs at
48, 64, 128 and 256 pixels.

Run from the project root: python3 scripts/make-icon.py
The icon is a small landscape picture lying on a page of coloured runs: a bitmap turned
into run-length data. The viewer's icon is the same landscape under a magnifying glass whose
lens shows four big pixels. The converter's small sizes are drawn from simple shapes into 4-bit palette PNGs;
the large ones from the same shapes as vectors on the 32-pixel grid, in the same colours,
written once as SVG and filled with 4 x 4 samples per pixel for the PNGs. Every file can be
rebuilt at any time with the same bytes.
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


# The 32-pixel icon as vectors on its grid: a pixel (x, y) covers [x, x + 1] x [y, y + 1].
# Each shape is ("rect", left, top, right, bottom), ("disc", cx, cy, radius) or
# ("polygon", points), with its palette colour; later shapes cover earlier ones.
ROOT2 = 2 ** 0.5


def hill_crest(x):
    """The top of the picture's hill at x, as icon32's picture() draws it."""
    t = (x - 1.5) / 17
    return 18 - 6 * (1 - (2 * t - 0.8) ** 2)


def hill(offset):
    xs = [2 + i / 4 for i in range(0, 69)]
    return [(x, min(hill_crest(x) + offset, 18)) for x in xs] + [(19, 18), (2, 18)]


def vector_icon():
    shapes = [
        # The page with its corner folded down, outlined in black.
        (("polygon", [(12, 9), (25.5, 9), (31, 14.5), (31, 31), (12, 31)]), BLACK),
        (("polygon", [(13, 10), (26.5 - ROOT2, 10), (30, 13.5 + ROOT2), (30, 30), (13, 30)]),
         WHITE),
        (("polygon", [(25.5, 9), (25.5, 14.5), (31, 14.5)]), BLACK),
        (("polygon", [(26.5, 10 + ROOT2), (26.5, 13.5), (30 - ROOT2, 13.5)]), WHITE),
    ]
    rows = [
        (14, [(4, RED), (6, BLUE)]),
        (17, [(7, TEAL), (3, YELLOW), (4, RED)]),
        (20, [(2, BLUE), (9, GREY), (4, GREEN)]),
        (23, [(5, RED), (5, NAVY), (2, YELLOW)]),
        (26, [(8, GREEN), (4, MAGENTA)]),
    ]
    for y, runs in rows:
        x = 14
        for length, colour in runs:
            shapes.append((("rect", x, y, x + length, y + 2), colour))
            x += length
    # The framed landscape: sky, sun and a green hill, over the page.
    shapes += [
        (("rect", 1, 1, 20, 19), BLACK),
        (("rect", 2, 2, 19, 18), CYAN),
        (("disc", 14.5, 6.5, 3.0), YELLOW),
        (("polygon", hill(0)), GREEN),
        (("polygon", hill(1)), DARK_GREEN),
    ]
    return shapes


def inside(shape, x, y):
    kind = shape[0]
    if kind == "rect":
        _, left, top, right, bottom = shape
        return left <= x < right and top <= y < bottom
    if kind == "disc":
        _, cx, cy, radius = shape
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
    points = shape[1]
    crossings = False
    for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            crossings = not crossings
    return crossings


def bounds(shape):
    kind = shape[0]
    if kind == "rect":
        return shape[1:]
    if kind == "disc":
        _, cx, cy, radius = shape
        return cx - radius, cy - radius, cx + radius, cy + radius
    xs = [x for x, _ in shape[1]]
    ys = [y for _, y in shape[1]]
    return min(xs), min(ys), max(xs), max(ys)


def render(shapes, size, samples=4):
    """RGBA rows of the shapes at `size` pixels, each pixel the mean of samples x samples."""
    grid = size * samples
    scale = grid / 32
    cover = [[None] * grid for _ in range(grid)]
    for shape, colour in shapes:
        left, top, right, bottom = bounds(shape)
        for gy in range(max(0, int(top * scale)), min(grid, int(bottom * scale) + 1)):
            y = (gy + 0.5) / scale
            row = cover[gy]
            for gx in range(max(0, int(left * scale)), min(grid, int(right * scale) + 1)):
                if inside(shape, (gx + 0.5) / scale, y):
                    row[gx] = colour
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            red = green = blue = alpha = 0
            for gy in range(py * samples, (py + 1) * samples):
                for gx in range(px * samples, (px + 1) * samples):
                    colour = cover[gy][gx]
                    if colour is not None:
                        r, g, b = PALETTE[colour]
                        red, green, blue, alpha = red + r, green + g, blue + b, alpha + 1
            if alpha == 0:
                row += bytes(4)
            else:
                row += bytes((round(red / alpha), round(green / alpha), round(blue / alpha),
                              round(255 * alpha / (samples * samples))))
        rows.append(bytes(row))
    return rows


def write_rgba_png(path, rows):
    size = len(rows)
    data = b"".join(b"\0" + row for row in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(data, 9)))
        f.write(chunk(b"IEND", b""))


def number(value):
    return f"{value:.3f}".rstrip("0").rstrip(".")


def write_svg(path, shapes):
    lines = ['<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" '
             'viewBox="0 0 32 32">']
    for shape, colour in shapes:
        fill = "#%02x%02x%02x" % PALETTE[colour]
        kind = shape[0]
        if kind == "rect":
            _, left, top, right, bottom = shape
            lines.append(f'  <rect x="{number(left)}" y="{number(top)}" '
                         f'width="{number(right - left)}" height="{number(bottom - top)}" '
                         f'fill="{fill}"/>')
        elif kind == "disc":
            _, cx, cy, radius = shape
            lines.append(f'  <circle cx="{number(cx)}" cy="{number(cy)}" r="{number(radius)}" '
                         f'fill="{fill}"/>')
        else:
            points = " ".join(f"{number(x)},{number(y)}" for x, y in shape[1])
            lines.append(f'  <polygon points="{points}" fill="{fill}"/>')
    lines.append("</svg>")
    with open(path, "w", encoding="ascii") as f:
        f.write("\n".join(lines) + "\n")


def viewer_hill(offset):
    """The hill of the viewer's larger landscape, as hill() is the converter's."""
    def crest(x):
        t = (x - 1.5) / 23
        return 21 - 7 * (1 - (2 * t - 0.8) ** 2) + offset
    xs = [2 + i / 4 for i in range(0, 89)]
    return [(x, min(crest(x), 21)) for x in xs] + [(24, 21), (2, 21)]


def viewer_vector_icon():
    """The viewer: the framed landscape, and over its corner a lens showing four pixels."""
    centre, outer, glass = 20.5, 7.5, 6
    reach = (outer - 0.5) / ROOT2  # along the diagonal, from the centre to the ring
    half = 1.5 / ROOT2  # half the handle's width, along each axis
    start, end = centre + reach, 30.5
    return [
        (("rect", 1, 2, 25, 22), BLACK),
        (("rect", 2, 3, 24, 21), CYAN),
        (("disc", 19, 8, 3.0), YELLOW),
        (("polygon", viewer_hill(0)), GREEN),
        (("polygon", viewer_hill(1)), DARK_GREEN),
        (("polygon", [(start + half, start - half), (end + half, end - half),
                      (end - half, end + half), (start - half, start + half)]), OLIVE),
        (("disc", centre, centre, outer), BLACK),
        (("disc", centre, centre, glass), WHITE),
        (("rect", 16.5, 16.5, 20.5, 20.5), RED),
        (("rect", 20.5, 16.5, 24.5, 20.5), YELLOW),
        (("rect", 16.5, 20.5, 20.5, 24.5), BLUE),
        (("rect", 20.5, 20.5, 24.5, 24.5), GREEN),
    ]


def sampled(shapes, size):
    """A palette canvas of the shapes at `size` pixels, each pixel the shape at its centre."""
    canvas = Canvas(size)
    scale = 32 / size
    for y in range(size):
        for x in range(size):
            for shape, colour in shapes:
                if inside(shape, (x + 0.5) * scale, (y + 0.5) * scale):
                    canvas.pixels[y][x] = colour
    return canvas


def write_icon_set(folder, name, shapes, small):
    """The 16-colour window icons (`small` gives the canvas of a size), the SVG and the
    smooth PNGs of one program."""
    for size in (32, 16):
        write_png(os.path.join(folder, f"{name}-{size}.png"), small(size))
    write_svg(os.path.join(folder, f"{name}.svg"), shapes)
    for size in (48, 64, 128, 256):
        write_rgba_png(os.path.join(folder, f"{name}-{size}.png"), render(shapes, size))


def main():
    folder = os.path.join("res", "icons")
    os.makedirs(folder, exist_ok=True)
    write_icon_set(folder, "kav-graphic-converter", vector_icon(),
                   lambda size: icon32() if size == 32 else icon16())
    viewer = viewer_vector_icon()
    write_icon_set(folder, "kav-view", viewer, lambda size: sampled(viewer, size))


if __name__ == "__main__":
    main()
