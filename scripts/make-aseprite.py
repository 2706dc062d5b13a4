#!/usr/bin/env python3
"""Writes tests/data/aseprite/: Aseprite files drawn here from the public description of the
format, each with the frames it must give, and damaged ones in tests/data/aseprite/malformed/.

Run from the project root with any python3 (it needs nothing beyond the standard library):
    python3 scripts/make-aseprite.py

Each sprite is described here once (layers, cels, palette, tags); the file is written from
the description and the frames are composed from it by the rules the reader follows:
- layers bottom first; a layer is drawn when it and every group above it are visible and it
  is an image layer (not a group, tilemap or reference layer); each cel on a drawn layer is
  drawn in the order of layer index + z-index, then z-index; a linked cel draws the cel it
  links to (its pixels, place and opacity)
- pixels: RGBA as stored, grayscale (v, a) as (v, v, v, a), indexed as the palette entry,
  the transparent index transparent outside the background layer, background pixels
  opaque, indices past the palette black
- opacity: alpha * cel opacity * layer opacity (times every group's above it), each product
  rounded, a * b / 255 as (a * b + 127) // 255; the layer's only when the header says it
  is valid
- normal blending of (s, A) over (d, D): A = 0 keeps d; A = 255 or D = 0 gives (s, A);
  otherwise W = D * (255 - A), T = A * 255 + W, colour (s * A * 255 + d * W + T // 2) // T,
  alpha (T + 127) // 255
- an indexed sprite is a palette input when every drawn layer and cel is opaque (255) and
  every palette entry but the transparent index is opaque; a drawn background layer must
  then cover the canvas in every frame, and there is no transparent index; otherwise the
  transparent index, whose entry has alpha 0. Other indexed sprites are composed as RGBA
  and keep their palette (the transparent entry's alpha 0).

NAME.aseprite gives NAME.frames: a line "indices W H N T COUNT" (T -1 for none) followed by
COUNT palette entries (red, green, blue, alpha) and N frames of W * H indices; or "own W H N
COUNT", the palette, and N frames of W * H RGBA pixels; or "rgba W H N" and the RGBA frames.

tags-alike.aseprite (in names/, without frames) has two tags, "walk!" and "walk?", whose
names are the same once sanitised: their frames would be one output.

Sprites:
- indexed-background  indexed, 3 frames, transparent index 4: a background layer covering the
                      canvas (with pixels of the transparent index), a layer with holes of
                      it, a visible group
                      holding a layer, a hidden layer and a hidden group whose layers have
                      cels; raw, compressed and linked cels; tags "walk" (0-1) and "jump!"
                      (1-2); a user data chunk, a colour profile and a cel extra chunk
- indexed-clear       indexed, 4 frames, no background, transparent index 3, the palette in a
                      0x2019 chunk and an old 0x0004 one that must be ignored; cels reaching
                      past every edge, one wholly outside; a z-index moving a cel under the
                      one of the layer below; a link to a link; a frame with no cels
- indexed-blended     indexed with a layer of opacity 128 inside a group of 200: composed;
                      a background layer whose pixels of the transparent index are drawn;
                      the palette only in an old 0x0011 chunk (levels of 0 to 63)
- indexed-old-palette indexed, palette input, the palette only in 0x0004 chunks with skips
- indexed-translucent-entry  opaque layers, but a palette entry of alpha 100: composed
- indexed-short-background  opaque layers, but the background's cel in the first frame does
                      not cover the canvas: composed
- grayscale           two layers, cel opacities, raw and compressed cels, partial alphas
- rgba                layer and cel opacity, nested visible groups with opacities, a hidden
                      group, a multiply layer (drawn as normal) linked in the second frame to
                      a cel of opacity 150, a reference layer, a tilemap
                      layer with its tileset and a tilemap cel, a chunk of unknown type
- rgba-no-opacity     the header's flag for layer opacity clear: layer opacities not applied
- rgba-many-chunks    a frame whose chunk count is in the new 32-bit field (old field 0xFFFF)
- zlib-bomb           a 4 x 2 RGBA cel whose zlib stream goes on for 16 MiB of zeros after its
                      32 bytes: only the declared size is inflated

Damaged (malformed/), each refused as corrupt: see MALFORMED below.
"""
import os
import struct
import zlib

OUT = os.path.join("tests", "data", "aseprite")
BAD = os.path.join(OUT, "malformed")
NAMES = os.path.join(OUT, "names")

VISIBLE, BACKGROUND, REFERENCE = 1, 8, 64
IMAGE, GROUP, TILEMAP = 0, 1, 2
DEPTH = {"indexed": 8, "gray": 16, "rgba": 32}


class Layer:
    def __init__(self, name, flags=VISIBLE | 2, kind=IMAGE, level=0, opacity=255, blend=0):
        self.name, self.flags, self.kind, self.level, self.opacity, self.blend = \
            name, flags, kind, level, opacity, blend


class Cel:
    """pixels: rows of pixels (ints for indexed, (v, a) for gray, (r, g, b, a) for rgba)."""

    def __init__(self, layer, x=0, y=0, pixels=None, opacity=255, kind="zlib", link=None, z=0):
        self.layer, self.x, self.y, self.opacity, self.kind, self.link, self.z = \
            layer, x, y, opacity, kind, link, z
        self.pixels = pixels or []
        self.w = len(self.pixels[0]) if self.pixels else 0
        self.h = len(self.pixels)


class Sprite:
    def __init__(self, mode, w, h, layers, frames, palette=None, old_palette=None,
                 old_six=None, transparent=0, flags=1, tags=(), extra=(), header_colours=0):
        self.mode, self.w, self.h, self.layers, self.frames = mode, w, h, layers, frames
        self.palette, self.old_palette, self.old_six = palette, old_palette, old_six
        self.transparent, self.flags, self.tags, self.extra = transparent, flags, tags, extra
        self.header_colours = header_colours


# ---- Writing.

def string(text):
    data = text.encode()
    return struct.pack("<H", len(data)) + data


def chunk(kind, data):
    return struct.pack("<IH", len(data) + 6, kind) + data


def pixel_bytes(mode, rows):
    out = bytearray()
    for row in rows:
        for p in row:
            out += bytes([p]) if mode == "indexed" else bytes(p)
    return bytes(out)


def layer_chunk(layer):
    data = struct.pack("<HHHHHHB3s", layer.flags, layer.kind, layer.level, 0, 0, layer.blend,
                       layer.opacity, b"") + string(layer.name)
    if layer.kind == TILEMAP:
        data += struct.pack("<I", 0)
    return chunk(0x2004, data)


def cel_chunk(cel, mode):
    kind = {"raw": 0, "link": 1, "zlib": 2, "tilemap": 3}[cel.kind]
    data = struct.pack("<HhhBHh5s", cel.layer, cel.x, cel.y, cel.opacity, kind, cel.z, b"")
    if cel.kind == "raw":
        data += struct.pack("<HH", cel.w, cel.h) + pixel_bytes(mode, cel.pixels)
    elif cel.kind == "zlib":
        data += struct.pack("<HH", cel.w, cel.h) + zlib.compress(pixel_bytes(mode, cel.pixels))
    elif cel.kind == "link":
        data += struct.pack("<H", cel.link)
    else:
        tiles = zlib.compress(struct.pack("<4I", 1, 0, 1, 0))
        data += struct.pack("<HHHIIII10s", 2, 2, 32, 0x1FFFFFFF, 0x20000000, 0x40000000,
                            0x80000000, b"") + tiles
    return chunk(0x2005, data)


def palette_chunk(entries, named=()):
    data = struct.pack("<III8s", len(entries), 0, len(entries) - 1, b"")
    for i, entry in enumerate(entries):
        has_name = i in named
        data += struct.pack("<H4B", 1 if has_name else 0, *entry)
        if has_name:
            data += string("colour %d" % i)
    return chunk(0x2019, data)


def old_palette_chunk(packets, six_bits=False):
    """packets: (skip, [(r, g, b)...])."""
    data = struct.pack("<H", len(packets))
    for skip, colours in packets:
        data += bytes([skip, len(colours) % 256]) + b"".join(bytes(c) for c in colours)
    return chunk(0x0011 if six_bits else 0x0004, data)


def tags_chunk(tags):
    data = struct.pack("<H8s", len(tags), b"")
    for first, last, name in tags:
        data += struct.pack("<HHBH6s3sB", first, last, 0, 0, b"", b"\x10\x20\x30", 0) + string(name)
    return chunk(0x2018, data)


TILESET = chunk(0x2023, struct.pack("<IIIHHh14s", 0, 2, 2, 2, 2, 1, b"") + string("tiles") +
                struct.pack("<I", 14) + zlib.compress(b"\xff" * 32)[:14])
USER_DATA = chunk(0x2020, struct.pack("<I", 1) + string("note"))
COLOUR_PROFILE = chunk(0x2007, struct.pack("<HHI8s", 1, 0, 0, b""))
CEL_EXTRA = chunk(0x2006, struct.pack("<IIIII16s", 0, 0, 0, 0, 0, b""))
UNKNOWN = chunk(0x7777, b"what is this")


def frame_bytes(chunks, wide_count=False):
    body = b"".join(chunks)
    old = 0xFFFF if wide_count else len(chunks)
    return struct.pack("<IHHH2sI", len(body) + 16, 0xF1FA, old, 100, b"", len(chunks)) + body


def write(sprite):
    frames = []
    for number, cels in enumerate(sprite.frames):
        chunks = []
        if number == 0:
            if sprite.old_palette:
                chunks += [old_palette_chunk(p) for p in sprite.old_palette]
            if sprite.old_six:
                chunks.append(old_palette_chunk(sprite.old_six, six_bits=True))
            if sprite.palette:
                chunks.append(palette_chunk(sprite.palette, named={1}))
            chunks += [layer_chunk(layer) for layer in sprite.layers]
            if sprite.tags:
                chunks.append(tags_chunk(sprite.tags))
        chunks += [cel_chunk(cel, sprite.mode) for cel in cels]
        chunks += [extra[1] for extra in sprite.extra if extra != "wide" and extra[0] == number]
        frames.append(frame_bytes(chunks, wide_count="wide" in sprite.extra))
    body = b"".join(frames)
    head = struct.pack("<IHHHHHIHIIB3sHBBhhHH84s", 128 + len(body), 0xA5E0, len(sprite.frames),
                       sprite.w, sprite.h, DEPTH[sprite.mode], sprite.flags, 100, 0, 0,
                       sprite.transparent, b"", sprite.header_colours, 1, 1, 0, 0, 16, 16, b"")
    return head + body


# ---- The rules.

def div255(value):
    return (value + 127) // 255


def arrange(sprite):
    """Per layer: (drawn, background, opacity)."""
    groups, visible, out = [], [], []
    for i, layer in enumerate(sprite.layers):
        groups = groups[:layer.level]
        parent = groups[-1] if groups else None
        seen = bool(layer.flags & VISIBLE) and not layer.flags & REFERENCE and \
            (parent is None or visible[parent])
        opacity = layer.opacity if sprite.flags & 1 else 255
        if parent is not None:
            opacity = div255(opacity * out[parent][2])
        visible.append(seen)
        out.append((seen and layer.kind == IMAGE, bool(layer.flags & BACKGROUND), opacity))
        if layer.kind == GROUP:
            groups.append(i)
    return out


def palette_of(sprite):
    if sprite.palette:
        return list(sprite.palette)
    source = sprite.old_palette or ([sprite.old_six] if sprite.old_six else None)
    if source:
        entries = {}
        for packets in source:
            index = 0
            for skip, colours in packets:
                index += skip
                for c in colours:
                    if sprite.old_six:
                        c = tuple((min(v, 63) * 255 + 31) // 63 for v in c)
                    entries[index] = c + (255,)
                    index += 1
        return [entries.get(i, (0, 0, 0, 255)) for i in range(max(entries) + 1)]
    return [(0, 0, 0, 255)] * (sprite.header_colours or 256)


def drawn_cels(sprite, layers, number):
    """The frame's drawn cels, bottom first, each (cel, picture)."""
    cels = sorted(sprite.frames[number], key=lambda c: c.layer)
    out = []
    for cel in cels:
        if not layers[cel.layer][0] or cel.kind == "tilemap":
            continue
        picture = cel
        while picture.kind == "link":
            picture = next(c for c in sprite.frames[picture.link] if c.layer == cel.layer)
        out.append((cel, picture))
    return sorted(out, key=lambda cp: (cp[0].layer + cp[0].z, cp[0].z))


def is_palette_input(sprite, layers, palette):
    if sprite.mode != "indexed":
        return False, None
    everything = [cp for n in range(len(sprite.frames)) for cp in drawn_cels(sprite, layers, n)]
    if any(layers[c.layer][2] != 255 or p.opacity != 255 for c, p in everything):
        return False, None
    if any(e[3] != 255 for i, e in enumerate(palette) if i != sprite.transparent):
        return False, None
    if not any(drawn and background for drawn, background, _ in layers):
        return True, sprite.transparent
    for n in range(len(sprite.frames)):
        if not any(layers[c.layer][1] and p.x <= 0 and p.y <= 0 and p.x + p.w >= sprite.w and
                   p.y + p.h >= sprite.h for c, p in drawn_cels(sprite, layers, n)):
            return False, None
    return True, None


def rgba_of(sprite, value, background, palette):
    if sprite.mode == "rgba":
        return tuple(value)
    if sprite.mode == "gray":
        return (value[0], value[0], value[0], value[1])
    if not background and value == sprite.transparent:
        return (0, 0, 0, 0)
    entry = palette[value] if value < len(palette) else (0, 0, 0, 255)
    return entry[:3] + (255,) if background else entry


def blend(under, colour, opacity):
    alpha = div255(colour[3] * opacity)
    if alpha == 0:
        return under
    if alpha == 255 or under[3] == 0:
        return colour[:3] + (alpha,)
    weight = under[3] * (255 - alpha)
    total = alpha * 255 + weight
    mixed = tuple((colour[c] * alpha * 255 + under[c] * weight + total // 2) // total for c in range(3))
    return mixed + (div255(total),)


def compose(sprite):
    layers = arrange(sprite)
    palette = palette_of(sprite)
    indices, transparent = is_palette_input(sprite, layers, palette)
    frames = []
    for n in range(len(sprite.frames)):
        empty = (transparent if transparent is not None else 0) if indices else (0, 0, 0, 0)
        canvas = [empty] * (sprite.w * sprite.h)
        for cel, picture in drawn_cels(sprite, layers, n):
            _, background, layer_opacity = layers[cel.layer]
            opacity = div255(picture.opacity * layer_opacity)
            for row, values in enumerate(picture.pixels):
                for column, value in enumerate(values):
                    x, y = picture.x + column, picture.y + row
                    if not (0 <= x < sprite.w and 0 <= y < sprite.h):
                        continue
                    at = y * sprite.w + x
                    if indices:
                        if background or value != sprite.transparent:
                            canvas[at] = value
                    else:
                        canvas[at] = blend(canvas[at], rgba_of(sprite, value, background, palette), opacity)
        frames.append(canvas)
    if indices:
        if transparent is None:
            palette = [e[:3] + (255,) for e in palette]
        else:
            palette += [(0, 0, 0, 255)] * (transparent + 1 - len(palette))
            palette[transparent] = palette[transparent][:3] + (0,)
        head = "indices %d %d %d %d %d\n" % (sprite.w, sprite.h, len(frames),
                                               -1 if transparent is None else transparent, len(palette))
        return head.encode() + b"".join(bytes(e) for e in palette) + b"".join(bytes(f) for f in frames)
    body = b"".join(bytes(p) for f in frames for p in f)
    if sprite.mode != "indexed":
        return ("rgba %d %d %d\n" % (sprite.w, sprite.h, len(frames))).encode() + body
    palette += [(0, 0, 0, 255)] * (sprite.transparent + 1 - len(palette))
    palette[sprite.transparent] = palette[sprite.transparent][:3] + (0,)
    head = "own %d %d %d %d\n" % (sprite.w, sprite.h, len(frames), len(palette))
    return head.encode() + b"".join(bytes(e) for e in palette[:256]) + body


# ---- The sprites.

def grid(w, h, f):
    return [[f(x, y) for x in range(w)] for y in range(h)]


PALETTE = [(0, 0, 0, 0), (200, 30, 30, 255), (30, 180, 40, 255), (40, 60, 220, 255),
           (240, 220, 40, 255), (250, 250, 250, 255), (20, 20, 20, 255), (140, 90, 40, 255)]


def indexed_background():
    layers = [Layer("Background", VISIBLE | BACKGROUND), Layer("body"), Layer("fx", kind=GROUP),
              Layer("spark", level=1), Layer("hidden", flags=0), Layer("off", flags=0, kind=GROUP),
              Layer("inside", level=1)]
    ground = grid(10, 7, lambda x, y: 4 if (x + y) % 5 == 0 else 5 + (x + y) % 3)
    body = [grid(4, 5, lambda x, y: 4 if (x == 0 and y == 0) else 1 + (x + y) % 3),
            grid(4, 5, lambda x, y: 4 if x == y else (0, 2, 3)[y % 3])]
    frames = [
        [Cel(0, pixels=ground, kind="raw"), Cel(1, 2, 1, body[0], kind="raw"),
         Cel(3, 6, 0, grid(2, 2, lambda x, y: 7)), Cel(4, 0, 0, grid(10, 7, lambda x, y: 3)),
         Cel(6, 0, 0, grid(10, 7, lambda x, y: 3))],
        [Cel(0, kind="link", link=0), Cel(1, 3, 2, body[1]), Cel(3, 1, 4, grid(3, 2, lambda x, y: 4 if x == 1 else 7)),
         Cel(6, 0, 0, grid(10, 7, lambda x, y: 2))],
        [Cel(0, kind="link", link=0), Cel(1, kind="link", link=0), Cel(4, 0, 0, grid(2, 2, lambda x, y: 3))],
    ]
    palette = [(12, 12, 12, 255)] + PALETTE[1:]
    return Sprite("indexed", 10, 7, layers, frames, palette=palette, transparent=4,
                  tags=[(0, 1, "walk"), (1, 2, "jump!")],
                  extra=[(0, USER_DATA), (0, COLOUR_PROFILE), (1, CEL_EXTRA)])


def indexed_clear():
    layers = [Layer("low"), Layer("high")]
    palette = [(12, 12, 12, 255)] + [e if i != 3 else (9, 9, 9, 0) for i, e in enumerate(PALETTE)][1:]
    a = grid(5, 4, lambda x, y: 3 if (x + y) % 4 == 0 else 1 + x % 3)
    b = grid(6, 3, lambda x, y: 4 + (x * y) % 4)
    frames = [
        [Cel(0, -2, -1, a), Cel(1, 5, 3, b, kind="raw")],
        [Cel(0, 4, 4, a), Cel(1, -3, 5, b), Cel(1, 20, 1, b)],
        [Cel(0, kind="link", link=1), Cel(1, 2, 3, b, z=-1)],
        [Cel(0, kind="link", link=2)],
    ]
    frames.append([])
    return Sprite("indexed", 8, 6, layers, frames, palette=palette, transparent=3,
                  old_palette=[[(0, [(1, 2, 3)] * 8)]], tags=[(0, 4, "all")])


def indexed_blended():
    layers = [Layer("Background", VISIBLE | BACKGROUND), Layer("base"),
              Layer("group", kind=GROUP, opacity=200), Layer("glass", level=1, opacity=128)]
    six = [(0, [(5, 6, 7), (63, 0, 0), (0, 40, 0), (10, 20, 63), (63, 63, 63)])]
    frames = [[Cel(0, 0, 0, grid(6, 5, lambda x, y: 0 if x < 2 else 3)),
               Cel(1, 0, 0, grid(6, 4, lambda x, y: 0 if x == 0 else 1 + (x + 2 * y) % 4)),
               Cel(3, 2, 1, grid(3, 3, lambda x, y: 0 if x == 2 and y == 2 else 4 - x))],
              [Cel(0, kind="link", link=0), Cel(1, 1, 0, grid(5, 5, lambda x, y: 2), opacity=90),
               Cel(3, kind="link", link=0)]]
    return Sprite("indexed", 6, 5, layers, frames, old_six=six)


def indexed_short_background():
    layers = [Layer("Background", VISIBLE | BACKGROUND), Layer("top")]
    palette = [(12, 12, 12, 255)] + PALETTE[1:]
    frames = [[Cel(0, 0, 0, grid(5, 4, lambda x, y: 0 if x == y else 5)),
               Cel(1, 3, 1, grid(3, 2, lambda x, y: 0 if x == 0 else 2))],
              [Cel(0, 0, 0, grid(6, 4, lambda x, y: 0 if x == y else 6)),
               Cel(1, 1, 1, grid(3, 2, lambda x, y: 1))]]
    return Sprite("indexed", 6, 4, layers, frames, palette=palette)


def indexed_translucent_entry():
    palette = [(12, 12, 12, 255), (200, 30, 30, 255), (30, 180, 40, 100)]
    frames = [[Cel(0, 0, 0, grid(3, 2, lambda x, y: 1)), Cel(1, 1, 0, grid(2, 2, lambda x, y: 2 - y))]]
    return Sprite("indexed", 3, 2, [Layer("under"), Layer("over")], frames, palette=palette, transparent=1)


def indexed_old_palette():
    layers = [Layer("only")]
    packets = [[(0, [(10, 20, 30), (40, 50, 60)]), (3, [(70, 80, 90), (100, 110, 120)])]]
    frames = [[Cel(0, 0, 0, grid(4, 3, lambda x, y: [1, 5, 6, 0][x]))]]
    return Sprite("indexed", 4, 3, layers, frames, old_palette=packets)


def grayscale():
    layers = [Layer("under"), Layer("over", opacity=180)]
    frames = [[Cel(0, 0, 0, grid(7, 5, lambda x, y: (30 * x, 255 if y else 100)), kind="raw"),
               Cel(1, 2, 1, grid(4, 3, lambda x, y: (250 - 40 * y, 60 * x + 50)), opacity=200)],
              [Cel(0, 1, 1, grid(5, 3, lambda x, y: (128, 0 if x == 2 else 255))),
               Cel(1, 0, 0, grid(7, 5, lambda x, y: (x * y * 6, 128)), kind="raw", opacity=255)]]
    return Sprite("gray", 7, 5, layers, frames)


def rgba():
    layers = [Layer("paper"), Layer("outer", kind=GROUP, opacity=220), Layer("inner", kind=GROUP, level=1, opacity=150),
              Layer("ink", level=2, opacity=200), Layer("multiply", level=1, blend=1),
              Layer("secret", kind=GROUP, flags=0), Layer("note", level=1),
              Layer("reference", flags=VISIBLE | REFERENCE), Layer("tiles", kind=TILEMAP)]
    paper = grid(9, 6, lambda x, y: (250, 240, 220, 255 if x < 7 else 120))
    ink = grid(5, 4, lambda x, y: (20 * x, 200 - 30 * y, 90, 255 - 50 * x))
    frames = [[Cel(0, 0, 0, paper), Cel(3, 2, 1, ink, opacity=230),
               Cel(4, 5, 3, grid(3, 3, lambda x, y: (0, 0, 255, 200)), kind="raw", opacity=150),
               Cel(6, 0, 0, grid(9, 6, lambda x, y: (255, 0, 0, 255))), Cel(7, 0, 0, grid(9, 6, lambda x, y: (0, 255, 0, 255))),
               Cel(8, kind="tilemap")],
              [Cel(0, kind="link", link=0), Cel(3, -1, 2, ink, opacity=100), Cel(4, kind="link", link=0)]]
    return Sprite("rgba", 9, 6, layers, frames, extra=[(0, TILESET), (1, UNKNOWN)])


def rgba_no_opacity():
    layers = [Layer("a", opacity=10), Layer("b", opacity=10)]
    frames = [[Cel(0, 0, 0, grid(3, 2, lambda x, y: (100, 150, 200, 255))),
               Cel(1, 1, 0, grid(2, 2, lambda x, y: (10, 20, 30, 200)), opacity=128)]]
    return Sprite("rgba", 3, 2, layers, frames, flags=0)


def rgba_many_chunks():
    layers = [Layer("l%d" % i) for i in range(4)]
    frames = [[Cel(i, i, 0, grid(2, 2, lambda x, y: (60 * i, 40, 200 - 50 * i, 255))) for i in range(4)]]
    return Sprite("rgba", 5, 2, layers, frames, extra=[(0, USER_DATA), "wide"])


SPRITES = {
    "indexed-background": indexed_background, "indexed-clear": indexed_clear,
    "indexed-blended": indexed_blended, "indexed-old-palette": indexed_old_palette,
    "indexed-short-background": indexed_short_background,
    "indexed-translucent-entry": indexed_translucent_entry,
    "grayscale": grayscale, "rgba": rgba, "rgba-no-opacity": rgba_no_opacity,
    "rgba-many-chunks": rgba_many_chunks,
}


def zlib_bomb():
    """A 4 x 2 RGBA cel: its 32 bytes, then 16 MiB of zeros in the same zlib stream."""
    pixels = bytes(range(10, 42))
    stream = zlib.compress(pixels + bytes(16 << 20), 9)
    cel = chunk(0x2005, struct.pack("<HhhBHh5sHH", 0, 1, 1, 255, 2, 0, b"", 4, 2) + stream)
    body = frame_bytes([layer_chunk(Layer("l")), cel])
    data = struct.pack("<IHHHHHIHIIB3sHBBhhHH84s", 128 + len(body), 0xA5E0, 1, 6, 4, 32, 1, 100,
                       0, 0, 0, b"", 0, 1, 1, 0, 0, 16, 16, b"") + body
    canvas = [(0, 0, 0, 0)] * 24
    for i in range(8):
        canvas[(1 + i // 4) * 6 + 1 + i % 4] = tuple(pixels[4 * i:4 * i + 4])
    return data, b"rgba 6 4 1\n" + b"".join(bytes(p) for p in canvas)


# ---- Damaged files: each a sprite's file bent at one place.

def small():
    layers = [Layer("a"), Layer("b")]
    frames = [[Cel(0, 0, 0, grid(3, 2, lambda x, y: (1, 2, 3, 255)), kind="raw"),
               Cel(1, 0, 0, grid(2, 2, lambda x, y: (9, 9, 9, 255)))],
              [Cel(0, kind="link", link=0)]]
    return Sprite("rgba", 4, 3, layers, frames, tags=[(0, 1, "t")])


def at_cel(data, nth=0):
    """Where the data of the file's nth cel chunk starts."""
    found = []
    at = 128
    while at < len(data):
        end = at + struct.unpack_from("<I", data, at)[0]
        chunk_at = at + 16
        while chunk_at < end:
            size, kind = struct.unpack_from("<IH", data, chunk_at)
            if kind == 0x2005:
                found.append(chunk_at + 6)
            chunk_at += size
        at = end
    return found[nth]


def patch(data, at, fmt, *values):
    data = bytearray(data)
    struct.pack_into(fmt, data, at, *values)
    return bytes(data)


def with_sprite(**changes):
    sprite = small()
    for name, value in changes.items():
        setattr(sprite, name, value)
    return write(sprite)


def malformed():
    good = write(small())
    first_frame = 128
    first_chunk = first_frame + 16
    return {
        "cut-header": good[:100],
        "size-past-end": patch(good, 0, "<I", len(good) + 1),
        "bad-magic": patch(good, 4, "<H", 0xA5E1),
        "no-frames": patch(good, 6, "<H", 0),
        "no-width": patch(good, 8, "<H", 0),
        "depth-24": patch(good, 12, "<H", 24),
        "frame-magic": patch(good, first_frame + 4, "<H", 0xF1FB),
        "frame-past-end": patch(good, first_frame, "<I", len(good)),
        "frame-too-small": patch(good, first_frame, "<I", 15),
        "missing-frame": patch(good, 6, "<H", 3),
        "chunk-too-small": patch(good, first_chunk, "<I", 5),
        "chunk-past-frame": patch(good, first_chunk, "<I", 100000),
        "raw-cel-short": patch(good, at_cel(good) + 16, "<HH", 3, 3),
        "zlib-short": patch(good, at_cel(good, 1) + 16, "<HH", 2, 3),
        "zlib-garbage": patch(good, at_cel(good, 1) + 20, "<4s", b"\x78\x9c\xff\xff"),
        "cel-type-7": patch(good, at_cel(good) + 7, "<H", 7),
        "cel-layer-9": patch(good, at_cel(good), "<H", 9),
        "link-past-frames": patch(good, at_cel(good, 2) + 16, "<H", 5),
        "link-to-nothing": with_sprite(frames=[[Cel(0, pixels=[[(1, 1, 1, 1)]])], [Cel(1, kind="link", link=0)]]),
        "link-circle": with_sprite(frames=[[Cel(0, kind="link", link=1)], [Cel(0, kind="link", link=0)]]),
        "link-to-self": with_sprite(frames=[[Cel(0, kind="link", link=0)], []]),
        "level-jump": with_sprite(layers=[Layer("a"), Layer("b", level=2)]),
        "palette-backwards": with_sprite(mode="indexed", frames=[[]], tags=[],
                                         extra=[(0, chunk(0x2019, struct.pack("<III8s", 4, 3, 1, b"")))]),
        "palette-past-size": with_sprite(mode="indexed", frames=[[]], tags=[],
                                         extra=[(0, chunk(0x2019, struct.pack("<III8s", 2, 0, 2, b"") +
                                                          b"\0\0\1\2\3\4" * 3))]),
        "palette-cut": with_sprite(mode="indexed", frames=[[]], tags=[],
                                   extra=[(0, chunk(0x2019, struct.pack("<III8s", 4, 0, 3, b"") + b"\0\0\1\2\3\4"))]),
        "old-palette-past-256": with_sprite(mode="indexed", frames=[[]], tags=[],
                                            old_palette=[[(250, [(1, 2, 3)] * 10)]]),
        "tag-past-frames": with_sprite(tags=[(0, 2, "t")]),
        "tag-backwards": with_sprite(tags=[(1, 0, "t")]),
        "layer-cut": with_sprite(extra=[(0, chunk(0x2004, b"\1\0\0\0"))]),
    }


def main():
    os.makedirs(BAD, exist_ok=True)
    for name, make in SPRITES.items():
        sprite = make()
        with open(os.path.join(OUT, name + ".aseprite"), "wb") as f:
            f.write(write(sprite))
        with open(os.path.join(OUT, name + ".frames"), "wb") as f:
            f.write(compose(sprite))
    data, frames = zlib_bomb()
    with open(os.path.join(OUT, "zlib-bomb.aseprite"), "wb") as f:
        f.write(data)
    with open(os.path.join(OUT, "zlib-bomb.frames"), "wb") as f:
        f.write(frames)
    os.makedirs(NAMES, exist_ok=True)
    with open(os.path.join(NAMES, "tags-alike.aseprite"), "wb") as f:
        f.write(with_sprite(tags=[(0, 0, "walk!"), (1, 1, "walk?")]))
    for name, data in malformed().items():
        with open(os.path.join(BAD, name + ".aseprite"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
