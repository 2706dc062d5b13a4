// The six RGB565 effects: the worked table of results, the named edge cases, and over all
// 65536 colours that black never changes, that no level outside an effect's range changes
// anything, and that every channel moves only the way its effect allows (a channel that left
// its range would carry into or borrow from its neighbour and show as a wrong move there).

#include "color/effects.h"

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>
#include <vector>

namespace kav {
namespace {

enum class Effect { kLighten, kDarken, kTintRed, kTintCyan, kTintBlue, kGrey };

constexpr std::array kAllEffects = {Effect::kLighten,  Effect::kDarken,   Effect::kTintRed,
                                    Effect::kTintCyan, Effect::kTintBlue, Effect::kGrey};
constexpr std::array<const char*, 6> kNames = {"Lighten",  "Darken",   "TintRed",
                                               "TintCyan", "TintBlue", "Grey"};

const char* NameOf(Effect effect) {
  return kNames.at(static_cast<std::size_t>(effect));
}

Rgb565 Apply(Effect effect, Rgb565 colour, int level) {
  using Operation = void (*)(Rgb565&, std::int16_t);
  constexpr std::array<Operation, 5> kLevelled = {LightenRgb565, DarkenRgb565, TintRedRgb565,
                                                  TintCyanRgb565, TintBlueRgb565};
  if (effect == Effect::kGrey) {
    GreyRgb565(colour);
  } else {
    kLevelled.at(static_cast<std::size_t>(effect))(colour, static_cast<std::int16_t>(level));
  }
  return colour;
}

struct Channels {
  unsigned r;
  unsigned g;
  unsigned b;
  bool operator==(const Channels&) const = default;
};

Channels Split(Rgb565 v) {
  return {unsigned{v} >> 11, (unsigned{v} >> 5) & 63, unsigned{v} & 31};
}

TEST(ColorEffects, WorkedTable) {
  constexpr std::array<Rgb565, 7> kInputs = {0x0000, 0xFFFF, 0x8410, 0xF800,
                                             0x07E0, 0x001F, 0x1234};
  const struct {
    Effect effect;
    int level;
    std::array<Rgb565, 7> results;
  } rows[] = {
      {Effect::kLighten, 1, {0x0000, 0xFFFF, 0x8410, 0xF800, 0x07E0, 0x003F, 0x1254}},
      {Effect::kLighten, 6, {0x0000, 0xFFFF, 0x94B3, 0xF800, 0x2FE0, 0x297F, 0x3B36}},
      {Effect::kLighten, 8, {0x0000, 0xFFFF, 0x9CF4, 0xF800, 0x3FE0, 0x39FF, 0x4B97}},
      {Effect::kTintRed, 2, {0x0000, 0xFF9E, 0x83CF, 0xF800, 0x0F80, 0x081E, 0x1A13}},
      {Effect::kTintRed, 3, {0x0000, 0xFF5D, 0x8BAF, 0xF800, 0x1740, 0x101D, 0x2213}},
      {Effect::kTintRed, 8, {0x0000, 0xFE18, 0x9B0C, 0xF800, 0x3E00, 0x3818, 0x49AF}},
      {Effect::kTintCyan, 1, {0x0000, 0xFFFF, 0x8410, 0xF800, 0x07E0, 0x003F, 0x1254}},
      {Effect::kTintCyan, 7, {0x0000, 0xCFFF, 0x6CD3, 0xC800, 0x07E0, 0x01BF, 0x1376}},
      {Effect::kTintBlue, 1, {0x0000, 0xFFFF, 0x8411, 0xF800, 0x07E0, 0x001F, 0x1234}},
      {Effect::kTintBlue, 2, {0x0000, 0xF7FF, 0x7C12, 0xF000, 0x07E0, 0x001F, 0x1235}},
      {Effect::kTintBlue, 3, {0x0000, 0xEFFF, 0x7C13, 0xE800, 0x07E0, 0x001F, 0x1236}},
      {Effect::kTintBlue, 8, {0x0000, 0xC7FF, 0x6418, 0xC000, 0x07E0, 0x001F, 0x123A}},
      {Effect::kDarken, 1, {0x0000, 0x18E3, 0x1082, 0x1800, 0x00E0, 0x0003, 0x0042}},
      {Effect::kDarken, 2, {0x0000, 0x39E7, 0x2104, 0x3800, 0x01E0, 0x0007, 0x0085}},
      {Effect::kDarken, 3, {0x0000, 0x5AEB, 0x3186, 0x5800, 0x02E0, 0x000B, 0x00C7}},
      {Effect::kDarken, 4, {0x0000, 0x7BEF, 0x4208, 0x7800, 0x03E0, 0x000F, 0x090A}},
      {Effect::kDarken, 5, {0x0000, 0xA514, 0x528A, 0xA000, 0x0500, 0x0014, 0x116D}},
      {Effect::kDarken, 6, {0x0000, 0xC618, 0x630C, 0xC000, 0x0600, 0x0018, 0x11AF}},
      {Effect::kDarken, 7, {0x0000, 0xE71C, 0x738E, 0xE000, 0x0700, 0x001C, 0x11F2}},
      {Effect::kDarken, 8, {0x0000, 0xFFFF, 0x8410, 0xF800, 0x07E0, 0x001F, 0x1234}},
      {Effect::kGrey, 0, {0x0000, 0xFFDF, 0x8410, 0x528A, 0x52AA, 0x528A, 0x528A}},
  };
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < kInputs.size(); ++i) {
      EXPECT_EQ(Apply(row.effect, kInputs[i], row.level), row.results[i])
          << NameOf(row.effect) << " level " << row.level << " on " << kInputs[i];
    }
  }
}

TEST(ColorEffects, EdgeCases) {
  for (int level = 1; level <= 8; ++level) {
    // White, and pure red with red headroom 1 and none in green and blue, stay.
    EXPECT_EQ(Apply(Effect::kLighten, 0xFFFF, level), 0xFFFF) << level;
    EXPECT_EQ(Apply(Effect::kLighten, 0xF800, level), 0xF800) << level;
    EXPECT_EQ(Apply(Effect::kTintRed, 0xF800, level), 0xF800) << level;
  }
  const struct {
    Effect effect;
    int level;
    Rgb565 in;
    Rgb565 out;
  } cases[] = {
      {Effect::kTintCyan, 1, 0xFFFF, 0xFFFF},
      // Blue non-zero lets green rise from 0; blue itself has headroom 1 and stays 31.
      {Effect::kLighten, 1, 0x001F, 0x003F},
      // Green 1 alone: red rises by 31 * 6 / 32 = 5, green by 63 * 6 / 32 = 11, blue stays 0.
      {Effect::kLighten, 6, 0x0020, 0x2980},
      // Red 16 alone has headroom 16, one more than its distance to 31.
      {Effect::kLighten, 8, 0x8000, 0xA000},
      // Green 32 alone has headroom 32 and rises by 8; with blue 1 it has 31 and rises by 7.
      {Effect::kTintCyan, 8, 0x0400, 0x0500},
      {Effect::kTintCyan, 8, 0x0401, 0x04E8},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Apply(c.effect, c.in, c.level), c.out) << NameOf(c.effect) << " on " << c.in;
  }
  // Darken rounds down up to level 4 and up from level 5, in red, green and blue alike.
  const std::array<unsigned, 8> ofOne = {1, 0, 0, 0, 0, 1, 1, 1};
  const std::array<unsigned, 8> ofThirtyOne = {31, 3, 7, 11, 15, 20, 24, 28};
  for (std::size_t n = 1; n <= 7; ++n) {
    const int level = static_cast<int>(n);
    EXPECT_EQ(Split(Apply(Effect::kDarken, 0x0801, level)), (Channels{ofOne[n], 0, ofOne[n]}));
    EXPECT_EQ(Split(Apply(Effect::kDarken, 0x0020, level)).g, ofOne[n]) << n;
    EXPECT_EQ(Split(Apply(Effect::kDarken, 0xF81F, level)),
              (Channels{ofThirtyOne[n], 0, ofThirtyOne[n]}));
    EXPECT_EQ(Split(Apply(Effect::kDarken, 0x03E0, level)).g, ofThirtyOne[n]) << n;
  }
}

TEST(ColorEffects, BlackIsAFixedPointAtEveryLevel) {
  for (const Effect effect : kAllEffects) {
    for (int level = -32768; level <= 32767; ++level) {
      ASSERT_EQ(Apply(effect, 0x0000, level), 0) << NameOf(effect) << " level " << level;
    }
  }
}

// Over every colour: a level outside an effect's range changes nothing, and inside it each
// channel moves only the way the effect allows (1: up or stays, -1: down or stays, 0: stays).
TEST(ColorEffects, EveryChannelMovesOnlyTheWayItsEffectAllows) {
  // 257 and 264 are 1 and 8 in their low byte; -32767 is 1 in its low byte.
  const std::vector<int> outside = {0, -1, 9, 10, 16, 257, 264, -8, -32767, -32768, 32767};
  constexpr std::array<std::array<int, 3>, 5> kMoves = {
      {{1, 1, 1}, {-1, -1, -1}, {1, -1, -1}, {-1, 1, 1}, {-1, 0, 1}}};
  const auto allowed = [](unsigned was, unsigned now, int move) {
    return move > 0 ? now >= was : move < 0 ? now <= was : now == was;
  };
  for (unsigned v = 0; v <= 0xFFFF; ++v) {
    const auto colour = static_cast<Rgb565>(v);
    const Channels c = Split(colour);
    for (const Effect effect : std::span(kAllEffects).first(5)) {
      for (const int level : outside) {
        ASSERT_EQ(Apply(effect, colour, level), colour) << NameOf(effect) << " level " << level;
      }
      ASSERT_EQ(Apply(Effect::kDarken, colour, 8), colour);
      const auto& move = kMoves.at(static_cast<std::size_t>(effect));
      for (int level = 1; level <= 8; ++level) {
        const Channels got = Split(Apply(effect, colour, level));
        ASSERT_TRUE(allowed(c.r, got.r, move[0]) && allowed(c.g, got.g, move[1]) &&
                    allowed(c.b, got.b, move[2]))
            << NameOf(effect) << " level " << level << " on " << v;
      }
    }
    const Channels grey = Split(Apply(Effect::kGrey, colour, 0));
    ASSERT_TRUE(grey.r == grey.b && (grey.g == 2 * grey.r || grey.g == 2 * grey.r + 1)) << v;
  }
}

}  // namespace
}  // namespace kav
