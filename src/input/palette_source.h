#pragma once
// The palette a conversion maps every picture onto (kavconv's --palette): a palette file of
// any kind color/palette_file.h reads, or any picture the readers give as a palette picture,
// whose palette it is (its own entries, the count the file gives).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "color/palette.h"

namespace kav {

// The palette of the file `fileName` holding `bytes`, or nullopt when it cannot be read as
// any kind of palette file or palette picture.
std::optional<RgbPalette> PaletteOfFile(std::span<const std::uint8_t> bytes,
                                        std::string_view fileName);

// The same of the file at `path`; nullopt also when it cannot be opened or read.
std::optional<RgbPalette> ReadPaletteFile(const std::string& path);

}  // namespace kav
