#pragma once
// Rgb565: a 16-bit colour, red in bits 15..11 (0..31), green in bits 10..5 (0..63), blue in
// bits 4..0 (0..31).

#include <array>
#include <cstddef>
#include <cstdint>

namespace kav {

using Rgb565 = std::uint16_t;

inline constexpr unsigned kRedShift = 11;
inline constexpr unsigned kGreenShift = 5;
inline constexpr unsigned kGreenMax = 63;
inline constexpr unsigned kBlueMax = 31;

// A red, green, blue triple of 0..255 keeps its top 5, 6 and 5 bits.
constexpr Rgb565 PackRgb565(unsigned red, unsigned green, unsigned blue) {
  return static_cast<Rgb565>((red >> 3) << kRedShift | (green >> 2) << kGreenShift | (blue >> 3));
}

constexpr unsigned RedOf(Rgb565 colour) {
  return colour >> kRedShift;
}
constexpr unsigned GreenOf(Rgb565 colour) {
  return (colour >> kGreenShift) & kGreenMax;
}
constexpr unsigned BlueOf(Rgb565 colour) {
  return colour & kBlueMax;
}

constexpr Rgb565 MakeRgb565(unsigned red, unsigned green, unsigned blue) {
  return static_cast<Rgb565>(red << kRedShift | green << kGreenShift | blue);
}

// A colour table: the colour of each palette index, entry 0 first. Every output file holds
// its tables as 512 bytes each, little-endian.
inline constexpr std::size_t kColourTableEntries = 256;
inline constexpr std::size_t kColourTableBytes = kColourTableEntries * 2;
using ColourTable = std::array<Rgb565, kColourTableEntries>;

}  // namespace kav
