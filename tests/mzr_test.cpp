// MZR bytes: the header, the 32 tables and the rows against worked values, and the status
// line's first letter.

#include "formats/mzr.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kav {
namespace {

using test::Bytes;

Bytes EncodeMzr(const test::BmpSpec& spec, const ConversionSettings& settings = {}) {
  return test::Encode(spec, FileKind::kMzr, settings);
}

test::BmpSpec ThreeByTwo() {
  return test::PictureOf(3, 2, [](int x, int y) { return y == 0 ? 0x10 + x : 0x20 + x; });
}

TEST(MzrEncoder, ThreeByTwoFile) {
  test::BmpSpec spec = ThreeByTwo();
  spec.paddingByte = 0xEE;  // the fourth byte of each stored row, never written
  const Bytes file = EncodeMzr(
      spec, {.startColor = 240, .endColor = 255, .transparentColor = 7, .useRemapping = true});
  ASSERT_EQ(file.size(), kMzrRowsOffset + 6);
  EXPECT_EQ(test::Slice(file, 0, kMzrHeaderSize),
            (Bytes{'K', 'A', 'V', '8', 'B', 'M', 'P', 0, 3, 0, 2, 0, 1, 0, 240, 0, 255, 0, 7, 0}));
  EXPECT_EQ(test::Slice(file, kMzrRowsOffset, file.size()),
            (Bytes{0x10, 0x11, 0x12, 0x20, 0x21, 0x22}));
}

TEST(MzrEncoder, SettingsAreStoredAsTheirLow16Bits) {
  const Bytes file = EncodeMzr(
      ThreeByTwo(),
      {.startColor = 300, .endColor = -1, .transparentColor = 65536 + 5, .useRemapping = false});
  EXPECT_EQ(test::Slice(file, kMzrRemappingOffset, kMzrHeaderSize),
            (Bytes{0, 0, 0x2C, 0x01, 0xFF, 0xFF, 5, 0}));
}

TEST(MzrEncoder, TooLargeWritesNothing) {
  const test::LoadedPicture picture(test::PictureOf(65536, 1, [](int x, int) { return x; }));
  VectorSink sink;
  EXPECT_EQ(EncodeMzr(picture.view(), {}, sink), EncodeResult::kTooLarge);
  EXPECT_TRUE(sink.bytes().empty());
}

TEST(MzrTables, ShadeLevelsOfTheWorkedEntry) {
  Palette palette{};
  palette[0] = 0;    // blue
  palette[1] = 255;  // green
  palette[2] = 5;    // red
  // Levels 3 and 7 multiply before dividing, which shows in green: 10 at level 3 gives 7,
  // not 10 - 10 / 4 = 8, and 248 at level 7 gives 253, not 248 + 3 * (7 / 4) = 251.
  palette[4] = palette[5] = palette[6] = 10;
  palette[8] = palette[9] = palette[10] = 248;
  const std::vector<std::tuple<unsigned, std::size_t, std::uint16_t>> expected{
      {0, 0, 0x00E0}, {1, 0, 0x01E0}, {2, 0, 0x03E0}, {3, 0, 0x05E0}, {4, 0, 0x07E0},
      {5, 0, 0x47E7}, {6, 0, 0x87EF}, {7, 0, 0xC7F7}, {3, 1, 0x0020}, {7, 2, 0xFFFF}};
  ColourTable table{};
  for (const auto& [level, entry, colour] : expected) {
    BuildShadeTable(palette, level, table);
    EXPECT_EQ(table[entry], colour) << "level " << level << " entry " << entry;
  }
  table.fill(0x1234);
  BuildShadeTable(palette, 8, table);  // no such level: the table is left alone
  EXPECT_EQ(table[0], 0x1234);
}

TEST(MzrTables, TintedPalettesOfTheWorkedEntry) {
  Palette palette{};
  palette[0] = 7;
  palette[1] = 254;
  palette[2] = 18;
  Palette red{};
  Palette green{};
  Palette blue{};
  red[3] = green[3] = blue[3] = 0x77;  // the fourth byte stays untouched
  MakeTintedPalettes(palette, red, green, blue);
  EXPECT_EQ(std::vector(red.begin(), red.begin() + 4), (Bytes{6, 212, 57, 0x77}));
  EXPECT_EQ(std::vector(green.begin(), green.begin() + 4), (Bytes{6, 254, 15, 0x77}));
  EXPECT_EQ(std::vector(blue.begin(), blue.begin() + 4), (Bytes{48, 212, 15, 0x77}));
}

TEST(MzrTables, TablesInFileOrder) {
  test::BmpSpec spec = ThreeByTwo();
  spec.palette = test::DefaultPalette();
  spec.palette[0] = {18, 254, 7};  // the worked entry: its tints are known
  const Bytes file = EncodeMzr(spec);
  const auto entry = [&file](std::size_t table, std::size_t index) {
    return test::Le16(file, kMzrTablesOffset + table * kColourTableBytes + 2 * index);
  };
  const std::vector<std::pair<std::size_t, std::uint16_t>> expected{
      {0, 0x00E0},  {3, 0x0DE0},  {4, 0x17E0},  {7, 0xC7F8},
      {12, 0x3EA0}, {20, 0x0FE0}, {28, 0x0EA6}, {31, 0xC7B9}};
  for (const auto& [table, colour] : expected) {
    EXPECT_EQ(entry(table, 0), colour) << "table " << table;
  }
}

TEST(MzrWriter, StatusLineShowsThePathAsGiven) {
  const test::TempDir dir;
  test::WriteFile(dir.File("hero.bmp"), test::MakeBmp(ThreeByTwo()));
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  test::RecordingHost host;
  EXPECT_TRUE(ConvertToMzr(host, "hero.bmp", "hero.MZR"));
  std::filesystem::current_path(previous);
  EXPECT_EQ(host.statusTexts, std::vector<std::string>{"hero.MZR converted!"});
}

}  // namespace
}  // namespace kav
