#include "color/nearest_colour.h"

#include <array>
#include <cmath>

namespace kav {
namespace {

// The sRGB transfer function: a straight segment near black, a power curve above it.
constexpr double kChannelMax = 255.0;
constexpr double kSrgbLinearLimit = 0.04045;  // encoded values up to this lie on the segment
constexpr double kSrgbLinearSlope = 12.92;
constexpr double kSrgbOffset = 0.055;
constexpr double kSrgbScale = 1.055;
constexpr double kSrgbExponent = 2.4;

// Ottosson's matrices: linear sRGB to cone responses (LMS), and the cube roots of those to
// OKLab.
using Matrix = std::array<std::array<double, 3>, 3>;
constexpr Matrix kLinearSrgbToLms{{
    {0.4122214708, 0.5363325363, 0.0514459929},
    {0.2119034982, 0.6806995451, 0.1073969566},
    {0.0883024619, 0.2817188376, 0.6299787005},
}};
constexpr Matrix kLmsRootsToOkLab{{
    {0.2104542553, 0.7936177850, -0.0040720468},
    {1.9779984951, -2.4285922050, 0.4505937099},
    {0.0259040371, 0.7827717662, -0.8086757660},
}};

std::array<double, 3> Times(const Matrix& m, double x, double y, double z) {
  return {m[0][0] * x + m[0][1] * y + m[0][2] * z, m[1][0] * x + m[1][1] * y + m[1][2] * z,
          m[2][0] * x + m[2][1] * y + m[2][2] * z};
}

}  // namespace

double SrgbToLinear(std::uint8_t channel) {
  const double encoded = channel / kChannelMax;
  if (encoded <= kSrgbLinearLimit) {
    return encoded / kSrgbLinearSlope;
  }
  return std::pow((encoded + kSrgbOffset) / kSrgbScale, kSrgbExponent);
}

OkLab OkLabOfLinear(double red, double green, double blue) {
  const std::array<double, 3> lms = Times(kLinearSrgbToLms, red, green, blue);
  const std::array<double, 3> lab =
      Times(kLmsRootsToOkLab, std::cbrt(lms[0]), std::cbrt(lms[1]), std::cbrt(lms[2]));
  return {lab[0], lab[1], lab[2]};
}

OkLab OkLabOf(Rgb24 colour) {
  return OkLabOfLinear(SrgbToLinear(static_cast<std::uint8_t>(colour >> 16)),
                       SrgbToLinear(static_cast<std::uint8_t>(colour >> 8)),
                       SrgbToLinear(static_cast<std::uint8_t>(colour)));
}

double SquaredDistance(const OkLab& x, const OkLab& y) {
  const double dl = x.l - y.l, da = x.a - y.a, db = x.b - y.b;
  return dl * dl + da * da + db * db;
}

std::optional<std::uint8_t> NearestEntry(Rgb24 colour, const RgbPalette& palette,
                                         std::optional<std::uint8_t> excluded) {
  const OkLab wanted = OkLabOf(colour);
  std::optional<std::uint8_t> nearest;
  double nearestDistance = 0;
  for (std::size_t i = 0; i < palette.count && i < kPaletteEntries; ++i) {
    const auto index = static_cast<std::uint8_t>(i);
    if (index == excluded) {
      continue;
    }
    const double distance = SquaredDistance(wanted, OkLabOf(palette.colours[i]));
    if (!nearest || distance < nearestDistance) {  // strictly nearer: a tie keeps the lower
      nearest = index;
      nearestDistance = distance;
    }
  }
  return nearest;
}

}  // namespace kav
