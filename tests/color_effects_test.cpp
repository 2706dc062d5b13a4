// The six RGB565 effects: named edge cases, and over all 65536 colours the moves each allows
// (a channel that left its range would carry into or borrow from its neighbour).

#include "color/effects.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>
#include <vector>

namespace kav {
namespace {

using Effect = void (*)(Rgb565&, std::int16_t);

Rgb565 Apply(Effect effect, Rgb565 colour, int level) {
  effect(colour, static_cast<std::int16_t>(level));
  return colour;
}

struct Channels {
  unsigned r, g, b;
  bool operator==(const Channels&) const = default;
};

Channels Split(Rgb565 v) {
  return {unsigned{v} >> 11, (unsigned{v} >> 5) & 63, unsigned{v} & 31};
}

TEST(ColorEffects, EdgeCases) {
  for (int level = 1; level <= 8; ++level) {
    // Pure red stays: red has headroom 1 (it is full), green and blue have none.
    EXPECT_EQ(Apply(LightenRgb565, 0xF800, level), 0xF800) << level;
  }
  const std::vector<std::tuple<Effect, int, Rgb565, Rgb565>> cases{
      {TintCyanRgb565, 1, 0xFFFF, 0xFFFF},
      // Blue non-zero lets green rise from 0; blue itself has headroom 1 and stays 31.
      {LightenRgb565, 1, 0x001F, 0x003F},
      // Green 1 alone: red rises by 31 * 6 / 32 = 5, green by 63 * 6 / 32 = 11, blue stays 0.
      {LightenRgb565, 6, 0x0020, 0x2980},
      // Red 16 alone has headroom 16, one more than its distance to 31.
      {LightenRgb565, 8, 0x8000, 0xA000},
      // Green 32 alone has headroom 32 and rises by 8; with blue 1 it has 31 and rises by 7.
      {TintCyanRgb565, 8, 0x0400, 0x0500},
      {TintCyanRgb565, 8, 0x0401, 0x04E8},
      // Each channel of 0x1234 (2, 17, 20) at the top level.
      {LightenRgb565, 8, 0x1234, 0x4B97},
      {TintRedRgb565, 8, 0x1234, 0x49AF},
      {TintBlueRgb565, 8, 0x1234, 0x123A},
  };
  for (const auto& [effect, level, in, out] : cases) {
    EXPECT_EQ(Apply(effect, in, level), out) << level << " on " << in;
  }
  // Darken rounds down up to level 4 and up from level 5, in red, green and blue alike, each on
  // its own.
  const std::array<unsigned, 8> ofOne = {1, 0, 0, 0, 0, 1, 1, 1};
  const std::array<unsigned, 8> ofThirtyOne = {31, 3, 7, 11, 15, 20, 24, 28};
  for (std::size_t n = 1; n <= 7; ++n) {
    const int level = static_cast<int>(n);
    const unsigned one = ofOne[n], full = ofThirtyOne[n];
    EXPECT_EQ(Split(Apply(DarkenRgb565, 0x0821, level)), (Channels{one, one, one})) << n;
    EXPECT_EQ(Split(Apply(DarkenRgb565, 0xFBFF, level)), (Channels{full, full, full})) << n;
  }
}

// Over every colour, at every level of an effect's range, each channel moves only the way
// the effect allows (1: up or stays, -1: down or stays, 0: stays), and black stays black.
TEST(ColorEffects, BlackStaysAndEveryChannelMovesOnlyTheWayItsEffectAllows) {
  const std::pair<Effect, std::array<int, 3>> effects[] = {{LightenRgb565, {1, 1, 1}},
                                                           {DarkenRgb565, {-1, -1, -1}},
                                                           {TintRedRgb565, {1, -1, -1}},
                                                           {TintCyanRgb565, {-1, 1, 1}},
                                                           {TintBlueRgb565, {-1, 0, 1}}};
  const auto allowed = [](unsigned was, unsigned now, int move) {
    return move > 0 ? now >= was : move < 0 ? now <= was : now == was;
  };
  for (unsigned v = 0; v <= 0xFFFF; ++v) {
    const auto colour = static_cast<Rgb565>(v);
    const Channels c = Split(colour);
    for (const auto& e : effects) {
      for (int level = 1; level <= 8; ++level) {
        const Rgb565 out = Apply(e.first, colour, level);
        const Channels got = Split(out);
        ASSERT_TRUE((v != 0 || out == 0) && allowed(c.r, got.r, e.second[0]) &&
                    allowed(c.g, got.g, e.second[1]) && allowed(c.b, got.b, e.second[2]))
            << &e - effects << " level " << level << " on " << v;
      }
    }
    Rgb565 grey = colour;
    GreyRgb565(grey);
    const Channels g = Split(grey);
    ASSERT_TRUE((v != 0 || grey == 0) && g.r == g.b && (g.g == 2 * g.r || g.g == 2 * g.r + 1)) << v;
  }
}

}  // namespace
}  // namespace kav
