#pragma once
// Pictures onto a fixed palette that every output shares (kavconv's --palette). Each opaque
// pixel takes the entry nearest its colour among the palette's own entries other than T, by
// the nearest-colour rule of color/nearest_colour.h, after ordered dithering when asked
// (color/ordered_dither.h), or by libimagequant's error diffusion (color/reduce.h); each
// transparent pixel takes T. The picture's palette becomes the fixed one, the entries past
// its count black, T's entry as the fixed palette holds it.

#include <cstdint>
#include <optional>
#include <span>

#include "color/ordered_dither.h"
#include "color/palette.h"
#include "input/read_picture.h"

namespace kav {

// Whether `palette` has an entry other than `excluded` (T) for opaque pixels.
bool HasEntryBesides(const RgbPalette& palette, std::optional<std::uint8_t> excluded);

// Each of `frames` (pictures sharing the palette, such as an animation's) into the indices
// of the same place in `indices`. `transparency.index` is T, never taken by an opaque pixel.
// false, with the indices unspecified, when `indices` does not match the frames, no entry
// other than T may be taken, or memory runs out.
bool MapOntoFixedPalette(std::span<const RgbaPixels> frames, const RgbPalette& palette,
                         const Transparency& transparency, Dither dither,
                         std::span<const std::span<std::uint8_t>> indices);

// A palette picture (its entries' colours and alpha) onto the fixed palette; the pixels of
// an entry whose alpha is below the threshold are transparent. Fails with kOutOfMemory when
// the new indices cannot be had, and with kPaletteFileUnreadable when no entry other than T
// may be taken.
ReadResult OntoFixedPalette(Picture picture, const RgbPalette& palette,
                            const Transparency& transparency, Dither dither);

// A picture's palette holding the entries of `palette`, opaque.
Palette PictureEntriesOf(const RgbPalette& palette);

}  // namespace kav
