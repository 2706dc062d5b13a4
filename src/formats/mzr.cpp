#include "formats/mzr.h"

#include <algorithm>

#include "formats/output_shell.h"
#include "kav/kav_formats.h"

namespace kav {
namespace {

// The decoder for engines states the layout on its own; both must say the same.
static_assert(kMzrRowsOffset == KAV_MZR_ROWS_OFFSET);
static_assert(kShadeTableCount == KAV_MZR_TABLE_COUNT && kColourTableBytes == KAV_TABLE_BYTES);
static_assert(KAV_MZR_TABLE(1, 0) == kShadeLevels);

constexpr std::string_view kLoadErrorText = "Error while converting!";
constexpr const char* kConvertedFormat = "%s converted!";

constexpr std::size_t kBlue = 0;
constexpr std::size_t kGreen = 1;
constexpr std::size_t kRed = 2;

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

std::array<std::uint8_t, kMzrHeaderSize> BuildMzrHeader(const BitmapView& bitmap,
                                                        const ConversionSettings& settings) {
  std::array<std::uint8_t, kMzrHeaderSize> header{};
  std::copy(kMzrMagic.begin(), kMzrMagic.end(), header.begin() + kMzrMagicOffset);
  const std::span<std::uint8_t> bytes(header);
  StoreLe16(bytes.subspan(kMzrWidthOffset), static_cast<std::uint16_t>(bitmap.width));
  StoreLe16(bytes.subspan(kMzrHeightOffset), static_cast<std::uint16_t>(bitmap.rowCount));
  header[kMzrRemappingOffset] = settings.useRemapping ? 1 : 0;
  header[kMzrReservedOffset] = 0;
  StoreLe16(bytes.subspan(kMzrStartColorOffset), static_cast<std::uint16_t>(settings.startColor));
  StoreLe16(bytes.subspan(kMzrEndColorOffset), static_cast<std::uint16_t>(settings.endColor));
  StoreLe16(bytes.subspan(kMzrTransparentColorOffset),
            static_cast<std::uint16_t>(settings.transparentColor));
  return header;
}

}  // namespace

void BuildShadeTable(PaletteBytes palette, unsigned level, ColourTable& table) {
  if (level >= kShadeLevels) {
    return;
  }
  for (std::size_t i = 0; i < kColourTableEntries; ++i) {
    const auto entry = palette.subspan(i * kBmpPaletteEntrySize, kBmpPaletteEntrySize);
    table[i] = PackRgb565(ShadeComponent(entry[kRed], level), ShadeComponent(entry[kGreen], level),
                          ShadeComponent(entry[kBlue], level));
  }
}

void MakeTintedPalettes(PaletteBytes palette, Palette& red, Palette& green, Palette& blue) {
  for (std::size_t at = 0; at < kBmpPaletteBytes; at += kBmpPaletteEntrySize) {
    const unsigned r = palette[at + kRed];
    const unsigned g = palette[at + kGreen];
    const unsigned b = palette[at + kBlue];
    red[at + kRed] = TowardsWhite(r);
    red[at + kGreen] = AwayFromWhite(g);
    red[at + kBlue] = AwayFromWhite(b);
    green[at + kRed] = AwayFromWhite(r);
    green[at + kGreen] = TowardsWhite(g);
    green[at + kBlue] = AwayFromWhite(b);
    blue[at + kRed] = AwayFromWhite(r);
    blue[at + kGreen] = AwayFromWhite(g);
    blue[at + kBlue] = TowardsWhite(b);
  }
}

std::array<std::uint8_t, kMzrTablesBytes> BuildMzrTables(PaletteBytes palette) {
  Palette red{};
  Palette green{};
  Palette blue{};
  MakeTintedPalettes(palette, red, green, blue);
  const std::array<PaletteBytes, kShadePalettes> palettes{palette, PaletteBytes(red),
                                                          PaletteBytes(green), PaletteBytes(blue)};
  std::array<std::uint8_t, kMzrTablesBytes> tables{};
  std::size_t at = 0;
  for (const PaletteBytes source : palettes) {
    for (unsigned level = 0; level < kShadeLevels; ++level) {
      ColourTable table{};
      BuildShadeTable(source, level, table);
      for (const Rgb565 colour : table) {
        StoreLe16(std::span(tables).subspan(at, 2), colour);
        at += 2;
      }
    }
  }
  return tables;
}

EncodeResult EncodeMzr(const BitmapView& bitmap, const ConversionSettings& settings,
                       ByteSink& sink) {
  if (!FitsFileHeader(bitmap)) {
    return EncodeResult::kTooLarge;
  }
  sink.Write(BuildMzrHeader(bitmap, settings));
  sink.Write(BuildMzrTables(bitmap.palette));
  for (std::uint32_t r = 0; r < bitmap.rowCount; ++r) {
    sink.WriteLasting(bitmap.TopRow(r));  // the loaded block outlives the encoding
  }
  return EncodeResult::kOk;
}

bool ConvertToMzr(ConverterHost& host, const std::string& sourcePath,
                  const std::string& outputPath) {
  LoadedBitmap bitmap;
  const std::optional<BitmapView> view = LoadSource(host, sourcePath, bitmap, kLoadErrorText);
  if (!view) {
    return false;
  }
  const ConversionSettings settings = host.Settings();
  if (!FitsFileHeader(*view)) {
    return RefuseTooLarge(host, bitmap);
  }
  return WriteOutputs(host, outputPath, sourcePath, bitmap.block,
                      {.loadErrorStatus = kLoadErrorText, .writtenFormat = kConvertedFormat},
                      [&](OutputStream& file) {
                        FileSink sink(file);
                        EncodeMzr(*view, settings, sink);
                        return sink.Flush();
                      });
}

}  // namespace kav
