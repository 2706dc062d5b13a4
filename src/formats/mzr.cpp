#include "formats/mzr.h"

#include <algorithm>

#include "formats/output_shell.h"
#include "formats/tables_by_palette.h"
#include "kav/kav_formats.h"

namespace kav {
namespace {

// The decoder for engines states the layout on its own; both must say the same.
static_assert(kMzrRowsOffset == KAV_MZR_ROWS_OFFSET);
static_assert(kShadeTableCount == KAV_MZR_TABLE_COUNT && kColourTableBytes == KAV_TABLE_BYTES);
static_assert(KAV_MZR_TABLE(1, 0) == kShadeLevels);

constexpr unsigned ShadeComponent(unsigned c, unsigned level) {
  switch (level) {
    case 0:
      return c / 8;
    case 1:
      return c / 4;
    case 2:
      return c / 2;
    case 3:
      return (3 * c) / 4;  // multiply first: differs from c - c / 4
    case 4:
      return c;
    case 5:
      return c + (255 - c) / 4;
    case 6:
      return c + (255 - c) / 2;
    default:
      return c + (3 * (255 - c)) / 4;
  }
}

constexpr std::uint8_t TowardsWhite(unsigned c) {
  return static_cast<std::uint8_t>(c + (255 - c) / 6);
}
constexpr std::uint8_t AwayFromWhite(unsigned c) {
  return static_cast<std::uint8_t>(c - c / 6);
}

std::array<std::uint8_t, kMzrHeaderSize> BuildMzrHeader(const Picture& picture,
                                                        const ConversionSettings& settings) {
  std::array<std::uint8_t, kMzrHeaderSize> header{};
  std::copy(kMzrMagic.begin(), kMzrMagic.end(), header.begin() + kMzrMagicOffset);
  const std::span<std::uint8_t> bytes(header);
  StoreLe16(bytes.subspan(kMzrWidthOffset), static_cast<std::uint16_t>(picture.width()));
  StoreLe16(bytes.subspan(kMzrHeightOffset), static_cast<std::uint16_t>(picture.height()));
  header[kMzrRemappingOffset] = settings.useRemapping ? 1 : 0;
  header[kMzrReservedOffset] = 0;
  StoreLe16(bytes.subspan(kMzrStartColorOffset), static_cast<std::uint16_t>(settings.startColor));
  StoreLe16(bytes.subspan(kMzrEndColorOffset), static_cast<std::uint16_t>(settings.endColor));
  StoreLe16(bytes.subspan(kMzrTransparentColorOffset),
            static_cast<std::uint16_t>(settings.transparentColor));
  return header;
}

}  // namespace

void BuildShadeTable(const Palette& palette, unsigned level, ColourTable& table) {
  if (level >= kShadeLevels) {
    return;
  }
  for (std::size_t i = 0; i < kColourTableEntries; ++i) {
    const Colour& entry = palette.entries[i];
    table[i] = PackRgb565(ShadeComponent(entry.red, level), ShadeComponent(entry.green, level),
                          ShadeComponent(entry.blue, level));
  }
}

void MakeTintedPalettes(const Palette& palette, Palette& red, Palette& green, Palette& blue) {
  for (std::size_t i = 0; i < kPaletteEntries; ++i) {
    const Colour& c = palette.entries[i];
    red.entries[i].red = TowardsWhite(c.red);
    red.entries[i].green = AwayFromWhite(c.green);
    red.entries[i].blue = AwayFromWhite(c.blue);
    green.entries[i].red = AwayFromWhite(c.red);
    green.entries[i].green = TowardsWhite(c.green);
    green.entries[i].blue = AwayFromWhite(c.blue);
    blue.entries[i].red = AwayFromWhite(c.red);
    blue.entries[i].green = AwayFromWhite(c.green);
    blue.entries[i].blue = TowardsWhite(c.blue);
  }
}

std::array<std::uint8_t, kMzrTablesBytes> BuildMzrTables(const Palette& palette) {
  Palette red;
  Palette green;
  Palette blue;
  MakeTintedPalettes(palette, red, green, blue);
  const std::array<const Palette*, kShadePalettes> palettes{&palette, &red, &green, &blue};
  std::array<std::uint8_t, kMzrTablesBytes> tables{};
  std::size_t at = 0;
  for (const Palette* source : palettes) {
    for (unsigned level = 0; level < kShadeLevels; ++level) {
      ColourTable table{};
      BuildShadeTable(*source, level, table);
      for (const Rgb565 colour : table) {
        StoreLe16(std::span(tables).subspan(at, 2), colour);
        at += 2;
      }
    }
  }
  return tables;
}

EncodeResult EncodeMzr(const Picture& picture, const ConversionSettings& settings, ByteSink& sink) {
  if (!FitsFileHeader(picture)) {
    return EncodeResult::kTooLarge;
  }
  sink.Write(BuildMzrHeader(picture, settings));
  static TablesByPalette<std::array<std::uint8_t, kMzrTablesBytes>> kept(BuildMzrTables);
  sink.Write(*kept.Of(picture.palette()));
  for (std::uint32_t y = 0; y < picture.height(); ++y) {
    sink.WriteLasting(picture.Row(y));  // the picture outlives the encoding
  }
  return EncodeResult::kOk;
}

Conversion WriteMzr(Picture& picture, const ConversionSettings& settings,
                    const OutputTarget& target) {
  if (!FitsFileHeader(picture)) {
    return Refuse(picture, Outcome::kTooLarge);
  }
  return WriteOutputs(picture, settings, target, [&](OutputStream& file) {
    FileSink sink(file);
    EncodeMzr(picture, settings, sink);
    return sink.Flush();
  });
}

}  // namespace kav
