#!/usr/bin/env python3
"""Writes tests/data/malformed/: damaged 8-bit BMPs and PNGs and the reader result each must
give.

Run from the project root: python3 scripts/make-malformed.py
Every file is the same small valid picture (base.bmp: 5 x 3, so each row is padded to 8
bytes; 1102 bytes in all) with one thing broken:

- truncated-N.bmp        the first N bytes only (every early end of file that matters: the
                         signature, the file header, the info header, the palette, the rows)
- FIELD-zero.bmp,        one header field set to 0, to its largest value, and to a negative
  FIELD-max.bmp,         value (for unsigned fields: the top bit set, what a reader that
  FIELD-negative.bmp     took them as signed would see as negative); fields the reader
                         ignores must still give "ok"
- overflow-*.bmp         width, height and stride whose products pass 2^32, some chosen so
                         that the product wrapped to 32 bits would fit the file exactly
- palette-*.bmp,         palette and rows that lie outside the file, or inside the headers
  rows-*.bmp
- rgb24-*.bmp,           a 5 x 3 24-bit BMP (rgb24-base.bmp) with its rows cut, compressed as
  bitfields-*.bmp        JPEG or PNG; 32-bit BMPs whose masks are cut short or not contiguous,
                         and an OS/2 header whose compression 3 is not masks
- png-*.png              a 5 x 3 palette PNG (png-base.png) with a bad CRC, cut short, with a
                         damaged image stream, without its PLTE; PNGs of the truecolour kinds
                         (truecolour, grey with alpha, 16 bits); tRNS chunks libpng would not
                         take (skipped); a header too large for memory, and one wider than
                         libpng's default limit of a million

expected.tsv lists, per file, the reader's result code and its message, or "ok" for a
file the reader accepts (the writers may still refuse it, for example when it has no
pixels). The files are rebuilt with the same bytes every time.
"""
import os
import struct
import zlib

OUT = os.path.join("tests", "data", "malformed")

WIDTH, HEIGHT = 5, 3
STRIDE = (WIDTH + 3) & ~3
HEADERS = 54
PALETTE_BYTES = 1024
ROWS_OFFSET = HEADERS + PALETTE_BYTES  # 1078
FILE_SIZE = ROWS_OFFSET + STRIDE * HEIGHT  # 1102

OK = (0, "ok")
NOT_BMP = (-3, "This is not a BMP file")
NOT_8_BIT = (-2, "This BMP file not 8 bit")
CORRUPT = (-4, "This BMP file is corrupt")
OUT_OF_MEMORY = (-5, "Out of memory")
COMPRESSED = (-6, "This BMP file is compressed")
PNG_CORRUPT = (-8, "This PNG file is corrupt")

# name, offset, struct format, signed; in file order.
FIELDS = [
    ("bfType", 0, "<H", False),
    ("bfSize", 2, "<I", False),
    ("bfReserved1", 6, "<H", False),
    ("bfReserved2", 8, "<H", False),
    ("bfOffBits", 10, "<I", False),
    ("biSize", 14, "<I", False),
    ("biWidth", 18, "<i", True),
    ("biHeight", 22, "<i", True),
    ("biPlanes", 26, "<H", False),
    ("biBitCount", 28, "<H", False),
    ("biCompression", 30, "<I", False),
    ("biSizeImage", 34, "<I", False),
    ("biXPelsPerMeter", 38, "<i", True),
    ("biYPelsPerMeter", 42, "<i", True),
    ("biClrUsed", 46, "<I", False),
    ("biClrImportant", 50, "<I", False),
]

# What the reader must say for each field at 0, at its largest value and negative. Why:
# - bfType: anything but "BM" is not a BMP file.
# - bfSize: below the 54 header bytes the block size would wrap, which is "Out of memory";
#   beyond the file it is corrupt.
# - bfOffBits: rows before the palette's start (0) or beyond the file are corrupt.
# - biSize: an info header below 40 bytes, or one that puts the palette beyond the file.
# - biWidth 0 and biHeight 0 are pictures without pixels; a largest width or height needs
#   rows far beyond the file; a negative width is corrupt, a negative height (-1: one row
#   stored top row first) is fine.
# - biCompression: 0 is the base picture's own value (raw rows).
# - biClrUsed: 0 means 256, more than 256 use the first 256.
EXPECTED_FIELDS = {
    "bfType": (NOT_BMP, NOT_BMP, NOT_BMP),
    "bfSize": (OUT_OF_MEMORY, CORRUPT, CORRUPT),
    "bfOffBits": (CORRUPT, CORRUPT, CORRUPT),
    "biSize": (CORRUPT, CORRUPT, CORRUPT),
    "biWidth": (OK, CORRUPT, CORRUPT),
    "biHeight": (OK, CORRUPT, OK),
    "biBitCount": (NOT_8_BIT, NOT_8_BIT, NOT_8_BIT),
    "biCompression": (OK, COMPRESSED, COMPRESSED),
    "biClrUsed": (OK, OK, OK),
}

TRUNCATED_LENGTHS = [0, 1, 2, 14, 53, 54, 100, HEADERS + PALETTE_BYTES - 1, ROWS_OFFSET,
                     FILE_SIZE - 1]


def base_picture():
    """5 x 3: index x + 10 * y + 1 at column x of row y (0 the top), padding bytes 0xEE."""
    rows = bytearray()
    for y in range(HEIGHT - 1, -1, -1):  # bottom row first
        rows += bytes(x + 10 * y + 1 for x in range(WIDTH)) + b"\xee" * (STRIDE - WIDTH)
    palette = b"".join(struct.pack("<BBBB", i, 255 - i, (i * 7) % 256, 0) for i in range(256))
    header = struct.pack("<2sIHHI", b"BM", FILE_SIZE, 0, 0, ROWS_OFFSET)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, len(rows), 2835, 2835, 0, 0)
    data = header + info + palette + bytes(rows)
    assert len(data) == FILE_SIZE
    return data


def with_field(data, offset, fmt, value):
    out = bytearray(data)
    struct.pack_into(fmt, out, offset, value)
    return bytes(out)


def field_values(fmt, signed):
    bits = struct.calcsize(fmt) * 8
    if signed:
        return {"zero": 0, "max": (1 << (bits - 1)) - 1, "negative": -1}
    return {"zero": 0, "max": (1 << bits) - 1, "negative": 1 << (bits - 1)}


def with_fields(data, **values):
    offsets = {name: (offset, fmt) for name, offset, fmt, _ in FIELDS}
    for name, value in values.items():
        offset, fmt = offsets[name]
        data = with_field(data, offset, fmt, value)
    return data


def damaged_files(base):
    """(name, bytes, (code, message)) for every damaged file."""
    files = [("base.bmp", base, OK)]  # the picture every other file damages
    for length in TRUNCATED_LENGTHS:
        expected = NOT_BMP if length < 2 else CORRUPT
        files.append((f"truncated-{length:04d}.bmp", base[:length], expected))

    for name, offset, fmt, signed in FIELDS:
        expected = EXPECTED_FIELDS.get(name, (OK, OK, OK))  # every other field is ignored
        for (label, value), result in zip(field_values(fmt, signed).items(), expected):
            files.append((f"{name}-{label}.bmp", with_field(base, offset, fmt, value), result))
    # The most negative width and height as well: their absolute value needs 32 bits.
    files.append(("biWidth-most-negative.bmp", with_fields(base, biWidth=-(1 << 31)), CORRUPT))
    files.append(("biHeight-most-negative.bmp", with_fields(base, biHeight=-(1 << 31)), CORRUPT))

    # Products that pass 2^32. Wrapped to 32 bits, the last three come out at exactly the
    # 24 row bytes the file holds, or at 0.
    overflows = [
        ("overflow-65536x65536.bmp", 65536, 65536),
        ("overflow-65536x-65536.bmp", 65536, -65536),
        ("overflow-stride-2pow31.bmp", (1 << 31) - 1, 1),  # width + 3 passes 2^31
        ("overflow-width-2pow30x4.bmp", 1 << 30, 4),  # 2^32 wraps to 0
        ("overflow-wraps-to-file.bmp", WIDTH, (1 << 29) + HEIGHT),  # 8 x (2^29 + 3)
        ("overflow-wraps-to-file-top-down.bmp", WIDTH, -((1 << 29) + HEIGHT)),
    ]
    for name, width, height in overflows:
        files.append((name, with_fields(base, biWidth=width, biHeight=height), CORRUPT))

    # Palette and rows that point outside the file or into the headers.
    files += [
        ("palette-beyond-end.bmp", with_fields(base, biSize=2000), CORRUPT),
        ("palette-past-end.bmp", with_fields(base, biSize=100, bfOffBits=1138), CORRUPT),
        ("palette-past-bfsize.bmp", with_fields(base, bfSize=1077), CORRUPT),
        ("rows-beyond-end.bmp", with_fields(base, bfOffBits=FILE_SIZE + 1), CORRUPT),
        ("rows-one-byte-short.bmp", with_fields(base, bfOffBits=ROWS_OFFSET + 1), CORRUPT),
        ("rows-in-header.bmp", with_fields(base, bfOffBits=20), CORRUPT),
        ("rows-before-palette.bmp", with_fields(base, bfOffBits=53), CORRUPT),
        ("rows-past-bfsize.bmp", with_fields(base, bfSize=FILE_SIZE - 1), CORRUPT),
        # The two headers' size stands for the file's length, as some writers have it.
        ("bfsize-headers-only.bmp", with_fields(base, bfSize=HEADERS), OK),
        ("bfsize-below-headers.bmp", with_fields(base, bfSize=HEADERS - 1), OUT_OF_MEMORY),
        # Rows that start inside the palette still lie inside the file: read as they are.
        ("rows-overlap-palette.bmp", with_fields(base, bfOffBits=ROWS_OFFSET - 1), OK),
    ]
    return files + truecolour_files()


def truecolour_bmp(bits, compression=0, info_size=40, masks=b"", rows=None):
    """A 5 x 3 BMP of `bits` a pixel, with `masks` after a 40-byte header or inside a longer
    one."""
    stride = (WIDTH * bits + 31) // 32 * 4
    rows = bytes((i * 37) % 256 for i in range(stride * HEIGHT)) if rows is None else rows
    extra = masks if info_size == 40 else b""
    info = struct.pack("<IiiHHIIiiII", info_size, WIDTH, HEIGHT, 1, bits, compression, 0, 0, 0,
                       0, 0)
    info += (masks + bytes(info_size))[:info_size - 40] if info_size > 40 else b""
    offset = 14 + info_size + len(extra)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    return header + info + extra + rows


def truecolour_files():
    base = truecolour_bmp(24)
    bitfields = struct.pack("<III", 0xFF0000, 0xFF00, 0xFF)
    return [
        ("rgb24-base.bmp", base, OK),
        ("rgb24-rows-cut.bmp", base[:-1], CORRUPT),
        ("rgb24-jpeg.bmp", with_fields(base, biCompression=4), COMPRESSED),
        ("rgb24-png.bmp", with_fields(base, biCompression=5), COMPRESSED),
        ("bitfields-base.bmp", truecolour_bmp(32, 3, masks=bitfields), OK),
        ("bitfields-cut.bmp", truecolour_bmp(32, 3, masks=bitfields)[:60], CORRUPT),
        ("bitfields-not-contiguous.bmp",
         truecolour_bmp(32, 3, masks=struct.pack("<III", 0xFF00FF, 0xFF00, 0xFF)), CORRUPT),
        ("bitfields-os2-huffman.bmp", truecolour_bmp(32, 3, info_size=64, masks=bitfields),
         COMPRESSED),
    ]


# ---- PNG files: chunks as (type, data), written with their CRCs unless told otherwise.

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png_chunk(kind, data, crc=None):
    crc = zlib.crc32(kind + data) if crc is None else crc
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc)


def ihdr(width, height, bits, colour_type):
    return (b"IHDR", struct.pack(">IIBBBBB", width, height, bits, colour_type, 0, 0, 0))


def png_file(chunks):
    return PNG_SIGNATURE + b"".join(png_chunk(kind, data) for kind, data in chunks)


def image_stream(width, height, bytes_per_pixel, level=9):
    row = b"\x00" + bytes(range(1, 1 + width * bytes_per_pixel))
    return zlib.compress(row * height, level)


def png_chunks(width=WIDTH, height=HEIGHT, bits=8, colour_type=3, stream=None):
    plte = [(b"PLTE", bytes(range(48)))] if colour_type == 3 else []
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour_type]
    stream = image_stream(width, height, channels * bits // 8) if stream is None else stream
    return [ihdr(width, height, bits, colour_type), (b"tEXt", b"Comment\x00base"), *plte,
            (b"IDAT", stream), (b"IEND", b"")]


def with_bad_crc(chunks, kind):
    return PNG_SIGNATURE + b"".join(
        png_chunk(k, data, crc=zlib.crc32(k + data) ^ 1 if k == kind else None)
        for k, data in chunks)


def with_trns(chunks, data):
    """`chunks` with a tRNS chunk of `data` just before IDAT."""
    at = next(i for i, (kind, _) in enumerate(chunks) if kind == b"IDAT")
    return chunks[:at] + [(b"tRNS", data)] + chunks[at:]


def damaged_pngs():
    """(name, bytes, (code, message)) for every PNG."""
    chunks = png_chunks()
    base = png_file(chunks)
    stream = image_stream(WIDTH, HEIGHT, 1)
    # Offsets in the base: the signature (8), IHDR (25), tEXt (24), PLTE (60), IDAT, IEND (12).
    idat_start = 8 + 25 + 24 + 60
    files = [("png-base.png", base, OK)]
    files += [(f"png-bad-crc-{kind.decode()}.png", with_bad_crc(chunks, kind), PNG_CORRUPT)
              for kind in (b"IHDR", b"tEXt", b"PLTE", b"IDAT", b"IEND")]
    for length in (7, 8, 20, 33, idat_start + 20, len(base) - 12, len(base) - 1):
        expected = NOT_BMP if length < 8 else PNG_CORRUPT
        files.append((f"png-truncated-{length:04d}.png", base[:length], expected))
    broken_adler = stream[:-1] + bytes([stream[-1] ^ 1])
    broken_deflate = stream[:2] + b"\xff" * (len(stream) - 2)
    files += [
        ("png-stream-cut.png", png_file(png_chunks(stream=stream[:-6])), PNG_CORRUPT),
        ("png-stream-bad-checksum.png", png_file(png_chunks(stream=broken_adler)), PNG_CORRUPT),
        ("png-stream-bad-deflate.png", png_file(png_chunks(stream=broken_deflate)), PNG_CORRUPT),
        ("png-stream-too-long.png",
         png_file(png_chunks(stream=image_stream(WIDTH, HEIGHT + 1, 1))), PNG_CORRUPT),
        ("png-no-plte.png", png_file([c for c in chunks if c[0] != b"PLTE"]), PNG_CORRUPT),
        ("png-palette-16-bits.png", png_file(png_chunks(bits=16)), PNG_CORRUPT),
        ("png-signature-bent.png", base[:7] + b"\x00" + base[8:], NOT_BMP),
        ("png-truecolour.png", png_file(png_chunks(colour_type=2)), OK),
        ("png-truecolour-alpha.png", png_file(png_chunks(colour_type=6)), OK),
        ("png-grey-alpha.png", png_file(png_chunks(colour_type=4)), OK),
        ("png-grey-16-bits.png", png_file(png_chunks(bits=16, colour_type=0)), OK),
        # tRNS chunks libpng would refuse are skipped, as every unused chunk is.
        ("png-trns-longer-than-plte.png", png_file(with_trns(chunks, bytes(17))), OK),
        ("png-trns-twice.png", png_file(with_trns(with_trns(chunks, b"\0"), b"\0")), OK),
        ("png-trns-after-idat.png", png_file(chunks[:-1] + [(b"tRNS", b"\0"), chunks[-1]]), OK),
        ("png-trns-in-rgba.png", png_file(with_trns(png_chunks(colour_type=6), b"\0\0")), OK),
        # The header alone decides: the image stream is never looked at.
        ("png-2pow31-1-square.png",
         png_file(png_chunks(width=(1 << 31) - 1, height=(1 << 31) - 1, stream=stream)),
         OUT_OF_MEMORY),
        ("png-wider-than-a-million.png",
         png_file(png_chunks(width=1_000_001, height=1, stream=zlib.compress(bytes(1_000_002), 9))),
         OK),
    ]
    return files


def main():
    os.makedirs(OUT, exist_ok=True)
    for old in os.listdir(OUT):
        if old.endswith((".bmp", ".png")):
            os.remove(os.path.join(OUT, old))
    lines = ["# file\tcode\tmessage (ok: the reader accepts the file)"]
    for name, data, (code, message) in damaged_files(base_picture()) + damaged_pngs():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
        lines.append(f"{name}\t{code}\t{message}")
    with open(os.path.join(OUT, "expected.tsv"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
