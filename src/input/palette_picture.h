#pragma once
// ToPalettePicture: what the writers take, from any picture a reader gives, by the
// transparency rules of color/transparency.h: a palette picture's indices remapped so that
// its transparent pixels take T, a truecolour picture given its exact palette
// (color/exact_palette.h), or, with more colours than fit, a palette reduced to the capacity
// by libimagequant (color/reduce.h). With a fixed palette, any picture takes that instead
// (input/fixed_palette.h).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "color/ordered_dither.h"
#include "color/palette.h"
#include "color/transparency.h"
#include "input/read_picture.h"
#include "platform/memory_budget.h"

namespace kav {

// What a conversion asks of colours besides transparency.
struct ColourRules {
  // The palette every picture takes (kavconv's --palette); none: each keeps or gets its own.
  const RgbPalette* fixedPalette = nullptr;
  // How colours go onto the fixed or a reduced palette (not onto an exact one, which holds
  // every colour).
  Dither dither = Dither::kNone;
  // Whether a truecolour picture with more colours than fit is reduced, or refused (the
  // front ends reduce unless asked not to: ConversionSettings::reduce).
  bool reduce = false;
};

// A truecolour picture's distinct opaque colours, reduced to the capacity.
struct ColourReduction {
  std::size_t found = 0;
  std::size_t capacity = 0;
};

// The palette picture `picture` becomes; a truecolour picture's indices take the memory its
// reader reserved for them, and its pixels are given back once mapped. A reduction is told in
// `*reduced` (when given). Fails with kTooManyColours when a truecolour picture has more
// distinct opaque colours than the palette holds and the rules do not reduce them, with
// kPaletteFileUnreadable when the fixed palette has no entry besides T, or kOutOfMemory.
ReadResult ToPalettePicture(Picture picture, const TransparencyRules& rules,
                            const ColourRules& colours = {}, ColourReduction* reduced = nullptr);

// The file at `path` as the palette picture ToPalettePicture gives it, by the rules and
// `colours` (a picture of too many colours read whole to be reduced, when the rules reduce).
ReadResult ReadPalettePicture(const std::string& path, const TransparencyRules& rules,
                              const ColourRules& colours, ColourReduction* reduced = nullptr);

// The alpha of each of the palette's 256 entries, as RemapForTransparency takes them.
std::array<std::uint8_t, kPaletteEntries> EntryAlphas(const Palette& palette);

// `palette` with the entries `remap` swaps exchanged, its count reaching both.
Palette SwappedPalette(Palette palette, const IndexRemap& remap);

// ReadPicture, then ToPalettePicture; a PNG's rows mapped as they come (input/png_reader.h),
// and read again whole when they have more colours than fit.
ReadResult ReadPalettePicture(const std::string& path, const TransparencyRules& rules,
                              MemoryBudget& budget = PictureMemory());
ReadResult ReadPalettePicture(ByteSource& source, const TransparencyRules& rules,
                              MemoryBudget& budget = PictureMemory());

// ReadInput, a picture then made what ReadPalettePicture makes of it by the rules and
// `colours`; a file of frames is given as it opened, its frames taking the rules as they are
// made.
std::variant<ReadResult, FrameFile> ReadPaletteInput(const std::string& path,
                                                     const TransparencyRules& rules,
                                                     const ColourRules& colours,
                                                     ColourReduction* reduced = nullptr,
                                                     MemoryBudget& budget = PictureMemory());

}  // namespace kav
