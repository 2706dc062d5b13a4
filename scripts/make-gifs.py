#!/usr/bin/env python3
"""Writes tests/data/gif/: GIFs written by ImageMagick and Pillow and drawn here, each with the
frames it must give, and damaged GIFs in tests/data/gif/malformed/.

Run from the project root with Debian's python3 (the one with python3-pil; a python3 found
first on PATH may be another without Pillow) and imagemagick installed:
    /usr/bin/python3 scripts/make-gifs.py
The tests only read the files; they need neither program.

The frames are not taken from any decoder: this script reads each GIF itself (its records
and its LZW data, below) and composes the frames by the rules the reader follows:
- a frame's pixels other than its transparent index are drawn over the screen, its
  rectangle clipped to the logical screen; an index past its colour table is black
- then its disposal acts on that rectangle: 2 clears it to transparent, 3 puts back what was
  there before the frame (the empty screen for the first), any other value keeps it
- pixels nothing has drawn are transparent
- a GIF is a palette input when it has a global table, no local table, and its frames all
  name the same transparent index or none names one (then the first frame must cover the
  screen and no frame but the last may be disposed of by 2, nor the first by 3); the
  palette is the global table, grown to hold the transparent index, whose entry has alpha 0
Each composed animation is also checked against what was drawn for it, as it must look.

NAME.gif gives NAME.frames: a line "indices W H N T COUNT" (T -1 for none) followed by COUNT
palette entries of 4 bytes (red, green, blue, alpha) and N frames of W * H indices, or a line
"rgba W H N" followed by N frames of W * H RGBA pixels; rows top first.

Written by Pillow (P mode, index 0 the transparent one where there is one):
- pil-still           one frame of 8 colours, no transparency, interlaced (Pillow's default)
- pil-dispose-N       N = 0 to 3: four frames of a block moving over a transparent screen,
                      each frame saved with disposal N; Pillow writes each frame after the
                      first as its change from the frame before, which under disposal 3 does
                      not look as the frames handed to it did: the file is what counts
- pil-local           three frames whose palettes differ: local colour tables
- pil-plain           three frames, not interlaced
Written by ImageMagick's convert, from RGBA PNGs drawn here:
- im-still            one opaque frame
- im-none, im-background, im-previous
                      four frames of a block moving over a transparent screen, with -dispose
                      None, Background, Previous
- im-interlaced       three frames, -interlace GIF
- im-optimized        the same animation with -layers Optimize: frames cropped to what
                      changes, transparent where the frame before shows through
Drawn here (what neither writer makes):
- gif87a              GIF87a, two frames, no extensions at all
- offscreen           a screen of 12 x 10: frames reaching past its right and bottom edges,
                      one wholly outside it, the first not covering it
- previous-first      the first frame disposed of by 3, then a frame beside it
- beyond-table        a global table of 4 entries: indices 4 to 7 are black; transparent
                      index 6, past the table
- no-table            no colour table at all: every drawn pixel black
- mixed-transparency  one frame names index 1 transparent, the next none
- uncovered           no transparency, the first frame not covering the screen
- cleared-opaque      no transparency, the second of three frames disposed of by 2
- odd-disposal        disposal 5 (no meaning: kept) and an empty 0 x 0 frame
- interlaced-local    interlaced frames of 1 to 9 rows with local tables of 2 and 256 entries
- deferred-clear      LZW codes that fill the 4096-entry table and go on without a clear
- many-colours        two frames of 256 colours each in local tables, 511 colours together
                      (more than a palette holds: reduced into one); the first leaves a
                      column transparent, the second names index 0 transparent

Damaged (malformed/), each refused as corrupt: cut-in-lzw, cut-in-header, no-trailer,
bad-code (a code not yet in the table), early-end (the LZW end code before the last pixel),
unknown-record, long-gce (a Graphic Control Extension of 5 bytes), no-frames, empty-screen,
gif88a, bad-last-frame (sound but for its last frame's codes).
"""
import io
import os
import struct
import subprocess
import tempfile

from PIL import Image

OUT = os.path.join("tests", "data", "gif")
BAD = os.path.join(OUT, "malformed")


# ---- Reading a GIF, independently of any decoder.

def lzw_decode(min_size, data, pixel_count):
    """The indices an LZW stream gives; raises ValueError when it is damaged or short."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    size = min_size + 1
    table = [bytes([i]) for i in range(clear)] + [b"", b""]
    out = bytearray()
    previous = None
    bit = 0
    while len(out) < pixel_count:
        if bit + size > len(data) * 8:
            raise ValueError("cut short")
        code = (int.from_bytes(data[bit // 8:bit // 8 + 3], "little") >> (bit % 8)) & ((1 << size) - 1)
        bit += size
        if code == clear:
            size = min_size + 1
            table = table[:clear + 2]
            previous = None
            continue
        if code == end:
            raise ValueError("ends early")
        if previous is None:
            if code >= clear:
                raise ValueError("bad first code")
            entry = table[code]
        elif code < len(table):
            entry = table[code]
            if len(table) < 4096:
                table.append(previous + entry[:1])
        elif code == len(table) and len(table) < 4096:
            entry = previous + previous[:1]
            table.append(entry)
        else:
            raise ValueError("bad code")
        out += entry
        previous = entry
        if len(table) == 1 << size and size < 12:
            size += 1
    return bytes(out[:pixel_count])


def read_sub_blocks(data, at):
    blocks = bytearray()
    while True:
        length = data[at]
        at += 1
        if length == 0:
            return bytes(blocks), at
        blocks += data[at:at + length]
        at += length


def read_table(data, at, flags):
    count = 2 << (flags & 7)
    return [tuple(data[at + 3 * i:at + 3 * i + 3]) for i in range(count)], at + 3 * count


def read_gif(data):
    assert data[:6] in (b"GIF87a", b"GIF89a")
    width, height, flags = struct.unpack_from("<HHB", data, 6)
    at = 13
    global_table = None
    if flags & 0x80:
        global_table, at = read_table(data, at, flags)
    frames = []
    control = (None, 0)
    while data[at] != 0x3B:
        if data[at] == 0x21:
            label = data[at + 1]
            body, at = read_sub_blocks(data, at + 2)
            if label == 0xF9:
                transparent = body[3] if body[0] & 1 else None
                control = (transparent, (body[0] >> 2) & 7)
            continue
        assert data[at] == 0x2C
        left, top, w, h, flags = struct.unpack_from("<HHHHB", data, at + 1)
        at += 10
        local = None
        if flags & 0x80:
            local, at = read_table(data, at, flags)
        min_size = data[at]
        lzw, at = read_sub_blocks(data, at + 1)
        indices = lzw_decode(min_size, lzw, w * h) if w * h else b""
        rows = [indices[r * w:(r + 1) * w] for r in range(h)]
        if flags & 0x40:
            order = [y for first, step in ((0, 8), (4, 8), (2, 4), (1, 2)) for y in range(first, h, step)]
            placed = [None] * h
            for row, y in zip(rows, order):
                placed[y] = row
            rows = placed
        frames.append(dict(left=left, top=top, w=w, h=h, rows=rows, table=local,
                           transparent=control[0], disposal=control[1]))
        control = (None, 0)
    return width, height, global_table, frames


# ---- The rules.

def is_palette_input(global_table, frames, width, height):
    if global_table is None or any(f["table"] is not None for f in frames):
        return False
    named = {f["transparent"] for f in frames}
    if len(named) != 1:
        return False
    if named != {None}:
        return True
    first = frames[0]
    covers = first["left"] == 0 and first["top"] == 0 and first["w"] >= width and first["h"] >= height
    cleared = any(f["disposal"] == 2 for f in frames[:-1]) or (len(frames) > 1 and frames[0]["disposal"] == 3)
    return covers and not cleared


def compose(width, height, global_table, frames):
    """(kind, palette, transparent, frames): each frame a list of W * H pixels, an index or
    an (r, g, b, a) tuple."""
    indices = is_palette_input(global_table, frames, width, height)
    transparent = frames[0]["transparent"] if indices else None
    empty = (transparent if transparent is not None else 0) if indices else (0, 0, 0, 0)
    screen = [empty] * (width * height)
    composed = []
    for f in frames:
        table = f["table"] if f["table"] is not None else global_table or []
        area = [(f["left"] + x, f["top"] + y) for y in range(f["h"]) for x in range(f["w"])
                if f["left"] + x < width and f["top"] + y < height]
        saved = {p: screen[p[1] * width + p[0]] for p in area}
        for (x, y) in area:
            index = f["rows"][y - f["top"]][x - f["left"]]
            if index == f["transparent"]:
                continue
            if indices:
                screen[y * width + x] = index
            else:
                screen[y * width + x] = table[index] + (255,) if index < len(table) else (0, 0, 0, 255)
        composed.append(list(screen))
        for (x, y) in area:
            if f["disposal"] == 2:
                screen[y * width + x] = empty
            elif f["disposal"] == 3:
                screen[y * width + x] = saved[(x, y)]
    palette = None
    if indices:
        palette = [c + (255,) for c in global_table]
        if transparent is not None:
            palette += [(0, 0, 0, 255)] * (transparent + 1 - len(palette))
            palette[transparent] = palette[transparent][:3] + (0,)
    return indices, palette, transparent, composed


def frames_file(data):
    width, height, global_table, frames = read_gif(data)
    indices, palette, transparent, composed = compose(width, height, global_table, frames)
    if indices:
        head = "indices %d %d %d %d %d\n" % (width, height, len(composed),
                                               -1 if transparent is None else transparent, len(palette))
        body = b"".join(bytes(c) for c in palette) + b"".join(bytes(f) for f in composed)
    else:
        head = "rgba %d %d %d\n" % (width, height, len(composed))
        body = b"".join(bytes(p) for f in composed for p in f)
    return head.encode() + body, indices, palette, composed


def as_rgba(indices, palette, frame):
    if not indices:
        return frame
    return [(0, 0, 0, 0) if palette[i][3] == 0 else palette[i] if i < len(palette) else (0, 0, 0, 255)
            for i in frame]


def save(name, data, looks=None):
    """Writes NAME.gif and NAME.frames; `looks`, when given, is what each frame must look like
    (RGBA, every transparent pixel (0, 0, 0, 0))."""
    with open(os.path.join(OUT, name + ".gif"), "wb") as f:
        f.write(data)
    expected, indices, palette, composed = frames_file(data)
    if looks is not None:
        got = [[p if p[3] else (0, 0, 0, 0) for p in as_rgba(indices, palette, frame)] for frame in composed]
        assert got == [list(frame) for frame in looks], name + " does not look as drawn"
    with open(os.path.join(OUT, name + ".frames"), "wb") as f:
        f.write(expected)


# ---- Pictures, as lists of RGBA tuples.

def blank(w, h, colour=(0, 0, 0, 0)):
    return [colour] * (w * h)


def block(picture, w, x0, y0, bw, bh, colour):
    picture = list(picture)
    for y in range(y0, y0 + bh):
        for x in range(x0, x0 + bw):
            picture[y * w + x] = colour
    return picture


COLOURS = [(255, 0, 0, 255), (0, 160, 0, 255), (0, 0, 255, 255), (240, 200, 20, 255),
           (120, 40, 200, 255), (0, 200, 200, 255), (90, 90, 90, 255), (250, 250, 250, 255)]


def pattern(w, h, colours):
    """An asymmetric picture: diagonal bands, a marked top-left corner."""
    picture = [colours[(x + 2 * y) // 3 % len(colours)] for y in range(h) for x in range(w)]
    return block(picture, w, 0, 0, 2, 1, colours[-1])


def moving_block_frames(w, h, leave_trail, restore_first=False):
    """Four frames of a 5 x 4 block moving right and down over a transparent screen, with a
    fixed 3 x 3 marker in the corner drawn by the first frame."""
    looks = []
    screen = block(blank(w, h), w, 0, 0, 3, 3, COLOURS[6])
    for i in range(4):
        frame = block(screen, w, 2 + 4 * i, 1 + 3 * i, 5, 4, COLOURS[i])
        looks.append(frame)
        if leave_trail:
            screen = frame
    return looks


def to_p(picture, w, h, palette):
    """A P-mode image of `picture` over `palette` (index 0 transparent black)."""
    image = Image.new("P", (w, h))
    flat = []
    for c in palette:
        flat += c[:3]
    image.putpalette(flat + [0] * (768 - len(flat)))
    lookup = {c: i for i, c in enumerate(palette)}
    image.putdata([0 if p[3] == 0 else lookup[p] for p in picture])
    return image


def pillow_gif(images, **options):
    out = io.BytesIO()
    images[0].save(out, "GIF", save_all=len(images) > 1, append_images=images[1:], **options)
    return out.getvalue()


def write_pillow():
    w, h = 24, 18
    palette = [(0, 0, 0, 0)] + COLOURS
    still = pattern(w, h, COLOURS[:7] + [(10, 20, 30, 255)] * 1)
    save("pil-still", pillow_gif([to_p(still, w, h, palette[1:] + [(10, 20, 30, 255)])]), [still])
    for disposal in range(4):
        looks = moving_block_frames(w, h, leave_trail=disposal in (0, 1))
        frames = [to_p(f, w, h, palette) for f in looks]
        data = pillow_gif(frames, disposal=disposal, transparency=0, duration=100, loop=0, optimize=False)
        save("pil-dispose-%d" % disposal, data, looks if disposal != 3 else None)
    local = []
    for i in range(3):
        own = [(0, 0, 0, 0)] + [(40 * i + 10 * k, 255 - 30 * k, 60 * i, 255) for k in range(5)]
        local.append((to_p(pattern(w, h, own[1:]), w, h, own), pattern(w, h, own[1:])))
    save("pil-local", pillow_gif([p for p, _ in local], duration=100, optimize=False),
         [look for _, look in local])
    plain = [pattern(w, h, COLOURS[i:i + 4]) for i in range(3)]
    save("pil-plain", pillow_gif([to_p(f, w, h, palette) for f in plain], interlace=False,
                                 duration=100, optimize=False), plain)


def write_png(picture, w, h, path):
    image = Image.new("RGBA", (w, h))
    image.putdata(picture)
    image.save(path)


def magick_gif(pictures, w, h, *options):
    with tempfile.TemporaryDirectory() as scratch:
        inputs = []
        for i, picture in enumerate(pictures):
            inputs.append(os.path.join(scratch, "f%d.png" % i))
            write_png(picture, w, h, inputs[-1])
        out = os.path.join(scratch, "out.gif")
        subprocess.run(["convert", *options, *inputs, out], check=True)
        with open(out, "rb") as f:
            return f.read()


def write_magick():
    w, h = 22, 17
    still = pattern(w, h, COLOURS)
    save("im-still", magick_gif([still], w, h), [still])
    for name, dispose, trail in (("none", "None", True), ("background", "Background", False),
                                 ("previous", "Previous", False)):
        looks = moving_block_frames(w, h, leave_trail=trail)
        save("im-" + name, magick_gif(looks, w, h, "-dispose", dispose, "-delay", "10"), looks)
    plain = [pattern(w, h, COLOURS[i:i + 5]) for i in range(3)]
    save("im-interlaced", magick_gif(plain, w, h, "-interlace", "GIF", "-delay", "10"), plain)
    looks = moving_block_frames(w, h, leave_trail=False)
    save("im-optimized", magick_gif(looks, w, h, "-dispose", "Background", "-delay", "10", "-layers",
                                    "Optimize"), looks)


# ---- Writing GIFs by hand.

def lzw_encode(min_size, indices):
    """Every index as its own code, with a clear code before the table would grow past 4096
    (or, with `deferred`, never)."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    codes = []  # (code, width)
    size, next_code, first = min_size + 1, end + 1, True
    codes.append((clear, size))
    for index in indices:
        if next_code >= 4000:
            codes.append((clear, size))
            size, next_code, first = min_size + 1, end + 1, True
        codes.append((index, size))
        if not first:
            next_code += 1
            if next_code == 1 << size and size < 12:
                size += 1
        first = False
    codes.append((end, size))
    return pack_codes(codes)


def pack_codes(codes):
    value, bits = 0, 0
    for code, width in codes:
        value |= code << bits
        bits += width
    return value.to_bytes((bits + 7) // 8, "little")


def sub_blocks(data):
    out = bytearray()
    for at in range(0, len(data), 255):
        chunk = data[at:at + 255]
        out += bytes([len(chunk)]) + chunk
    return bytes(out) + b"\0"


def table_bytes(table):
    bits = max(1, (len(table) - 1).bit_length())
    padded = list(table) + [(0, 0, 0)] * ((1 << bits) - len(table))
    return bits - 1, b"".join(bytes(c) for c in padded)


def gce(disposal=0, transparent=None, length=4):
    flags = disposal << 2 | (1 if transparent is not None else 0)
    body = bytes([flags, 10, 0, transparent or 0]) + b"\0" * (length - 4)
    return b"\x21\xf9" + bytes([length]) + body + b"\0"


def image(left, top, w, h, rows, table=None, interlace=False, min_size=None, lzw=None):
    flags = 0x40 if interlace else 0
    local = b""
    if table is not None:
        bits, local = table_bytes(table)
        flags |= 0x80 | bits
    if interlace:
        rows = [rows[y] for first, step in ((0, 8), (4, 8), (2, 4), (1, 2)) for y in range(first, h, step)]
    if min_size is None:
        min_size = max(2, max([i for r in rows for i in r] + [1]).bit_length())
    data = lzw if lzw is not None else lzw_encode(min_size, [i for r in rows for i in r])
    return (b"\x2c" + struct.pack("<HHHHB", left, top, w, h, flags) + local + bytes([min_size]) +
            sub_blocks(data))


def gif(width, height, table, *records, version=b"89a", trailer=True):
    flags, global_bytes = 0, b""
    if table is not None:
        bits, global_bytes = table_bytes(table)
        flags = 0x80 | 0x70 | bits
    head = b"GIF" + version + struct.pack("<HHBBB", width, height, flags, 0, 0) + global_bytes
    return head + b"".join(records) + (b";" if trailer else b"")


def grid(w, h, f):
    return [[f(x, y) for x in range(w)] for y in range(h)]


RGB = [c[:3] for c in COLOURS]


def write_drawn():
    save("gif87a", gif(10, 8, RGB, image(0, 0, 10, 8, grid(10, 8, lambda x, y: (x + y) % 8)),
                       image(2, 2, 4, 3, grid(4, 3, lambda x, y: 7 - x)), version=b"87a"))
    save("offscreen", gif(12, 10, RGB,
                          gce(1, 0), image(3, 2, 5, 4, grid(5, 4, lambda x, y: (x * y) % 8)),
                          gce(1, 0), image(9, 7, 6, 5, grid(6, 5, lambda x, y: 1 + (x + y) % 7)),
                          gce(0, 0), image(20, 30, 3, 3, grid(3, 3, lambda x, y: 2)),
                          gce(2, 0), image(0, 8, 14, 3, grid(14, 3, lambda x, y: 3 + x % 5))))
    save("previous-first", gif(8, 6, RGB, gce(3), image(0, 0, 8, 6, grid(8, 6, lambda x, y: x % 8)),
                               gce(0, 5), image(4, 1, 4, 4, grid(4, 4, lambda x, y: 5 if x == y else 1))))
    save("beyond-table", gif(6, 5, RGB[:4], gce(0, 6), image(0, 0, 6, 5, grid(6, 5, lambda x, y: (x + y) % 8)),
                             gce(1, 6), image(1, 1, 3, 3, grid(3, 3, lambda x, y: 6 if x == 1 else 5)),
                             gce(0, 6), image(0, 0, 2, 2, grid(2, 2, lambda x, y: 7))))
    save("no-table", gif(5, 4, None, gce(0, 2), image(0, 0, 5, 4, grid(5, 4, lambda x, y: (x + y) % 3))))
    save("mixed-transparency", gif(6, 4, RGB, gce(1, 1), image(0, 0, 6, 4, grid(6, 4, lambda x, y: x % 3)),
                                   gce(1), image(0, 0, 3, 2, grid(3, 2, lambda x, y: 1))))
    save("uncovered", gif(6, 4, RGB, image(1, 1, 3, 2, grid(3, 2, lambda x, y: 1 + x)),
                          image(0, 0, 2, 2, grid(2, 2, lambda x, y: 5))))
    save("cleared-opaque", gif(6, 4, RGB, image(0, 0, 6, 4, grid(6, 4, lambda x, y: 4)),
                               gce(2), image(1, 1, 3, 2, grid(3, 2, lambda x, y: 2)),
                               gce(1), image(4, 0, 2, 2, grid(2, 2, lambda x, y: 3))))
    save("odd-disposal", gif(6, 4, RGB, gce(5, 0), image(0, 0, 6, 4, grid(6, 4, lambda x, y: 1 + x % 4)),
                             gce(2, 0), image(3, 3, 0, 0, []),
                             gce(1, 0), image(2, 1, 2, 2, grid(2, 2, lambda x, y: 0 if x == y else 6))))
    big = [(k, 255 - k, (7 * k) % 256) for k in range(256)]
    records = [gce(1, 0)]
    for rows in range(1, 10):
        table = big if rows % 2 else RGB[:2]
        records += [gce(1, 0), image(rows - 1, 0, 3, rows, grid(3, rows, lambda x, y: (x + 3 * y + rows) % len(table)),
                                     table=table, interlace=True)]
    save("interlaced-local", gif(12, 9, RGB, *records))
    long_run = [(x * 7 + y * 3) % 16 for y in range(90) for x in range(60)]
    rows = [long_run[y * 60:(y + 1) * 60] for y in range(90)]
    deferred = lzw_deferred(4, long_run)
    sixteen = [(16 * k, 8 * k, 255 - 16 * k) for k in range(16)]
    save("deferred-clear", gif(60, 90, sixteen, image(0, 0, 60, 90, rows, min_size=4, lzw=deferred)))
    plane = lambda blue: [(16 * (k % 16) + 4, 16 * (k // 16) + 4, blue) for k in range(256)]
    square = grid(16, 16, lambda x, y: 16 * y + x)
    save("many-colours", gif(17, 16, None, gce(1), image(0, 0, 16, 16, square, table=plane(40)),
                             gce(1, 0), image(1, 0, 16, 16, square, table=plane(200))))


def lzw_deferred(min_size, indices):
    """Literal codes only, no clear after the first: the table fills at 4096 entries and
    stays full (a deferred clear), codes staying 12 bits wide."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    codes = [(clear, min_size + 1)]
    size, next_code = min_size + 1, end + 1
    for n, index in enumerate(indices):
        codes.append((index, size))
        if n > 0 and next_code < 4096:
            next_code += 1
            if next_code == 1 << size and size < 12:
                size += 1
    codes.append((end, size))
    assert next_code == 4096
    return pack_codes(codes)


def write_malformed():
    good = gif(6, 4, RGB, gce(1, 0), image(0, 0, 6, 4, grid(6, 4, lambda x, y: (x + y) % 8)),
               gce(1, 0), image(1, 1, 3, 2, grid(3, 2, lambda x, y: 5)))
    cases = {
        "cut-in-lzw": good[:good.index(b"\x2c", 40) + 14],
        "cut-in-header": good[:20],
        "no-trailer": good[:-1],
        "bad-code": gif(4, 2, RGB, image(0, 0, 4, 2, [[0] * 4] * 2, min_size=3,
                                          lzw=pack_codes([(8, 4), (1, 4), (14, 4), (9, 4)]))),
        "early-end": gif(4, 2, RGB, image(0, 0, 4, 2, [[0] * 4] * 2, min_size=3,
                                           lzw=pack_codes([(8, 4), (1, 4), (2, 4), (9, 4)]))),
        "unknown-record": gif(4, 2, RGB, b"\x40\x00", image(0, 0, 4, 2, [[1] * 4] * 2)),
        "long-gce": gif(4, 2, RGB, gce(1, 0, length=5), image(0, 0, 4, 2, [[1] * 4] * 2)),
        "no-frames": gif(4, 2, RGB, gce(1, 0)),
        "empty-screen": gif(0, 2, RGB, image(0, 0, 4, 2, [[1] * 4] * 2)),
        "gif88a": gif(4, 2, RGB, image(0, 0, 4, 2, [[1] * 4] * 2), version=b"88a"),
        # Sound up to its last frame, whose codes name an entry not yet in the table: found
        # only when that frame is decoded, after the frames before it were made.
        "bad-last-frame": gif(4, 2, RGB, image(0, 0, 4, 2, [[1] * 4] * 2),
                              image(0, 0, 4, 2, [[0] * 4] * 2, min_size=3,
                                    lzw=pack_codes([(8, 4), (1, 4), (14, 4), (9, 4)]))),
    }
    for name, data in cases.items():
        with open(os.path.join(BAD, name + ".gif"), "wb") as f:
            f.write(data)


def main():
    os.makedirs(BAD, exist_ok=True)
    write_pillow()
    write_magick()
    write_drawn()
    write_malformed()


if __name__ == "__main__":
    main()
