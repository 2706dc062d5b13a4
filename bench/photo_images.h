#pragma once
// Truecolour benchmark pictures: a photograph-like RGBA picture drawn in memory, and RGBA PNG
// files written and read with libpng.

#include <cstdint>
#include <span>
#include <vector>

namespace kav::bench {

// 4 bytes a pixel (red, green, blue, alpha), rows top first.
struct RgbaPicture {
  std::vector<std::uint8_t> pixels;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Smooth colour fields at several scales, as skies, skin and foliage are, under grain as a
// camera's noise adds; every pixel opaque. 3.2 million distinct colours at 8192 x 8192,
// three times as many as a photograph enlarged to that size has (the more colours, the more
// work for a palette mapper).
RgbaPicture MakeBenchPhoto(std::uint32_t width, std::uint32_t height);

// The picture as an 8-bit RGBA PNG, not interlaced, with libpng's default compression and
// filters; empty when libpng fails.
std::vector<std::uint8_t> EncodeRgbaPng(const RgbaPicture& picture);

// A PNG of any colour type and depth decoded by libpng to 8-bit RGBA; an empty picture when
// libpng refuses it.
RgbaPicture DecodePngToRgba(std::span<const std::uint8_t> png);

// The number of distinct 24-bit colours of the picture's pixels.
std::size_t DistinctColours(const RgbaPicture& picture);

}  // namespace kav::bench
