#pragma once
// The nearest-colour rule: both colours as 24-bit sRGB, decoded with the standard sRGB
// transfer function, turned into OKLab with Ottosson's matrices and compared by squared
// Euclidean distance, all in double precision; of equally near entries the lowest index wins.

#include <cstdint>
#include <optional>
#include <span>

#include "color/palette.h"

namespace kav {

struct OkLab {
  double l = 0;
  double a = 0;
  double b = 0;
};

// The standard sRGB decoding of one 8-bit channel to linear light, 0..1.
double SrgbToLinear(std::uint8_t channel);

// Linear red, green and blue (0..1 each) in OKLab.
OkLab OkLabOfLinear(double red, double green, double blue);

OkLab OkLabOf(Rgb24 colour);

double SquaredDistance(const OkLab& x, const OkLab& y);

// The index of the entry of `palette` nearest `colour` among its own entries [0, count),
// never `excluded`; nullopt when no entry may be taken.
std::optional<std::uint8_t> NearestEntry(Rgb24 colour, const RgbPalette& palette,
                                         std::optional<std::uint8_t> excluded);

}  // namespace kav
