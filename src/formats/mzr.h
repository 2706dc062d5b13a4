#pragma once
// MZR: an 8-bit image with 32 precomputed Rgb565 shade tables. Little-endian throughout,
// three sections with no gaps:
//
//   offset  size            content
//   0       20              header
//   20      16384           32 shade tables of 256 Rgb565 entries (512 bytes) each
//   16404   width * height  palette indices, top row first, no row padding
//
// Header:
//   0   8  magic "KAV8BMP" and a zero byte
//   8   2  width (low 16 bits)
//   10  2  height (row count, low 16 bits)
//   12  1  useRemapping, 1 or 0
//   13  1  reserved, 0
//   14  2  startColor (low 16 bits)
//   16  2  endColor (low 16 bits)
//   18  2  transparentColor (low 16 bits)
//
// Tables 8g + L are level L (0..7) of palette g: 0 the image's own, 1 red-, 2 green- and
// 3 blue-tinted. Level 4 is the palette unchanged.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "color/rgb565.h"
#include "formats/byte_sink.h"
#include "formats/conversion.h"
#include "formats/dimensions.h"
#include "formats/output_format.h"
#include "input/picture.h"

namespace kav {

inline constexpr std::string_view kMzrMagic{"KAV8BMP\0", 8};
inline constexpr std::size_t kMzrHeaderSize = 20;
inline constexpr std::size_t kMzrMagicOffset = 0;
inline constexpr std::size_t kMzrWidthOffset = 8;
inline constexpr std::size_t kMzrHeightOffset = 10;
inline constexpr std::size_t kMzrRemappingOffset = 12;
inline constexpr std::size_t kMzrReservedOffset = 13;
inline constexpr std::size_t kMzrStartColorOffset = 14;
inline constexpr std::size_t kMzrEndColorOffset = 16;
inline constexpr std::size_t kMzrTransparentColorOffset = 18;

inline constexpr std::size_t kShadeLevels = 8;
inline constexpr std::size_t kShadePalettes = 4;  // untinted, red, green, blue
inline constexpr std::size_t kShadeTableCount = kShadeLevels * kShadePalettes;  // 32
inline constexpr std::size_t kMzrTablesOffset = kMzrHeaderSize;
inline constexpr std::size_t kMzrTablesBytes = kShadeTableCount * kColourTableBytes;  // 16384
inline constexpr std::size_t kMzrRowsOffset = kMzrTablesOffset + kMzrTablesBytes;     // 16404

// Fills `table` with `palette` at `level` 0..7 (0 darkest, 4 unchanged, 7 nearest white);
// any other level leaves the table as it was.
void BuildShadeTable(const Palette& palette, unsigned level, ColourTable& table);

// Fills red, green and blue of every entry of the three tinted palettes; the alpha of each
// output entry is left as it was.
void MakeTintedPalettes(const Palette& palette, Palette& red, Palette& green, Palette& blue);

// The 16384 table bytes in file order.
std::array<std::uint8_t, kMzrTablesBytes> BuildMzrTables(const Palette& palette);

enum class EncodeResult { kOk, kTooLarge };

// Writes the whole MZR file for `picture` into `sink`, with the four colour settings of
// `settings` in its header (the format is not looked at). Width or row count above 65535 do
// not fit the header: nothing is written and the result is kTooLarge.
EncodeResult EncodeMzr(const Picture& picture, const ConversionSettings& settings, ByteSink& sink);

// The writer of MZR files (or their C headers, as the settings ask). A picture whose width or
// row count is above 65535 is refused as too large.
Conversion WriteMzr(Picture& picture, const ConversionSettings& settings,
                    const OutputTarget& target);

}  // namespace kav
