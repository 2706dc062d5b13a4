// The MZR writer: golden bytes for the header, tables and rows, and every outcome of the
// file shell.

#include "formats/mzr.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "formats/output_shell.h"
#include "platform/byte_source.h"
#include "platform/format_text.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::BmpSpec;
using test::MakeBmp;
using test::RecordedMessage;
using test::RecordingHost;

// Encodes a BMP held in memory, through the reader, as the writer does.
std::vector<std::uint8_t> EncodeBmp(const std::vector<std::uint8_t>& bmp,
                                    const MzrSettings& settings = {}) {
  RecordingHost host;
  LoadedBitmap bitmap;
  MemorySource source(bmp);
  EXPECT_EQ(ReadBmp8(source, host, bitmap), kBmpOk);
  const std::optional<BitmapView> view = ViewBitmap(bitmap);
  if (!view) {
    ADD_FAILURE() << "no view of the bitmap";
    return {};
  }
  VectorSink sink;
  EXPECT_EQ(EncodeMzr(*view, settings, sink), EncodeResult::kOk);
  return std::move(sink.bytes());
}

std::uint16_t TableEntry(const std::vector<std::uint8_t>& file, std::size_t table,
                         std::size_t index) {
  return static_cast<std::uint16_t>(
      file.at(kMzrTablesOffset + table * kShadeTableBytes + 2 * index) |
      file.at(kMzrTablesOffset + table * kShadeTableBytes + 2 * index + 1) << 8);
}

std::vector<std::uint8_t> Tail(const std::vector<std::uint8_t>& bytes, std::size_t count) {
  return {bytes.end() - static_cast<std::ptrdiff_t>(count), bytes.end()};
}

BmpSpec ThreeByTwo() {
  return test::PictureOf(3, 2, [](int x, int y) { return y == 0 ? 0x10 + x : 0x20 + x; });
}

TEST(MzrEncoder, HeaderFieldsInTheirPlaces) {
  const MzrSettings settings{
      .useRemapping = true, .startColor = 240, .endColor = 255, .transparentColor = 7};
  const std::vector<std::uint8_t> file = EncodeBmp(MakeBmp(ThreeByTwo()), settings);
  const std::vector<std::uint8_t> header(file.begin(), file.begin() + kMzrHeaderSize);
  const std::vector<std::uint8_t> expected{'K', 'A', 'V', '8', 'B', 'M', 'P', 0, 3, 0,
                                           2,   0,   1,   0,   240, 0,   255, 0, 7, 0};
  EXPECT_EQ(header, expected);
}

TEST(MzrEncoder, SettingsAreStoredAsTheirLow16Bits) {
  const MzrSettings settings{
      .useRemapping = false, .startColor = 300, .endColor = -1, .transparentColor = 65536 + 5};
  const std::vector<std::uint8_t> file = EncodeBmp(MakeBmp(ThreeByTwo()), settings);
  EXPECT_EQ(file[kMzrRemappingOffset], 0);
  EXPECT_EQ(file[kMzrReservedOffset], 0);
  EXPECT_EQ(file[kMzrStartColorOffset], 0x2C);
  EXPECT_EQ(file[kMzrStartColorOffset + 1], 0x01);
  EXPECT_EQ(file[kMzrEndColorOffset], 0xFF);
  EXPECT_EQ(file[kMzrEndColorOffset + 1], 0xFF);
  EXPECT_EQ(file[kMzrTransparentColorOffset], 5);
  EXPECT_EQ(file[kMzrTransparentColorOffset + 1], 0);
}

TEST(MzrEncoder, RowsTopFirstWithoutPadding) {
  BmpSpec spec = ThreeByTwo();
  spec.paddingByte = 0xEE;
  const std::vector<std::uint8_t> file = EncodeBmp(MakeBmp(spec));
  ASSERT_EQ(file.size(), kMzrRowsOffset + 6);
  EXPECT_EQ(Tail(file, 6), (std::vector<std::uint8_t>{0x10, 0x11, 0x12, 0x20, 0x21, 0x22}));
}

TEST(MzrEncoder, WidthMultipleOfFourGivesStoredRowsReversed) {
  const BmpSpec spec = test::PictureOf(8, 3, [](int x, int y) { return y * 8 + x; });
  const std::vector<std::uint8_t> bmp = MakeBmp(spec);
  const std::vector<std::uint8_t> file = EncodeBmp(bmp);
  ASSERT_EQ(file.size(), kMzrRowsOffset + 24);
  const std::size_t rows = 1078;
  for (std::size_t r = 0; r < 3; ++r) {
    const auto stored = bmp.begin() + static_cast<std::ptrdiff_t>(rows + (2 - r) * 8);
    EXPECT_TRUE(std::equal(stored, stored + 8,
                           file.begin() + static_cast<std::ptrdiff_t>(kMzrRowsOffset + r * 8)));
  }
}

TEST(MzrEncoder, TopDownBitmapEqualsItsBottomUpTwin) {
  BmpSpec bottomUp = test::PictureOf(5, 4, [](int x, int y) { return x * 16 + y; });
  BmpSpec topDown = bottomUp;
  topDown.height = -4;
  const std::vector<std::uint8_t> expected = EncodeBmp(MakeBmp(bottomUp));
  EXPECT_EQ(EncodeBmp(MakeBmp(topDown)), expected);
  EXPECT_EQ(expected[kMzrHeightOffset], 4);
}

TEST(MzrEncoder, PaletteReservedBytesDoNotMatter) {
  BmpSpec spec = ThreeByTwo();
  const std::vector<std::uint8_t> plain = EncodeBmp(MakeBmp(spec));
  spec.reservedByte = 0x5A;
  EXPECT_EQ(EncodeBmp(MakeBmp(spec)), plain);
}

TEST(MzrEncoder, TooLargeWritesNothing) {
  const std::vector<std::uint8_t> bmp =
      MakeBmp(test::PictureOf(65536, 1, [](int x, int) { return x; }));
  RecordingHost host;
  LoadedBitmap bitmap;
  MemorySource source(bmp);
  ASSERT_EQ(ReadBmp8(source, host, bitmap), kBmpOk);
  VectorSink sink;
  EXPECT_EQ(EncodeMzr(*ViewBitmap(bitmap), {}, sink), EncodeResult::kTooLarge);
  EXPECT_TRUE(sink.bytes().empty());
}

TEST(MzrTables, ShadeLevelsOfTheWorkedEntry) {
  Palette palette{};
  palette[0] = 0;    // blue
  palette[1] = 255;  // green
  palette[2] = 5;    // red
  ShadeTable table{};
  const std::vector<std::pair<unsigned, std::uint16_t>> levels{
      {0, 0x00E0}, {4, 0x07E0}, {7, 0xC7F7}};
  for (const auto& [level, colour] : levels) {
    BuildShadeTable(palette, level, table);
    EXPECT_EQ(table[0], colour) << "level " << level;
  }
}

TEST(MzrTables, LevelsThreeAndSevenMultiplyBeforeDividing) {
  Palette palette{};
  // Entry 1: all components 1 at level 3 give 0 (not 1); entry 2: all 0 at level 7 give 191.
  palette[4] = palette[5] = palette[6] = 8;  // 8: the smallest value that keeps 5 bits visible
  ShadeTable table{};
  BuildShadeTable(palette, 3, table);
  EXPECT_EQ(table[1], PackRgb565(6, 6, 6));
  BuildShadeTable(palette, 7, table);
  EXPECT_EQ(table[2], PackRgb565(191, 191, 191));  // 3 * 255 / 4, not 3 * (255 / 4) = 189
  palette[8] = palette[9] = palette[10] = 4;
  BuildShadeTable(palette, 3, table);
  EXPECT_EQ(table[2], PackRgb565(3, 3, 3));
}

TEST(MzrTables, UnknownLevelLeavesTheTable) {
  Palette palette{};
  ShadeTable table{};
  table.fill(0x1234);
  BuildShadeTable(palette, 8, table);
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
  red[3] = green[3] = blue[3] = 0x77;
  MakeTintedPalettes(palette, red, green, blue);
  EXPECT_EQ((std::array<int, 4>{red[0], red[1], red[2], red[3]}),
            (std::array<int, 4>{6, 212, 57, 0x77}));
  EXPECT_EQ((std::array<int, 4>{green[0], green[1], green[2], green[3]}),
            (std::array<int, 4>{6, 254, 15, 0x77}));
  EXPECT_EQ((std::array<int, 4>{blue[0], blue[1], blue[2], blue[3]}),
            (std::array<int, 4>{48, 212, 15, 0x77}));
}

TEST(MzrTables, TablesInFileOrder) {
  // Every palette entry distinct, so a swapped group or level shows.
  const std::vector<std::uint8_t> file = EncodeBmp(MakeBmp(ThreeByTwo()));
  const std::vector<test::Rgb> palette = test::DefaultPalette();
  for (std::size_t i = 0; i < 256; ++i) {
    const test::Rgb c = palette[i];
    EXPECT_EQ(TableEntry(file, 4, i), PackRgb565(c.red, c.green, c.blue)) << i;
    EXPECT_EQ(TableEntry(file, 0, i), PackRgb565(c.red / 8u, c.green / 8u, c.blue / 8u)) << i;
    EXPECT_EQ(TableEntry(file, 12, i),
              PackRgb565(c.red + (255u - c.red) / 6, c.green - c.green / 6u, c.blue - c.blue / 6u))
        << i;
    EXPECT_EQ(TableEntry(file, 20, i),
              PackRgb565(c.red - c.red / 6u, c.green + (255u - c.green) / 6, c.blue - c.blue / 6u))
        << i;
    EXPECT_EQ(TableEntry(file, 28, i),
              PackRgb565(c.red - c.red / 6u, c.green - c.green / 6u, c.blue + (255u - c.blue) / 6))
        << i;
    for (std::size_t group = 0; group < 4; ++group) {
      for (std::size_t level = 1; level < 8; ++level) {
        const std::uint16_t darker = TableEntry(file, group * 8 + level - 1, i);
        const std::uint16_t lighter = TableEntry(file, group * 8 + level, i);
        EXPECT_LE(RedOf(darker), RedOf(lighter));
        EXPECT_LE(GreenOf(darker), GreenOf(lighter));
        EXPECT_LE(BlueOf(darker), BlueOf(lighter));
      }
    }
  }
}

class MzrWriter : public ::testing::Test {
 protected:
  test::TempDir dir;
  RecordingHost host;
  std::string source = dir.File("hero.bmp");
  std::string output = dir.File("hero.MZR");

  void SetUp() override { test::WriteFile(source, MakeBmp(ThreeByTwo())); }
};

TEST_F(MzrWriter, SuccessWritesTheFileAndReports) {
  host.settings.startColor = 1;
  EXPECT_TRUE(ConvertToMzr(host, source, output));
  EXPECT_EQ(host.statusTexts, std::vector<std::string>{output + " converted!"});
  EXPECT_TRUE(host.messages.empty());
  const MzrSettings settings{
      .useRemapping = true, .startColor = 1, .endColor = 255, .transparentColor = 0};
  EXPECT_EQ(test::ReadFile(output), EncodeBmp(MakeBmp(ThreeByTwo()), settings));
  EXPECT_EQ(test::ListFolder(dir.path()), (std::vector<std::string>{"hero.MZR", "hero.bmp"}));
}

TEST_F(MzrWriter, StatusBeginsUpperCase) {
  EXPECT_EQ(UpperCaseFirst("c:/art/hero.MZR converted!"), "C:/art/hero.MZR converted!");
  EXPECT_EQ(UpperCaseFirst("/art"), "/art");
  EXPECT_EQ(UpperCaseFirst(""), "");
  const std::string previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_TRUE(ConvertToMzr(host, "hero.bmp", "hero.MZR"));
  std::filesystem::current_path(previous);
  EXPECT_EQ(host.statusTexts, std::vector<std::string>{"Hero.MZR converted!"});
}

TEST_F(MzrWriter, ExistingOutputIsReplaced) {
  test::WriteFile(output, std::vector<std::uint8_t>(100000, 0xAA));
  EXPECT_TRUE(ConvertToMzr(host, source, output));
  EXPECT_EQ(test::ReadFile(output).size(), kMzrRowsOffset + 6);
}

TEST_F(MzrWriter, UnreadableSourceCreatesNothing) {
  test::WriteFile(source, {'B', 'M', 1});
  EXPECT_FALSE(ConvertToMzr(host, source, output));
  EXPECT_EQ(host.events, (std::vector<std::string>{"message:This BMP file is corrupt",
                                                   "status:Error while converting!"}));
  EXPECT_EQ(host.messages[0].owner, MessageOwner::kNone);
  EXPECT_FALSE(test::FileExists(output));
}

TEST_F(MzrWriter, AllocationFailureIsOutOfMemory) {
  const std::size_t before = MemoryBlock::LiveCount();
  AllocationFaults::FailNth(1);
  EXPECT_FALSE(ConvertToMzr(host, source, output));
  AllocationFaults::Clear();
  EXPECT_EQ(host.events,
            (std::vector<std::string>{"message:Out of memory", "status:Error while converting!"}));
  EXPECT_EQ(MemoryBlock::LiveCount(), before);
  EXPECT_FALSE(test::FileExists(output));
}

TEST_F(MzrWriter, OutputThatCannotBeCreated) {
  const auto expectRefused = [this](const std::string& target) {
    RecordingHost fresh;
    fresh.statusTexts.push_back("before");
    EXPECT_FALSE(ConvertToMzr(fresh, source, target)) << target;
    EXPECT_EQ(
        fresh.messages,
        (std::vector<RecordedMessage>{{MessageOwner::kMainDialog, "Cannot create output file"}}));
    EXPECT_EQ(fresh.statusTexts, std::vector<std::string>{"before"}) << "status must stay";
  };
  std::filesystem::create_directory(output);  // a folder in the way
  expectRefused(output);
  std::filesystem::remove(output);

  test::WriteFile(output, {1, 2, 3});
  chmod(output.c_str(), 0444);  // read-only, even for the super-user
  expectRefused(output);
  EXPECT_EQ(test::ReadFile(output), (std::vector<std::uint8_t>{1, 2, 3}));

  expectRefused(dir.File("missing/hero.MZR"));

  const std::vector<std::uint8_t> original = test::ReadFile(source);
  expectRefused(source);  // never the source itself
  std::filesystem::create_symlink(source, dir.File("link.MZR"));
  expectRefused(dir.File("link.MZR"));
  EXPECT_EQ(test::ReadFile(source), original);
}

TEST_F(MzrWriter, TooLargeIsRefusedBeforeCreating) {
  test::WriteFile(source, MakeBmp(test::PictureOf(3, 65536, [](int, int y) { return y; })));
  EXPECT_FALSE(ConvertToMzr(host, source, output));
  EXPECT_EQ(host.messages,
            (std::vector<RecordedMessage>{
                {MessageOwner::kMainDialog, "This image is too large for this format"}}));
  EXPECT_FALSE(test::FileExists(output));
}

// Runs `body` in a child process that may not write files beyond `limit` bytes, as on a full
// disk; returns the child's exit code.
int RunWithFileSizeLimit(rlim_t limit, const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{limit, limit};
    setrlimit(RLIMIT_FSIZE, &small);
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

TEST_F(MzrWriter, WriteFailureKeepsTheOlderFile) {
  test::WriteFile(output, {9, 9, 9});
  const int code = RunWithFileSizeLimit(4096, [this] {
    RecordingHost child;
    const bool converted = ConvertToMzr(child, source, output);
    const bool told = child.messages == std::vector<RecordedMessage>{{MessageOwner::kMainDialog,
                                                                      "Cannot write output file"}};
    return !converted && told && child.statusTexts.empty() ? 0 : 1;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(test::ReadFile(output), (std::vector<std::uint8_t>{9, 9, 9}));
  EXPECT_EQ(test::ListFolder(dir.path()), (std::vector<std::string>{"hero.MZR", "hero.bmp"}));
}

}  // namespace
}  // namespace kav
