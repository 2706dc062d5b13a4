// MZR bytes: the header, the 32 tables and the rows against worked values.

#include "formats/mzr.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kav {
namespace {

using test::Bytes;
using test::Slice;

const test::BmpPicture kThreeByTwo =
    test::PictureOf(3, 2, [](int x, int y) { return y == 0 ? 0x10 + x : 0x20 + x; });

TEST(MzrEncoder, HeaderAndRowsOfThreeByTwo) {
  test::BmpPicture spec = kThreeByTwo;
  spec.paddingByte = 0xEE;  // the fourth byte of each stored row, never written
  const Bytes file = test::Encode(
      spec, FileKind::kMzr,
      {.startColor = 240, .endColor = 255, .transparentColor = 7, .useRemapping = true});
  ASSERT_EQ(file.size(), 16404u + 6);
  EXPECT_EQ(Slice(file, 0, 20),
            (Bytes{'K', 'A', 'V', '8', 'B', 'M', 'P', 0, 3, 0, 2, 0, 1, 0, 240, 0, 255, 0, 7, 0}));
  EXPECT_EQ(Slice(file, 16404), (Bytes{0x10, 0x11, 0x12, 0x20, 0x21, 0x22}));
  // Settings are stored as their low 16 bits.
  const Bytes low = test::Encode(
      kThreeByTwo, FileKind::kMzr,
      {.startColor = 300, .endColor = -1, .transparentColor = 65536 + 5, .useRemapping = false});
  EXPECT_EQ(Slice(low, 12, 20), (Bytes{0, 0, 0x2C, 0x01, 0xFF, 0xFF, 5, 0}));
}

// Each tint moves its own channel a sixth of the way to white, c + (255 - c) / 6, and the
// other two a sixth of the way to black, c - c / 6. For red 18, green 254, blue 7: red up
// 18 + 237 / 6 = 57, down 18 - 18 / 6 = 15; green up 254 + 1 / 6 = 254, down 254 - 254 / 6 =
// 212; blue up 7 + 248 / 6 = 48, down 7 - 7 / 6 = 6.
TEST(MzrTables, TintsOfOneEntry) {
  Palette source;
  source.entries[0] = {.red = 18, .green = 254, .blue = 7};
  Palette red, green, blue;
  red.entries[0].alpha = green.entries[0].alpha = blue.entries[0].alpha = 0x77;  // kept
  MakeTintedPalettes(source, red, green, blue);
  EXPECT_TRUE(red.entries[0] == (Colour{57, 212, 6, 0x77}));
  EXPECT_TRUE(green.entries[0] == (Colour{15, 254, 6, 0x77}));
  EXPECT_TRUE(blue.entries[0] == (Colour{15, 212, 48, 0x77}));
}

// The 32 tables in file order: levels 0 to 7 of the palette, then of its red, green and blue
// tints. Entry 0 at every level; levels 3 and 7 multiply before dividing, which shows in green:
// entry 1, 10 at level 3, gives 7, not 10 - 10 / 4 = 8, and entry 2, 248 at level 7, gives 253,
// not 248 + 3 * (7 / 4) = 251. Entry 3 is the entry of TintsOfOneEntry: table 12, the red tint
// unchanged (level 4), holds 57, 212, 6 packed, 57 / 8 << 11 | 212 / 4 << 5 | 6 / 8 = 0x3EA0.
TEST(MzrTables, ShadeLevelsOfEachTableInFileOrder) {
  test::BmpPicture spec = kThreeByTwo;
  spec.palette = {{5, 255, 0}, {10, 10, 10}, {248, 248, 248}, {18, 254, 7}};
  const Bytes file = test::Encode(spec, FileKind::kMzr);
  const std::vector<std::tuple<std::size_t, std::size_t, std::uint16_t>> expected{
      {0, 0, 0x00E0},  {1, 0, 0x01E0},  {2, 0, 0x03E0}, {3, 0, 0x05E0}, {4, 0, 0x07E0},
      {5, 0, 0x47E7},  {6, 0, 0x87EF},  {7, 0, 0xC7F7}, {3, 1, 0x0020}, {7, 2, 0xFFFF},
      {0, 3, 0x00E0},  {3, 3, 0x0DE0},  {4, 3, 0x17E0}, {7, 3, 0xC7F8}, {12, 3, 0x3EA0},
      {20, 3, 0x0FE0}, {28, 3, 0x0EA6}, {31, 3, 0xC7B9}};
  for (const auto& [table, entry, colour] : expected) {
    EXPECT_EQ(test::Le16(file, 20 + 512 * table + 2 * entry), colour)
        << "table " << table << " entry " << entry;
  }
}

}  // namespace
}  // namespace kav
