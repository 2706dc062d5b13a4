#!/usr/bin/env python3
"""Writes tests/data/palette/: palette BMPs in every layout the reader takes, and palette and
grey PNGs, each beside the uncompressed 8-bit twin it must read as.

Run from the project root with Debian's python3, imagemagick and python3-pil installed:
    /usr/bin/python3 scripts/make-palette-bmps.py
The tests only read the files; they need neither program.

NAME.bmp is a twin: a picture drawn here, stored as an uncompressed 8-bit BMP (40-byte
header, rows bottom first, biClrUsed the number of colours). NAME.VARIANT.bmp and
NAME.VARIANT.png are the same picture stored another way; read, each must give the twin's
outputs byte for byte.

Pictures (45 x 13 unless said; the width is odd, so rows are padded in every depth):
- c2, c4, c12, c16, c256  2 to 256 colours: runs, noise, a hole of index 0 in the middle,
                          a row ending in 0s and two top rows of 0s
- grey                    256 shades of grey (a greyscale palette: i is (i, i, i))
- mono                    black and white
- dot                     1 x 1, two colours
- grey2, grey4            4 and 16 greys, level v being v * 255 / 3 and v * 255 / 15
- past                    c16's picture with only 10 palette entries: indices 10 to 15 have
                          none (black)

Variants:
- im-bmp, im-bmp2, im-bmp3 (+ -rle)  ImageMagick's convert from the twin, as BMP: (124-byte
                          header), BMP2: (12-byte OS/2 header) and BMP3: (40-byte header),
                          with and without -compress RLE; it writes 2 and 16 colours in 1 and
                          4 bits, and every RLE file in RLE8 with 256 entries
- pil-p, pil-l, pil-1     Pillow's P, L and 1 modes saved as BMP
- drawn here (what neither program writes): rle8 and rle4 with deltas (in a row and across
  rows), absolute blocks, early ends of line and an early end of bitmap; 2-bit rows; a
  top-down 4-bit picture; OS/2 2.x headers of 16, 24 and 64 bytes; OS/2 1.x core headers in
  2 and 4 bits, one with only the 12 entries its picture uses before bfOffBits, and the
  smallest one (dot.core.bmp: 36 bytes); core-sz, os2-64-sz and os2-40-sz, whose bfSize is
  the two headers' size (26, 78, 54), as some OS/2 writers leave it
- pil-p (.png)            Pillow's P mode saved as PNG: 1, 2, 4 or 8 bits as the palette's
                          length asks; pil-p-trns with a tRNS chunk (compared
                          with indices kept); pil-l and pil-1 grey PNGs
                          of 8 and 1 bits
- im-grey (.png)          ImageMagick's grey PNGs (8 and 1 bits) of grey and mono
- NAME.im.png             ImageMagick's palette PNGs: PNG8: and -type Palette, one of each
                          interlaced. ImageMagick orders and trims the palette its own way, so
                          the twin NAME.bmp of each is drawn from the file as Pillow reads it
                          (c2-png8, c16-png8, c256-png8, c16-palette, c2-png8-adam7,
                          c16-png8-adam7)
- drawn here (.png): grey PNGs of 2 and 4 bits, one interlaced; a 2-bit palette PNG
  interlaced; PLTEs shorter than the indices in 4 and 8 bits, the 8-bit one with tRNS, gAMA,
  sRGB and a private chunk that must be ignored
"""
import os
import struct
import subprocess
import zlib

from PIL import Image

OUT = os.path.join("tests", "data", "palette")
WIDTH, HEIGHT = 45, 13


# ---- Pictures: (width, height, pixels top row first, palette of (r, g, b)).

def drawn(colours):
    def pixel(x, y):
        if y < 2:
            return 0  # stored last: left to an early end of bitmap
        if 5 <= y <= 7 and 12 <= x < 30:
            return 0  # a hole, skipped by deltas
        if y == 9 and x >= 30:
            return 0  # the row ends early
        if y == 8 and x < 33:
            return 0  # stored right after row 9: skipped by a delta across rows
        if x < 12:
            return 1 + (y * 3) % (colours - 1)  # runs
        if x < 30:
            return (x * 7 + y * 13) % colours  # noise: absolute blocks
        return colours - 1 - y % colours if (x // 4) % 2 == 0 else (y + 1) % colours

    palette = [((i * 37) % 256, (i * 91 + colours) % 256, (i * 53) % 256) for i in range(colours)]
    pixels = [pixel(x, y) for y in range(HEIGHT) for x in range(WIDTH)]
    return WIDTH, HEIGHT, pixels, palette


def grey():
    pixels = [(x * 5 + y * 11) % 256 for y in range(HEIGHT) for x in range(WIDTH)]
    return WIDTH, HEIGHT, pixels, [(i, i, i) for i in range(256)]


def mono():
    pixels = [1 if (x // 3 + y) % 3 == 0 or x == y else 0
              for y in range(HEIGHT) for x in range(WIDTH)]
    return WIDTH, HEIGHT, pixels, [(0, 0, 0), (255, 255, 255)]


def grey_levels(bits):
    levels = 1 << bits
    pixels = [(x * 3 + y * 5 + x * y) % levels for y in range(HEIGHT) for x in range(WIDTH)]
    return WIDTH, HEIGHT, pixels, [(v * 255 // (levels - 1),) * 3 for v in range(levels)]


def past():
    width, height, pixels, palette = drawn(16)
    return width, height, pixels, palette[:10]


PICTURES = {
    "c2": drawn(2), "c4": drawn(4), "c12": drawn(12), "c16": drawn(16), "c256": drawn(256),
    "grey": grey(), "mono": mono(), "dot": (1, 1, [1], [(200, 10, 30), (5, 250, 90)]),
    "grey2": grey_levels(2), "grey4": grey_levels(4), "past": past(),
}


# ---- Rows.

def stored_rows(width, height, pixels, top_down=False):
    """Rows bottom first (or top first), as lists of indices."""
    rows = [pixels[y * width:(y + 1) * width] for y in range(height)]
    return rows if top_down else rows[::-1]


def pad4(data):
    return bytes(data) + bytes(-len(data) % 4)


def packed(width, height, pixels, bits, top_down=False):
    out = bytearray()
    for row in stored_rows(width, height, pixels, top_down):
        bits_row = 0
        for x, index in enumerate(row):
            bits_row |= index << (8 * ((width * bits + 7) // 8) - bits * (x + 1))
        out += pad4(bits_row.to_bytes((width * bits + 7) // 8, "big"))
    return bytes(out)


def rle_content(row, bits):
    """Codes for a stretch of pixels: runs (RLE4: of two alternating indices) and absolute
    blocks of three or more pixels, padded to 16 bits."""
    out = bytearray()

    def run_at(j):
        k = 1
        while j + k < len(row) and k < 255 and row[j + k] == row[j + (k % 2 if bits == 4 else 0)]:
            k += 1
        return k

    def run(j, k):
        value = row[j] if bits == 8 else row[j] << 4 | (row[j + 1] if k > 1 else 0)
        return bytes([k, value])

    i = 0
    while i < len(row):
        k = run_at(i)
        j = i
        while k < 4 and j < len(row) and j - i < 255 and run_at(j) < 4:
            j += 1
        if j - i < 3:
            out += run(i, k)
            i += k
            continue
        block = row[i:j]
        data = bytes(block) if bits == 8 else bytes(
            block[n] << 4 | (block[n + 1] if n + 1 < len(block) else 0)
            for n in range(0, len(block), 2))
        out += bytes([0, len(block)]) + data + bytes(len(data) % 2)
        i = j
    return bytes(out)


def stretches_of(row):
    """(x, pixels) of the parts of a row between stretches of four or more 0s."""
    stretches = []
    start = x = 0
    while x < len(row):
        if row[x] != 0:
            x += 1
            continue
        end = x
        while end < len(row) and row[end] == 0:
            end += 1
        if end - x >= 4:
            if x > start:
                stretches.append((start, row[start:x]))
            start = end
        x = end
    if start < len(row):
        stretches.append((start, row[start:]))
    return stretches


def rle(width, height, pixels, bits):
    """Stretches of four or more 0s are skipped: by a delta within a row or across rows, by
    an end of line and a delta, and after the last pixel that is not 0 by an end of bitmap."""
    out = bytearray()
    cx = cy = 0
    for y, row in enumerate(stored_rows(width, height, pixels)):
        for x, stretch in stretches_of(row):
            if y > cy and x < cx:
                out += b"\x00\x00"  # end of line
                cx, cy = 0, cy + 1
            while (cx, cy) != (x, y):
                dx, dy = min(x - cx, 255), min(y - cy, 255)
                out += bytes([0, 2, dx, dy])
                cx, cy = cx + dx, cy + dy
            out += rle_content(stretch, bits)
            cx += len(stretch)
    return bytes(out + b"\x00\x01")


# ---- Files.

def palette_bytes(palette, entry_size):
    return b"".join(bytes([b, g, r, 0][:entry_size]) for (r, g, b) in palette)


def info_header(size, width, height, bits, compression, colours, image_size):
    fields = struct.pack("<IiiHHIIiiII", size, width, height, 1, bits, compression, image_size,
                         2835, 2835, colours, 0)
    return (fields + bytes(64))[:size]


def bmp(header, palette, rows):
    offset = 14 + len(header) + len(palette)
    return struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset) + header + palette + rows


def twin(picture):
    width, height, pixels, palette = picture
    rows = b"".join(pad4(row) for row in stored_rows(width, height, pixels))
    header = info_header(40, width, height, 8, 0, len(palette), len(rows))
    return bmp(header, palette_bytes(palette, 4), rows)


def drawn_variants():
    """(name, bytes) of the files written here."""
    files = []

    def windows(name, bits, rows, compression=0, size=40, height=None, colours=None):
        width, h, _, palette = PICTURES[name]
        header = info_header(size, width, h if height is None else height, bits, compression,
                             len(palette) if colours is None else colours, len(rows))
        return bmp(header, palette_bytes(palette, 4), rows)

    def core(name, bits):
        width, height, pixels, palette = PICTURES[name]
        header = struct.pack("<IHHHH", 12, width, height, 1, bits)
        return bmp(header, palette_bytes(palette, 3), packed(width, height, pixels, bits))

    def rows_of(name, bits, coder=packed):
        width, height, pixels, _ = PICTURES[name]
        return coder(width, height, pixels, bits)

    width, height, pixels, _ = PICTURES["c16"]
    top_down = packed(width, height, pixels, 4, top_down=True)
    files += [
        ("c256.rle8.bmp", windows("c256", 8, rows_of("c256", 8, rle), compression=1)),
        ("c16.rle4.bmp", windows("c16", 4, rows_of("c16", 4, rle), compression=2)),
        ("c4.bits2.bmp", windows("c4", 2, rows_of("c4", 2))),
        ("c16.top-down.bmp", windows("c16", 4, top_down, height=-height)),
        # OS/2 2.x: 16 bytes end after the bit count (a full palette), 24 after the compression.
        ("c2.os2-16.bmp", windows("c2", 1, rows_of("c2", 1), size=16)),
        ("c4.os2-24.bmp", windows("c4", 2, rows_of("c4", 2), size=24)),
        ("c16.os2-64-rle4.bmp", windows("c16", 4, rows_of("c16", 4, rle), compression=2, size=64)),
        ("c256.os2-16.bmp", windows("c256", 8, rows_of("c256", 8), size=16)),
        ("c4.core.bmp", core("c4", 2)),
        ("c12.core.bmp", core("c12", 4)),  # 12 entries of 16: bfOffBits says so
        ("dot.core.bmp", core("dot", 1)),
        # bfSize as the two headers' size (26, 78, 54), which some OS/2 writers put there.
        ("c4.core-sz.bmp", headers_as_size(core("c4", 2))),
        ("c256.os2-64-sz.bmp", headers_as_size(windows("c256", 8, rows_of("c256", 8), size=64))),
        ("c16.os2-40-sz.bmp", headers_as_size(windows("c16", 4, rows_of("c16", 4)))),
    ]
    return files


def headers_as_size(data):
    """`data` with bfSize set to 14 + the info header's size."""
    info_size = struct.unpack_from("<I", data, 14)[0]
    return data[:2] + struct.pack("<I", 14 + info_size) + data[6:]


def imagemagick_variants(twin_path, stem):
    files = []
    for kind in ("BMP", "BMP2", "BMP3"):
        for compress in ([], ["-compress", "RLE"]):
            suffix = "-rle" if compress else ""
            name = f"{stem}.im-{kind.lower()}{suffix}.bmp"
            subprocess.run(["convert", twin_path, *compress, f"{kind}:" + os.path.join(OUT, name)],
                           check=True)
            files.append(name)
    return files


def pillow_image(picture, mode):
    width, height, pixels, palette = picture
    image = Image.new(mode, (width, height))
    if mode == "P":
        image.putpalette([c for colour in palette for c in colour])
    image.putdata([p * 255 for p in pixels] if mode == "1" else pixels)
    return image


# ---- PNG files.

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
PNG_GREY, PNG_PALETTE = 0, 3
# Adam7 passes: first column, first row, column step, row step.
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
         (0, 1, 1, 2)]


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_row(indices, bits):
    """One row with filter type 0: pixels high bits first, the last byte padded with 0s."""
    value = 0
    for index in indices:
        value = value << bits | index
    length = (len(indices) * bits + 7) // 8
    return b"\x00" + (value << (8 * length - len(indices) * bits)).to_bytes(length, "big")


def png(name, bits, colour_type, interlaced=False, before_plte=(), after_plte=()):
    width, height, pixels, own_palette = PICTURES[name]
    rows = [pixels[y * width:(y + 1) * width] for y in range(height)]
    passes = ADAM7 if interlaced else [(0, 0, 1, 1)]
    raw = bytearray()
    for x0, y0, dx, dy in passes:
        if x0 < width:
            raw += b"".join(png_row(row[x0::dx], bits) for row in rows[y0::dy])
    ihdr = struct.pack(">IIBBBBB", width, height, bits, colour_type, 0, 0, int(interlaced))
    plte = b""
    if colour_type == PNG_PALETTE:
        plte = png_chunk(b"PLTE", bytes(c for colour in own_palette for c in colour))
    return (PNG_SIGNATURE + png_chunk(b"IHDR", ihdr) + b"".join(before_plte) + plte +
            b"".join(after_plte) + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            png_chunk(b"IEND", b""))


def drawn_pngs():
    ignored = [png_chunk(b"gAMA", struct.pack(">I", 100000)), png_chunk(b"sRGB", b"\x00"),
               png_chunk(b"prVt", b"ignore me")]
    transparent = [png_chunk(b"tRNS", b"\x00\x80")]
    return [
        ("grey2.bits2.png", png("grey2", 2, PNG_GREY)),
        ("grey4.bits4.png", png("grey4", 4, PNG_GREY)),
        ("grey4.bits4-adam7.png", png("grey4", 4, PNG_GREY, interlaced=True)),
        ("c4.bits2-adam7.png", png("c4", 2, PNG_PALETTE, interlaced=True)),
        ("past.bits4.png", png("past", 4, PNG_PALETTE)),
        ("past.bits8-chunks.png",
         png("past", 8, PNG_PALETTE, before_plte=ignored, after_plte=transparent)),
    ]


def imagemagick_pngs():
    """(stem, arguments, output kind) of ImageMagick's palette PNGs."""
    return [
        ("c2-png8", "c2", [], "PNG8"), ("c16-png8", "c16", [], "PNG8"),
        ("c256-png8", "c256", [], "PNG8"), ("c16-palette", "c16", ["-type", "Palette"], "PNG"),
        ("c2-png8-adam7", "c2", ["-interlace", "PNG"], "PNG8"),
        ("c16-png8-adam7", "c16", ["-interlace", "PNG"], "PNG8"),
    ]


def convert_to_png(source, arguments, kind, path):
    # Without date and time chunks the files come out the same every time.
    subprocess.run(["convert", source, *arguments, "-define", "png:exclude-chunks=date,time",
                    f"{kind}:{path}"], check=True)


def main():
    os.makedirs(OUT, exist_ok=True)
    for old in os.listdir(OUT):
        os.remove(os.path.join(OUT, old))
    for name, picture in PICTURES.items():
        with open(os.path.join(OUT, f"{name}.bmp"), "wb") as f:
            f.write(twin(picture))
    for name, data in drawn_variants():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    for stem in ("c2", "c16", "c256"):
        imagemagick_variants(os.path.join(OUT, f"{stem}.bmp"), stem)
    for stem, mode in (("c256", "P"), ("grey", "L"), ("mono", "1")):
        pillow_image(PICTURES[stem], mode).save(os.path.join(OUT, f"{stem}.pil-{mode.lower()}.bmp"))
    for stem in ("c2", "c4", "c12", "c16", "c256", "dot"):
        pillow_image(PICTURES[stem], "P").save(os.path.join(OUT, f"{stem}.pil-p.png"))
    pillow_image(PICTURES["c16"], "P").save(os.path.join(OUT, "c16.pil-p-trns.png"), transparency=3)
    for stem, mode in (("grey", "L"), ("mono", "1")):
        pillow_image(PICTURES[stem], mode).save(os.path.join(OUT, f"{stem}.pil-{mode.lower()}.png"))
        convert_to_png(os.path.join(OUT, f"{stem}.bmp"), ["-type", "Grayscale"], "PNG",
                       os.path.join(OUT, f"{stem}.im-grey.png"))
    for name, data in drawn_pngs():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    for stem, source, arguments, kind in imagemagick_pngs():
        path = os.path.join(OUT, f"{stem}.im.png")
        convert_to_png(os.path.join(OUT, f"{source}.bmp"), arguments, kind, path)
        image = Image.open(path)
        assert image.mode == "P", path
        entries = image.getpalette()
        picture = (image.width, image.height, list(image.getdata()),
                   [tuple(entries[i:i + 3]) for i in range(0, len(entries), 3)])
        with open(os.path.join(OUT, f"{stem}.bmp"), "wb") as f:
            f.write(twin(picture))


if __name__ == "__main__":
    main()
