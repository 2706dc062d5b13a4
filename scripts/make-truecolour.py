#!/usr/bin/python3
"""Writes tests/data/truecolour/: truecolour and alpha pictures as art tools save them, each
holding one of the small pictures below; tests/truecolour_test.cpp lists what each must read as.

Run from the project root with Debian's python3, imagemagick and python3-pil installed:
    scripts/make-truecolour.py

Pictures (4 x 3 unless said, rows top first):
- SPRITE   RGBA: red, green, blue, clear; white, a blue-grey at alpha 127 and the same at 128,
           orange; red again, (1, 2, 3), clear, grey. Clear pixels are (0, 0, 0, 0).
- GREY     grey and alpha: levels 0, 50 ... 250, 25, 75 ... 255; alphas 255, 0, 127, 128,
           255, 255, 0, 255, 255 ...
- EXACT16  8 colours of 4 x 2 whose channels 16-bit BMPs hold exactly (5 bits: 0, 66, 132,
           255; 6 bits: 0, 65, 130, 255; 4 bits: multiples of 17)
- INDEXED  256 palette entries (i, 255 - i, 3i mod 256), entry 0 transparent, indices
           0 1 2 255 / 0 5 255 3 / 1 1 0 4

Files:
- sprite.pil.png, sprite.im.png          RGBA, by Pillow and by ImageMagick (PNG32:)
- sprite16.im.png, sprite-rgb16.im.png   16 bits a sample (PNG64:, PNG48:), each sample its
                                         8-bit value in the high byte and 0xFF in the low one
- sprite-rgb.pil.png                     RGB (alpha dropped)
- sprite-rgb-trns.pil.png                RGB with black as the tRNS colour key
- grey-alpha.pil.png                     grey and alpha (Pillow's LA)
- grey-trns.pil.png                      8-bit grey, level 100 keyed by tRNS
- indexed-trns0.pil.png                  INDEXED as a palette PNG, tRNS giving entry 0 alpha 0
- sprite.pil.bmp                         24 bits (Pillow's RGB)
- sprite-rgba.pil.bmp                    Pillow's RGBA: 32 bits, 40-byte header, no alpha mask
- sprite.im.bmp                          24 bits, ImageMagick's 124-byte header
- sprite-rgba.im.bmp                     32 bits, BI_BITFIELDS with an alpha mask (V5 header)
- exact16-565.im.bmp, exact16-555.im.bmp 16 bits, BI_BITFIELDS, by ImageMagick
- exact16-4444.im.bmp                    16 bits with 4 bits of alpha (EXACT4444: multiples
                                         of 17, alphas 255, 119, 136, 0, then 255)
- colours256.pil.png                     16 x 16 RGB of 256 colours, (16x, 16y, x ^ y);
  colours257.pil.png                     and with a 17th row of one more colour, (1, 1, 1)
- sprite-adam7.im.png                    sprite.im.png interlaced
Drawn here, what neither program writes:
- exact16-555-rgb.bmp                    16 bits uncompressed (5-5-5), 40-byte header
- sprite-v5-rgb.bmp                      32 bits uncompressed, V5 header with an alpha mask
- sprite-alphabitfields.bmp              BI_ALPHABITFIELDS after a 40-byte header, the masks
                                         in the order red, green, blue, alpha from the lowest
                                         byte
- sprite-zero-alpha.bmp                  V5 header with an alpha mask, every alpha 0
- ten-bits.bmp                           32 bits, 10-10-10 masks: values 1023, 512, 100, 0
- grey16-key.png                         16-bit grey, key 0x1234: 0x1234, 0x12FF, 0, 0xFFFF
- rgb16-key.png                          16-bit RGB, key (0x1000, 0x2000, 0x3000): that, then
                                         (0x1001, 0x2000, 0x3000)
The files are rebuilt with the same bytes every time.
"""
import os
import struct
import subprocess
import tempfile
import zlib

from PIL import Image

OUT = os.path.join("tests", "data", "truecolour")

CLEAR = (0, 0, 0, 0)
SPRITE = (4, 3, [
    (255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255), CLEAR,
    (255, 255, 255, 255), (16, 32, 48, 127), (16, 32, 48, 128), (200, 100, 50, 255),
    (255, 0, 0, 255), (1, 2, 3, 255), CLEAR, (128, 128, 128, 255),
])
GREY = (4, 3, list(zip([0, 50, 100, 150, 200, 250, 25, 75, 125, 175, 225, 255],
                       [255, 0, 127, 128, 255, 255, 0, 255, 255, 255, 255, 255])))
EXACT16 = (4, 2, [
    (255, 0, 0), (0, 130, 0), (0, 0, 132), (66, 65, 255),
    (0, 0, 0), (255, 255, 255), (132, 130, 66), (255, 65, 0),
])
EXACT4444 = (4, 2, [
    (255, 0, 0, 255), (0, 136, 0, 119), (0, 0, 68, 136), (17, 34, 51, 0),
    (0, 0, 0, 255), (255, 255, 255, 255), (136, 136, 68, 255), (255, 68, 0, 255),
])
INDEXED = (4, 3, [0, 1, 2, 255, 0, 5, 255, 3, 1, 1, 0, 4])
INDEXED_PALETTE = [(i, 255 - i, (3 * i) % 256) for i in range(256)]


def pil_image(picture, mode):
    width, height, pixels = picture
    image = Image.new(mode, (width, height))
    image.putdata(pixels)
    return image


def imagemagick(raw_format, picture, depth, arguments, path, sample=lambda v: v):
    """`picture` handed to ImageMagick as raw samples of `depth` bits, written to `path`."""
    width, height, pixels = picture
    pack = ">H" if depth == 16 else "B"
    data = b"".join(struct.pack(pack, sample(v)) for pixel in pixels for v in pixel)
    with tempfile.NamedTemporaryFile(suffix=".raw") as raw:
        raw.write(data)
        raw.flush()
        subprocess.run(["convert", "-size", f"{width}x{height}", "-depth", str(depth),
                        "-endian", "MSB", f"{raw_format}:{raw.name}", *arguments,
                        "-define", "png:exclude-chunks=date,time", path], check=True)


def high_byte(v):
    return v * 256 + 0xFF


# ---- Files drawn here.

def bmp(info, masks_after, rows):
    offset = 14 + len(info) + len(masks_after)
    return struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset) + info + \
        masks_after + rows


def info_header(size, width, height, bits, compression, masks=b""):
    fields = struct.pack("<IiiHHIIiiII", size, width, height, 1, bits, compression, 0, 2835,
                         2835, 0, 0)
    return (fields + masks + bytes(size))[:size]


def rows_of(picture, bits, pack_pixel):
    """Bottom row first, each padded to 4 bytes."""
    width, height, pixels = picture
    stride = (width * bits + 31) // 32 * 4
    out = b""
    for y in range(height - 1, -1, -1):
        row = b"".join(pack_pixel(p) for p in pixels[y * width:(y + 1) * width])
        out += row + bytes(stride - len(row))
    return out


def argb(p):
    return struct.pack("<I", p[3] << 24 | p[0] << 16 | p[1] << 8 | p[2])


def drawn_bmps():
    width, height, _ = SPRITE
    alpha_masks = struct.pack("<IIII", 0xFF0000, 0xFF00, 0xFF, 0xFF000000)
    bgra = lambda p: bytes([p[2], p[1], p[0], p[3]])
    rgba_masks = struct.pack("<IIII", 0xFF, 0xFF00, 0xFF0000, 0xFF000000)
    rgba = lambda p: bytes(p)
    w16, h16, exact = EXACT16
    five = lambda v: v * 31 // 255  # rounded down, as ImageMagick does
    ten_bits = (4, 1, [1023, 512, 100, 0])
    return [
        ("exact16-555-rgb.bmp", bmp(info_header(40, w16, h16, 16, 0), b"", rows_of(
            EXACT16, 16, lambda p: struct.pack("<H", five(p[0]) << 10 | five(p[1]) << 5 |
                                               five(p[2]))))),
        ("sprite-v5-rgb.bmp", bmp(info_header(124, width, height, 32, 0, bytes(12) +
                                              struct.pack("<I", 0xFF000000)), b"",
                                  rows_of(SPRITE, 32, bgra))),
        ("sprite-alphabitfields.bmp", bmp(info_header(40, width, height, 32, 6), rgba_masks,
                                          rows_of(SPRITE, 32, rgba))),
        ("sprite-zero-alpha.bmp", bmp(info_header(124, width, height, 32, 3, alpha_masks), b"",
                                      rows_of(SPRITE, 32, lambda p: bgra(p[:3] + (0,))))),
        ("ten-bits.bmp", bmp(info_header(40, 4, 1, 32, 3),
                             struct.pack("<III", 0x3FF00000, 0xFFC00, 0x3FF),
                             rows_of(ten_bits, 32, lambda v: struct.pack(
                                 "<I", v << 20 | (1023 - v) << 10 | v // 2)))),
    ]


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(width, height, colour_type, rows, trns):
    ihdr = struct.pack(">IIBBBBB", width, height, 16, colour_type, 0, 0, 0)
    stream = zlib.compress(b"".join(b"\x00" + row for row in rows), 9)
    return b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"tRNS", trns) + \
        png_chunk(b"IDAT", stream) + png_chunk(b"IEND", b"")


def drawn_pngs():
    grey = [0x1234, 0x12FF, 0, 0xFFFF]
    rgb = [(0x1000, 0x2000, 0x3000), (0x1001, 0x2000, 0x3000)]
    return [
        ("grey16-key.png", png(4, 1, 0, [struct.pack(">4H", *grey)], struct.pack(">H", 0x1234))),
        ("rgb16-key.png", png(2, 1, 2, [b"".join(struct.pack(">3H", *p) for p in rgb)],
                              struct.pack(">3H", 0x1000, 0x2000, 0x3000))),
    ]


def main():
    os.makedirs(OUT, exist_ok=True)
    for old in os.listdir(OUT):
        os.remove(os.path.join(OUT, old))
    at = lambda name: os.path.join(OUT, name)
    sprite = pil_image(SPRITE, "RGBA")
    sprite.save(at("sprite.pil.png"))
    sprite.convert("RGB").save(at("sprite-rgb.pil.png"))
    sprite.convert("RGB").save(at("sprite-rgb-trns.pil.png"), transparency=(0, 0, 0))
    sprite.convert("RGB").save(at("sprite.pil.bmp"))
    sprite.save(at("sprite-rgba.pil.bmp"))
    pil_image(GREY, "LA").save(at("grey-alpha.pil.png"))
    many = [(16 * (i % 16), 16 * (i // 16), (i % 16) ^ (i // 16)) for i in range(256)]
    pil_image((16, 16, many), "RGB").save(at("colours256.pil.png"))
    pil_image((16, 17, many + [(1, 1, 1)] * 16), "RGB").save(at("colours257.pil.png"))
    grey = Image.new("L", (4, 3))
    grey.putdata([level for level, _ in GREY[2]])
    grey.save(at("grey-trns.pil.png"), transparency=100)
    indexed = Image.new("P", (4, 3))
    indexed.putdata(INDEXED[2])
    indexed.putpalette([c for entry in INDEXED_PALETTE for c in entry])
    indexed.save(at("indexed-trns0.pil.png"), transparency=0)

    imagemagick("rgba", SPRITE, 8, [], "PNG32:" + at("sprite.im.png"))
    imagemagick("rgba", SPRITE, 16, [], "PNG64:" + at("sprite16.im.png"), high_byte)
    imagemagick("rgba", SPRITE, 8, ["-interlace", "PNG"], "PNG32:" + at("sprite-adam7.im.png"))
    rgb = (SPRITE[0], SPRITE[1], [p[:3] for p in SPRITE[2]])
    imagemagick("rgb", rgb, 16, [], "PNG48:" + at("sprite-rgb16.im.png"), high_byte)
    imagemagick("rgb", rgb, 8, ["-type", "TrueColor"], "BMP:" + at("sprite.im.bmp"))
    imagemagick("rgba", SPRITE, 8, [], "BMP:" + at("sprite-rgba.im.bmp"))
    for subtype in ("RGB565", "RGB555"):
        imagemagick("rgb", EXACT16, 8, ["-define", f"bmp:subtype={subtype}"],
                    "BMP:" + at(f"exact16-{subtype[3:]}.im.bmp"))
    imagemagick("rgba", EXACT4444, 8, ["-define", "bmp:subtype=ARGB4444"],
                "BMP:" + at("exact16-4444.im.bmp"))

    for name, data in drawn_bmps() + drawn_pngs():
        with open(at(name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
