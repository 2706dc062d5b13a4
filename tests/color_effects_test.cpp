// The six RGB565 effects: the worked table of results, the named edge cases, and every
// colour against a model written from the channel-by-channel headroom rules (not from the
// two's complement the code uses), so that an off-by-one in rounding or headroom shows.

#include "color/effects.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <string>
#include <vector>

namespace kav {
namespace {

enum class Effect { kLighten, kDarken, kTintRed, kTintCyan, kTintBlue, kGrey };

constexpr std::array kLevelEffects = {Effect::kLighten, Effect::kDarken, Effect::kTintRed,
                                      Effect::kTintCyan, Effect::kTintBlue};
constexpr std::array kAllEffects = {Effect::kLighten,  Effect::kDarken,   Effect::kTintRed,
                                    Effect::kTintCyan, Effect::kTintBlue, Effect::kGrey};

std::string NameOf(Effect effect) {
  switch (effect) {
    case Effect::kLighten:
      return "Lighten";
    case Effect::kDarken:
      return "Darken";
    case Effect::kTintRed:
      return "TintRed";
    case Effect::kTintCyan:
      return "TintCyan";
    case Effect::kTintBlue:
      return "TintBlue";
    case Effect::kGrey:
      return "Grey";
  }
  return "?";
}

Rgb565 Apply(Effect effect, Rgb565 colour, std::int16_t level) {
  switch (effect) {
    case Effect::kLighten:
      LightenRgb565(colour, level);
      break;
    case Effect::kDarken:
      DarkenRgb565(colour, level);
      break;
    case Effect::kTintRed:
      TintRedRgb565(colour, level);
      break;
    case Effect::kTintCyan:
      TintCyanRgb565(colour, level);
      break;
    case Effect::kTintBlue:
      TintBlueRgb565(colour, level);
      break;
    case Effect::kGrey:
      GreyRgb565(colour);
      break;
  }
  return colour;
}

// --- The model -------------------------------------------------------------------------

struct Rgb {
  unsigned r;
  unsigned g;
  unsigned b;
  bool operator==(const Rgb&) const = default;
};

Rgb Channels(Rgb565 v) {
  return {unsigned{v} >> 11, (unsigned{v} >> 5) & 63, unsigned{v} & 31};
}

// Headroom by cases: the distance to the maximum while a lower channel is non-zero, one
// more when every lower channel is 0 and the channel is not, 0 when all of them are 0.
Rgb HeadroomByCases(Rgb c) {
  const unsigned hb = c.b > 0 ? 32 - c.b : 0;
  const unsigned hg = c.b > 0 ? 63 - c.g : (c.g > 0 ? 64 - c.g : 0);
  const unsigned hr = (c.g > 0 || c.b > 0) ? 31 - c.r : (c.r > 0 ? 32 - c.r : 0);
  return {hr, hg, hb};
}

// Darken as "c * n / 8, rounded down for 1..4 and up for 5..7".
unsigned DarkenChannel(unsigned c, unsigned n) {
  return n <= 4 ? c * n / 8 : (c * n + 7) / 8;
}

bool ActsAt(Effect effect, int level) {
  if (effect == Effect::kGrey) {
    return true;
  }
  const int highest = effect == Effect::kDarken ? 7 : 8;
  return level >= 1 && level <= highest;
}

// The expected channels; none of them is clamped or masked, so a value out of range shows.
Rgb Model(Effect effect, Rgb565 v, int level) {
  const Rgb c = Channels(v);
  if (!ActsAt(effect, level)) {
    return c;
  }
  const auto n = static_cast<unsigned>(level);
  const Rgb h = HeadroomByCases(c);
  switch (effect) {
    case Effect::kLighten:
      return {c.r + h.r * n / 32, c.g + h.g * n / 32, c.b + h.b * n / 32};
    case Effect::kDarken:
      return {DarkenChannel(c.r, n), DarkenChannel(c.g, n), DarkenChannel(c.b, n)};
    case Effect::kTintRed:
      return {c.r + h.r * n / 32, c.g - c.g * n / 32, c.b - c.b * n / 32};
    case Effect::kTintCyan:
      return {c.r - c.r * n / 32, c.g + h.g * n / 32, c.b + h.b * n / 32};
    case Effect::kTintBlue:
      return {c.r - c.r * n / 32, c.g, c.b + h.b * n / 16};
    case Effect::kGrey: {
      const unsigned y = (c.r * 8 + c.g * 4 + c.b * 8) / 3;
      return {y / 8, y / 4, y / 8};
    }
  }
  return c;
}

// --- The worked table ------------------------------------------------------------------

constexpr std::array<Rgb565, 7> kTableInputs = {0x0000, 0xFFFF, 0x8410, 0xF800,
                                                0x07E0, 0x001F, 0x1234};

struct TableRow {
  Effect effect;
  std::int16_t level;
  std::array<Rgb565, 7> results;
};

const std::vector<TableRow>& WorkedTable() {
  static const std::vector<TableRow> rows = {
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
  return rows;
}

TEST(ColorEffects, WorkedTable) {
  for (const TableRow& row : WorkedTable()) {
    for (std::size_t i = 0; i < kTableInputs.size(); ++i) {
      SCOPED_TRACE(NameOf(row.effect) + " level " + std::to_string(row.level) + " on " +
                   std::to_string(kTableInputs[i]));
      EXPECT_EQ(Apply(row.effect, kTableInputs[i], row.level), row.results[i]);
    }
  }
}

TEST(ColorEffects, ModelAgreesWithTheWorkedTable) {
  // The model is what the exhaustive checks below trust; it must reproduce the table first.
  for (const TableRow& row : WorkedTable()) {
    for (std::size_t i = 0; i < kTableInputs.size(); ++i) {
      const Rgb m = Model(row.effect, kTableInputs[i], row.level);
      EXPECT_EQ(m.r << 11 | m.g << 5 | m.b, row.results[i]) << NameOf(row.effect);
    }
  }
}

// --- Edge cases ------------------------------------------------------------------------

TEST(ColorEffects, LevelsOutsideTheirRangeLeaveEveryColourAlone) {
  // 257 and 264 are 1 and 8 in their low byte; -32767 is 1 in its low byte.
  const std::vector<int> outside = {0,   -1, 9,  10,   16,     100,    257,
                                    264, -7, -8, -255, -32767, -32768, 32767};
  for (const Effect effect : kLevelEffects) {
    for (const int level : outside) {
      for (unsigned v = 0; v <= 0xFFFF; ++v) {
        const auto colour = static_cast<Rgb565>(v);
        const Rgb565 result = Apply(effect, colour, static_cast<std::int16_t>(level));
        if (result != colour) {
          ADD_FAILURE() << NameOf(effect) << " level " << level << " changed " << v << " to "
                        << result;
          break;
        }
      }
    }
  }
  for (unsigned v = 0; v <= 0xFFFF; ++v) {
    const auto colour = static_cast<Rgb565>(v);
    ASSERT_EQ(Apply(Effect::kDarken, colour, 8), colour) << v;
  }
}

TEST(ColorEffects, BlackIsAFixedPointAtEveryLevel) {
  for (const Effect effect : kAllEffects) {
    for (int level = std::numeric_limits<std::int16_t>::min();
         level <= std::numeric_limits<std::int16_t>::max(); ++level) {
      const Rgb565 result = Apply(effect, 0x0000, static_cast<std::int16_t>(level));
      if (result != 0) {
        ADD_FAILURE() << NameOf(effect) << " level " << level << " gave " << result;
        break;
      }
    }
  }
}

TEST(ColorEffects, WhiteAndPureRedStayWhereTheyHaveNoHeadroom) {
  for (std::int16_t level = 1; level <= 8; ++level) {
    EXPECT_EQ(Apply(Effect::kLighten, 0xFFFF, level), 0xFFFF) << level;
    EXPECT_EQ(Apply(Effect::kLighten, 0xF800, level), 0xF800) << level;
    EXPECT_EQ(Apply(Effect::kTintRed, 0xF800, level), 0xF800) << level;
  }
  EXPECT_EQ(Apply(Effect::kTintCyan, 0xFFFF, 1), 0xFFFF);
}

TEST(ColorEffects, HeadroomComesFromTheLowerChannels) {
  // Blue non-zero lets green rise from 0; blue itself has headroom 1 and stays 31.
  EXPECT_EQ(Apply(Effect::kLighten, 0x001F, 1), 0x003F);
  // Green 1 alone: red rises by 31 * 6 / 32 = 5, green by 63 * 6 / 32 = 11, blue stays 0.
  EXPECT_EQ(Apply(Effect::kLighten, 0x0020, 6), 0x2980);
  // Red 16 alone has headroom 16, one more than its distance to 31.
  EXPECT_EQ(Apply(Effect::kLighten, 0x8000, 8), 0xA000);
  // Green 32 alone has headroom 32 and rises by 8; with blue 1 it has 31 and rises by 7.
  EXPECT_EQ(Apply(Effect::kTintCyan, 0x0400, 8), 0x0500);
  EXPECT_EQ(Apply(Effect::kTintCyan, 0x0401, 8), 0x04E8);
}

TEST(ColorEffects, DarkenRoundsDownToLevel4AndUpFrom5) {
  const std::array<unsigned, 8> ofOne = {1, 0, 0, 0, 0, 1, 1, 1};
  const std::array<unsigned, 8> ofThirtyOne = {31, 3, 7, 11, 15, 20, 24, 28};
  for (std::int16_t level = 1; level <= 7; ++level) {
    const auto n = static_cast<std::size_t>(level);
    SCOPED_TRACE(level);
    // Red, green and blue alike.
    EXPECT_EQ(Channels(Apply(Effect::kDarken, 0x0801, level)), (Rgb{ofOne[n], 0, ofOne[n]}));
    EXPECT_EQ(Channels(Apply(Effect::kDarken, 0x0020, level)).g, ofOne[n]);
    EXPECT_EQ(Channels(Apply(Effect::kDarken, 0xF81F, level)),
              (Rgb{ofThirtyOne[n], 0, ofThirtyOne[n]}));
    EXPECT_EQ(Channels(Apply(Effect::kDarken, 0x03E0, level)).g, ofThirtyOne[n]);
  }
}

TEST(ColorEffects, GreyWeighsTheChannelsAlikeWithoutFillingLowBits) {
  EXPECT_EQ(Apply(Effect::kGrey, 0xFFFF, 0), 0xFFDF);  // green 62, not 63
  EXPECT_EQ(Apply(Effect::kGrey, 0x8410, 0), 0x8410);
  EXPECT_EQ(Apply(Effect::kGrey, 0xF800, 0), 0x528A);
  EXPECT_EQ(Apply(Effect::kGrey, 0x001F, 0), 0x528A);
  // Green counts half as much per step as red and blue: green 62 weighs as red 31.
  EXPECT_EQ(Apply(Effect::kGrey, 0x07C0, 0), Apply(Effect::kGrey, 0xF800, 0));
}

// --- Every colour ----------------------------------------------------------------------

TEST(ColorEffects, EveryColourAtEveryLevelMatchesTheModel) {
  for (const Effect effect : kAllEffects) {
    const int last = effect == Effect::kGrey ? 0 : 9;
    for (int level = effect == Effect::kGrey ? 0 : -1; level <= last; ++level) {
      int failures = 0;
      for (unsigned v = 0; v <= 0xFFFF && failures < 5; ++v) {
        const auto colour = static_cast<Rgb565>(v);
        const Rgb expected = Model(effect, colour, level);
        const Rgb got = Channels(Apply(effect, colour, static_cast<std::int16_t>(level)));
        if (got != expected) {
          ++failures;
          ADD_FAILURE() << NameOf(effect) << " level " << level << " on " << v << ": got (" << got.r
                        << ", " << got.g << ", " << got.b << "), expected (" << expected.r << ", "
                        << expected.g << ", " << expected.b << ")";
        }
      }
    }
  }
}

TEST(ColorEffects, NoChannelLeavesItsRangeOrMovesTheWrongWay) {
  // Checked on the model's unmasked channels and on the packed result: a channel that
  // overflowed would carry into its neighbour and show as a fall where a rise was due.
  for (unsigned v = 0; v <= 0xFFFF; ++v) {
    const auto colour = static_cast<Rgb565>(v);
    const Rgb c = Channels(colour);
    for (const Effect effect : kAllEffects) {
      for (int level = 1; level <= 8; ++level) {
        const Rgb m = Model(effect, colour, level);
        ASSERT_TRUE(m.r <= 31 && m.g <= 63 && m.b <= 31) << NameOf(effect) << " " << v;
        const Rgb got = Channels(Apply(effect, colour, static_cast<std::int16_t>(level)));
        switch (effect) {
          case Effect::kLighten:
            ASSERT_TRUE(got.r >= c.r && got.g >= c.g && got.b >= c.b) << v << " " << level;
            break;
          case Effect::kDarken:
            ASSERT_TRUE(got.r <= c.r && got.g <= c.g && got.b <= c.b) << v << " " << level;
            break;
          case Effect::kTintRed:
            ASSERT_TRUE(got.r >= c.r && got.g <= c.g && got.b <= c.b) << v << " " << level;
            break;
          case Effect::kTintCyan:
            ASSERT_TRUE(got.r <= c.r && got.g >= c.g && got.b >= c.b) << v << " " << level;
            break;
          case Effect::kTintBlue:
            ASSERT_TRUE(got.r <= c.r && got.g == c.g && got.b >= c.b) << v << " " << level;
            break;
          case Effect::kGrey:
            ASSERT_TRUE(got.r == got.b && (got.g == 2 * got.r || got.g == 2 * got.r + 1)) << v;
            break;
        }
      }
    }
  }
}

}  // namespace
}  // namespace kav
