#pragma once
// ToPalettePicture: what the writers take, from any picture a reader gives, by the
// transparency rules of color/transparency.h: a palette picture's indices remapped so that
// its transparent pixels take T, a truecolour picture given its exact palette
// (color/exact_palette.h).

#include <array>
#include <cstdint>
#include <string>
#include <variant>

#include "color/palette.h"
#include "color/transparency.h"
#include "input/read_picture.h"
#include "platform/memory_budget.h"

namespace kav {

// The palette picture `picture` becomes; a truecolour picture's indices take the memory its
// reader reserved for them, and its pixels are given back once mapped. Fails with kTooManyColours
// when a truecolour picture has more distinct opaque colours than the palette holds, or
// kOutOfMemory.
ReadResult ToPalettePicture(Picture picture, const TransparencyRules& rules);

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

// ReadInput, a picture then made what ReadPalettePicture makes of it; a file of frames is
// given as it opened, its frames taking the rules as they are made.
std::variant<ReadResult, FrameFile> ReadPaletteInput(const std::string& path,
                                                     const TransparencyRules& rules,
                                                     MemoryBudget& budget = PictureMemory());

}  // namespace kav
