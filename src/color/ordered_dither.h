#pragma once
// Ordered dithering: the standard 8 x 8 Bayer matrix value M (0..63) at row y mod 8, column
// x mod 8 is added to each channel of the pixel at (x, y) before the nearest-colour rule, as
// v + (M - 31.5) / 2, rounded to the nearest integer and clamped to 0..255.

#include <cstdint>

#include "color/palette.h"

namespace kav {

// Whether a picture is dithered before the nearest-colour rule (error diffusion is
// libimagequant's, see color/reduce.h).
enum class Dither { kNone, kOrdered, kDiffusion };

std::uint8_t DitherChannel(std::uint8_t value, std::uint32_t x, std::uint32_t y);

Rgb24 DitherColour(Rgb24 colour, std::uint32_t x, std::uint32_t y);

}  // namespace kav
