#pragma once
// RGBA PNG files, written row by row through libpng into an output file that appears only
// when it is complete.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace kav {

// Fills row `y` (width * 4 bytes: red, green, blue, alpha).
using RgbaRowSource = std::function<void(std::uint64_t y, std::span<std::uint8_t> rgba)>;

// The largest width or height a PNG file can have.
inline constexpr std::uint64_t kPngMaxDimension = 0x7FFFFFFF;

// Writes a width x height RGBA PNG to `path`; false when it cannot be created or written
// (nothing is left at `path` then).
bool WriteRgbaPng(const std::string& path, std::uint64_t width, std::uint64_t height,
                  const RgbaRowSource& rows);

}  // namespace kav
