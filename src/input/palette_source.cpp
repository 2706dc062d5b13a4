#include "input/palette_source.h"

#include "color/palette_file.h"
#include "input/read_picture.h"
#include "platform/mapped_file.h"

namespace kav {
namespace {

std::optional<RgbPalette> PaletteOfPicture(std::span<const std::uint8_t> bytes) {
  MemorySource source(bytes);
  ReadResult read = ReadPicture(source);
  if (!read || read->IsTrueColour() || read->palette().count == 0) {
    return std::nullopt;
  }
  const Palette& picture = read->palette();
  RgbPalette palette;
  palette.count = static_cast<std::uint16_t>(std::min(picture.count, kPaletteEntries));
  for (std::size_t i = 0; i < palette.count; ++i) {
    const Colour& entry = picture.entries[i];
    palette.colours[i] = MakeRgb24(entry.red, entry.green, entry.blue);
  }
  return palette;
}

}  // namespace

std::optional<RgbPalette> PaletteOfFile(std::span<const std::uint8_t> bytes,
                                        std::string_view fileName) {
  const PaletteFileKind kind = PaletteFileKindOf(bytes, fileName);
  if (kind == PaletteFileKind::kPicture) {
    return PaletteOfPicture(bytes);
  }
  const std::optional<PaletteFile> file = ParsePaletteFile(kind, bytes);
  return file ? std::optional(file->palette) : std::nullopt;
}

std::optional<RgbPalette> ReadPaletteFile(const std::string& path) {
  const MappedFile file = MapWholeFile(path);
  if (file.failure != MappedFile::Failure::kNone || file.block.Damaged()) {
    return std::nullopt;
  }
  std::optional<RgbPalette> palette = PaletteOfFile(file.block.bytes(), path);
  return file.block.Damaged() ? std::nullopt : palette;
}

}  // namespace kav
