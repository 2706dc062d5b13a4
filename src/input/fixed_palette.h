#pragma once
// Pictures onto a fixed palette that every output shares (kavconv's --palette). Each opaque
// pixel takes the entry nearest its colour among the palette's own entries other than T, by
// the nearest-colour rule of color/nearest_colour.h, after ordered dithering when asked
// (color/ordered_dither.h), or by libimagequant's error diffusion (color/reduce.h); each
// transparent pixel takes T. The picture's palette becomes the fixed one, the entries past
// its count black, T's entry as the fixed palette holds it.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "color/ordered_dither.h"
#include "color/palette.h"
#include "input/read_picture.h"

namespace kav {

// Each of `indices` as its entry of `entries`, colour and alpha, 4 bytes a pixel, into
// `rgba` (four times as long as `indices`).
void EntryColours(std::span<const std::uint8_t> indices, const Palette& entries,
                  std::span<std::uint8_t> rgba);

// Whether `palette` has an entry other than `excluded` (T) for opaque pixels.
bool HasEntryBesides(const RgbPalette& palette, std::optional<std::uint8_t> excluded);

// The new index of each of a palette picture's 256 `entries` (no dithering: every pixel of an
// entry takes the same): T for an entry below the alpha threshold, else the nearest of
// `palette`'s own entries other than T. nullopt when no entry may be taken.
std::optional<std::array<std::uint8_t, kPaletteEntries>> EntriesOntoPalette(
    const Palette& entries, const RgbPalette& palette, const Transparency& transparency);

// Each of `frames` (pictures sharing the palette, such as an animation's) into the indices
// of the same place in `indices`. `transparency.index` is T, never taken by an opaque pixel.
// false, with the indices unspecified, when `indices` does not match the frames, no entry
// other than T may be taken, or memory runs out.
bool MapOntoFixedPalette(std::span<const RgbaPixels> frames, const RgbPalette& palette,
                         const Transparency& transparency, Dither dither,
                         std::span<const std::span<std::uint8_t>> indices);

// A picture onto the fixed palette: a truecolour picture's pixels, or a palette picture's
// entries (their colours and alpha) at each pixel. Fails with kOutOfMemory when the indices cannot
// be had, and with kPaletteFileUnreadable when no entry other than T may be taken.
ReadResult OntoFixedPalette(Picture picture, const RgbPalette& palette,
                            const Transparency& transparency, Dither dither);

// The palette picture of `picture`'s size whose indices lie in `block` (rows top first,
// packed), with `palette`; `picture` is given back first. A mapped input that shrank while it
// was read fails as corrupt.
ReadResult PictureOfIndices(Picture picture, const Palette& palette, MemoryBlock block);

}  // namespace kav
