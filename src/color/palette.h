#pragma once
// What the colour rules work on: 24-bit colours, palettes of up to 256 of them, truecolour
// pixels as the readers give them, and which pixels are transparent.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kav {

// A 24-bit sRGB colour as 0xRRGGBB; exact and reduced palettes are sorted by this value.
using Rgb24 = std::uint32_t;

constexpr Rgb24 MakeRgb24(unsigned red, unsigned green, unsigned blue) {
  return Rgb24{red} << 16 | Rgb24{green} << 8 | Rgb24{blue};
}

inline constexpr std::size_t kPaletteEntries = 256;

// A palette: entries [0, count) are its own colours, the entries past count are black.
struct RgbPalette {
  std::array<Rgb24, kPaletteEntries> colours{};
  std::uint16_t count = 0;  // 0..256
};

// A truecolour picture: 4 bytes a pixel (red, green, blue, alpha), rows top first, packed.
// The caller owns the bytes; `bytes.size()` is width x height x 4.
inline constexpr std::size_t kRgbaPixelBytes = 4;
struct RgbaPixels {
  std::span<const std::uint8_t> bytes;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::size_t PixelCount() const { return std::size_t{width} * height; }
};

// Which pixels are transparent and the index T they take. A pixel whose alpha is below the
// threshold is transparent; one at or above it keeps its colour as stored. Without an index
// every pixel is opaque, whatever its alpha, and every palette entry may be taken.
struct Transparency {
  std::optional<std::uint8_t> index;
  std::uint8_t alphaThreshold = 128;

  bool IsTransparent(std::uint8_t alpha) const { return index && alpha < alphaThreshold; }
};

}  // namespace kav
