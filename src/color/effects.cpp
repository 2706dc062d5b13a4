#include "color/effects.h"

namespace kav {
namespace {

constexpr std::int16_t kMaxRaiseLevel = 8;
constexpr std::int16_t kMaxDarkenLevel = 7;

struct Channels {
  unsigned red;
  unsigned green;
  unsigned blue;
};

constexpr Channels Split(Rgb565 colour) {
  return {RedOf(colour), GreenOf(colour), BlueOf(colour)};
}

constexpr Rgb565 Join(const Channels& c) {
  return MakeRgb565(c.red, c.green, c.blue);
}

// The channels of the two's complement of the colour: how far each channel may rise.
constexpr Channels Headroom(Rgb565 colour) {
  return Split(static_cast<Rgb565>(0x10000u - colour));
}

constexpr bool RaiseLevel(std::int16_t level) {
  return level >= 1 && level <= kMaxRaiseLevel;
}

constexpr unsigned Raised(unsigned c, unsigned headroom, unsigned level, unsigned parts) {
  return c + headroom * level / parts;
}

constexpr unsigned Lowered(unsigned c, unsigned level) {
  return c - c * level / 32;
}

constexpr unsigned Darkened(unsigned c, unsigned level) {
  switch (level) {
    case 5:
      return c - 3 * c / 8;
    case 6:
      return c - c / 4;
    case 7:
      return c - c / 8;
    default:  // levels 1 to 4 round down
      return c * level / 8;
  }
}

}  // namespace

void LightenRgb565(Rgb565& colour, std::int16_t level) {
  if (!RaiseLevel(level)) {
    return;
  }
  const unsigned n = static_cast<unsigned>(level);
  const Channels c = Split(colour);
  const Channels h = Headroom(colour);
  colour = Join({Raised(c.red, h.red, n, 32), Raised(c.green, h.green, n, 32),
                 Raised(c.blue, h.blue, n, 32)});
}

void DarkenRgb565(Rgb565& colour, std::int16_t level) {
  if (level < 1 || level > kMaxDarkenLevel) {
    return;
  }
  const unsigned n = static_cast<unsigned>(level);
  const Channels c = Split(colour);
  colour = Join({Darkened(c.red, n), Darkened(c.green, n), Darkened(c.blue, n)});
}

void TintRedRgb565(Rgb565& colour, std::int16_t level) {
  if (!RaiseLevel(level)) {
    return;
  }
  const unsigned n = static_cast<unsigned>(level);
  const Channels c = Split(colour);
  const Channels h = Headroom(colour);
  colour = Join({Raised(c.red, h.red, n, 32), Lowered(c.green, n), Lowered(c.blue, n)});
}

void TintCyanRgb565(Rgb565& colour, std::int16_t level) {
  if (!RaiseLevel(level)) {
    return;
  }
  const unsigned n = static_cast<unsigned>(level);
  const Channels c = Split(colour);
  const Channels h = Headroom(colour);
  colour =
      Join({Lowered(c.red, n), Raised(c.green, h.green, n, 32), Raised(c.blue, h.blue, n, 32)});
}

void TintBlueRgb565(Rgb565& colour, std::int16_t level) {
  if (!RaiseLevel(level)) {
    return;
  }
  const unsigned n = static_cast<unsigned>(level);
  const Channels c = Split(colour);
  const Channels h = Headroom(colour);
  // Blue counts in sixteenths: up to half its headroom at level 8.
  colour = Join({Lowered(c.red, n), c.green, Raised(c.blue, h.blue, n, 16)});
}

void GreyRgb565(Rgb565& colour) {
  const Channels c = Split(colour);
  // Widened by shifting alone (white gives 248, 252, 248), so grey white is 0xFFDF.
  const unsigned y = (c.red * 8 + c.green * 4 + c.blue * 8) / 3;
  colour = PackRgb565(y, y, y);
}

}  // namespace kav
