// Palette files (GIMP, JASC, Adobe, hex) through the kind their bytes and name tell and the
// parser of that kind. The first byte picks the name's extension; the rest is the file.
// Pictures given as palette files go through the picture readers, fuzzed by their own targets.
// A palette read must hold 1 to 256 entries, black past its count, and a transparent entry
// below the count.

#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string_view>

#include "color/palette_file.h"

namespace {

constexpr std::array<std::string_view, 5> kNames{"p.gpl", "p.pal", "p.act", "p.hex", "p.txt"};

bool Sound(const kav::PaletteFile& file) {
  const kav::RgbPalette& palette = file.palette;
  if (palette.count == 0 || palette.count > kav::kPaletteEntries ||
      (file.transparentEntry && *file.transparentEntry >= palette.count)) {
    return false;
  }
  for (std::size_t i = palette.count; i < kav::kPaletteEntries; ++i) {
    if (palette.colours[i] != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  const kav::PaletteFileKind kind = kav::PaletteFileKindOf(bytes, kNames[data[0] % kNames.size()]);
  if (kind == kav::PaletteFileKind::kPicture) {
    return 0;
  }
  const std::optional<kav::PaletteFile> file = kav::ParsePaletteFile(kind, bytes);
  if (file && !Sound(*file)) {
    std::abort();
  }
  return 0;
}
