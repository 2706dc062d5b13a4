// Truecolour and alpha inputs: the files of tests/data/truecolour (drawn by
// scripts/make-truecolour.py with ImageMagick, Pillow and by hand) read as the pictures they
// hold; the transparency rules and the exact palette worked out by hand.

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "color/exact_palette.h"
#include "color/transparency.h"
#include "convert/batch.h"
#include "input/palette_picture.h"
#include "input/read_picture.h"
#include "support/test_support.h"

namespace kav {
namespace {

using Rgba = std::array<std::uint8_t, 4>;
using Pixels = std::vector<Rgba>;

const std::string kDir = KAV_TRUECOLOUR_DIR;

constexpr Rgba kClear{0, 0, 0, 0};
// The script's SPRITE, and as files without alpha or with black keyed hold it.
const Pixels kSprite{{255, 0, 0, 255},
                     {0, 255, 0, 255},
                     {0, 0, 255, 255},
                     kClear,
                     {255, 255, 255, 255},
                     {16, 32, 48, 127},
                     {16, 32, 48, 128},
                     {200, 100, 50, 255},
                     {255, 0, 0, 255},
                     {1, 2, 3, 255},
                     kClear,
                     {128, 128, 128, 255}};
const Pixels kSpriteOpaque{{255, 0, 0, 255},  {0, 255, 0, 255},     {0, 0, 255, 255},
                           {0, 0, 0, 255},    {255, 255, 255, 255}, {16, 32, 48, 255},
                           {16, 32, 48, 255}, {200, 100, 50, 255},  {255, 0, 0, 255},
                           {1, 2, 3, 255},    {0, 0, 0, 255},       {128, 128, 128, 255}};
const Pixels kSpriteKeyed{{255, 0, 0, 255},
                          {0, 255, 0, 255},
                          {0, 0, 255, 255},
                          kClear,
                          {255, 255, 255, 255},
                          {16, 32, 48, 255},
                          {16, 32, 48, 255},
                          {200, 100, 50, 255},
                          {255, 0, 0, 255},
                          {1, 2, 3, 255},
                          kClear,
                          {128, 128, 128, 255}};
// GREY: levels and alphas.
const Pixels kGrey{{0, 0, 0, 255},       {50, 50, 50, 0},      {100, 100, 100, 127},
                   {150, 150, 150, 128}, {200, 200, 200, 255}, {250, 250, 250, 255},
                   {25, 25, 25, 0},      {75, 75, 75, 255},    {125, 125, 125, 255},
                   {175, 175, 175, 255}, {225, 225, 225, 255}, {255, 255, 255, 255}};
// EXACT16 through 5-6-5 bits, and through 5-5-5, where green 130 and 65 become 15 and 7 of
// 31, widened as (v x 255 + 15) / 31 to 123 and 58.
const Pixels kExact565{{255, 0, 0, 255},    {0, 130, 0, 255}, {0, 0, 132, 255},
                       {66, 65, 255, 255},  {0, 0, 0, 255},   {255, 255, 255, 255},
                       {132, 130, 66, 255}, {255, 65, 0, 255}};
const Pixels kExact555{{255, 0, 0, 255},    {0, 123, 0, 255}, {0, 0, 132, 255},
                       {66, 58, 255, 255},  {0, 0, 0, 255},   {255, 255, 255, 255},
                       {132, 123, 66, 255}, {255, 58, 0, 255}};
const Pixels kExact4444{{255, 0, 0, 255},    {0, 136, 0, 119}, {0, 0, 68, 136},
                        {17, 34, 51, 0},     {0, 0, 0, 255},   {255, 255, 255, 255},
                        {136, 136, 68, 255}, {255, 68, 0, 255}};
// 10-bit channels v of 1023 widened as (v x 255 + 511) / 1023: red 1023, 512, 100, 0; green
// 1023 - red; blue red / 2.
const Pixels kTenBits{
    {255, 0, 127, 255}, {128, 127, 64, 255}, {25, 230, 12, 255}, {0, 255, 0, 255}};

// 16-bit keys compared on the whole sample: 0x12FF is not 0x1234, 0x1001 not 0x1000.
const Pixels kGrey16Keyed{{18, 18, 18, 0}, {18, 18, 18, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}};
const Pixels kRgb16Keyed{{16, 32, 48, 0}, {16, 32, 48, 255}};

Pixels PixelsOf(const Picture& picture) {
  const RgbaPixels rgba = picture.Rgba();
  Pixels pixels(rgba.PixelCount());
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    std::copy_n(rgba.bytes.begin() + static_cast<std::ptrdiff_t>(i * 4), 4, pixels[i].begin());
  }
  return pixels;
}

TEST(TrueColourInputs, EachFileReadsAsThePictureItHolds) {
  const std::vector<std::pair<const char*, const Pixels*>> cases{
      {"sprite.pil.png", &kSprite},
      {"sprite.im.png", &kSprite},
      {"sprite-adam7.im.png", &kSprite},
      {"sprite16.im.png", &kSprite},  // each sample's high byte, never rounded up
      {"sprite-rgb.pil.png", &kSpriteOpaque},
      {"sprite-rgb16.im.png", &kSpriteOpaque},
      {"sprite-rgb-trns.pil.png", &kSpriteKeyed},
      {"grey-alpha.pil.png", &kGrey},
      {"sprite.pil.bmp", &kSpriteOpaque},
      {"sprite-rgba.pil.bmp", &kSpriteOpaque},  // no alpha mask: opaque
      {"sprite.im.bmp", &kSpriteOpaque},
      {"sprite-rgba.im.bmp", &kSprite},
      {"sprite-v5-rgb.bmp", &kSprite},
      {"sprite-alphabitfields.bmp", &kSprite},
      {"sprite-zero-alpha.bmp", &kSpriteOpaque},  // every alpha 0: opaque
      {"exact16-565.im.bmp", &kExact565},
      {"exact16-555.im.bmp", &kExact555},
      {"exact16-555-rgb.bmp", &kExact555},
      {"exact16-4444.im.bmp", &kExact4444},
      {"ten-bits.bmp", &kTenBits},
      {"grey16-key.png", &kGrey16Keyed},
      {"rgb16-key.png", &kRgb16Keyed},
  };
  for (const auto& [file, expected] : cases) {
    SCOPED_TRACE(file);
    ReadResult read = ReadPicture(kDir + "/" + file);
    ASSERT_TRUE(read && read->IsTrueColour());
    EXPECT_EQ(PixelsOf(*read), *expected);
  }
}

// Palette inputs keep their transparency in the palette: a grey file's keyed level, each
// palette entry's tRNS alpha.
TEST(TrueColourInputs, PaletteFilesGiveTheirEntriesAlpha) {
  ReadResult grey = ReadPicture(kDir + "/grey-trns.pil.png");
  ASSERT_TRUE(grey && !grey->IsTrueColour());
  EXPECT_EQ(grey->palette().entries[100].alpha, 0);
  EXPECT_EQ(grey->palette().entries[99].alpha, 255);
  ReadResult indexed = ReadPicture(kDir + "/indexed-trns0.pil.png");
  ASSERT_TRUE(indexed && !indexed->IsTrueColour());
  EXPECT_EQ(indexed->palette().entries[0].alpha, 0);
  EXPECT_EQ(indexed->palette().entries[1].alpha, 255);
}

std::vector<std::uint8_t> IndicesOf(const Picture& picture) {
  std::vector<std::uint8_t> indices;
  for (std::uint32_t y = 0; y < picture.height(); ++y) {
    const std::span<const std::uint8_t> row = picture.Row(y);
    indices.insert(indices.end(), row.begin(), row.end());
  }
  return indices;
}

Rgba EntryOf(const Picture& picture, std::uint8_t index) {
  const Colour& c = picture.palette().entries[index];
  return {c.red, c.green, c.blue, 255};
}

constexpr TransparencyRules kRle{};  // T 255, drawn transparent
constexpr TransparencyRules kMzr{.transparentIndex = 0};
constexpr TransparencyRules kMzrPlain{.transparentIndex = 0, .formatDrawsTransparent = false};

// The worked example of docs/formats.md. SPRITE's opaque colours sorted by 0xRRGGBB: 0000FF,
// 00FF00, 010203, 102030, 808080, C86432, FF0000, FFFFFF; the pixel at alpha 127 and the
// clear ones take T. In RLE they lie at 0 to 7; in MZR, with T 0 set aside, at 1 to 8; with
// --transparent 3, at 0 to 2 and 4 to 8.
TEST(ExactPalette, SortsTheOpaqueColoursAroundT) {
  const std::vector<std::tuple<const char*, TransparencyRules, std::vector<std::uint8_t>>> cases{
      {"RLE", kRle, {6, 1, 0, 255, 7, 255, 3, 5, 6, 2, 255, 4}},
      {"MZR", kMzr, {7, 2, 1, 0, 8, 0, 4, 6, 7, 3, 0, 5}},
      {"MZR, T 3", {.transparentIndex = 3}, {7, 1, 0, 3, 8, 3, 4, 6, 7, 2, 3, 5}},
      // Without remapping MZR draws T opaque, but the sprite's transparent pixels set it aside.
      {"MZR without remapping", kMzrPlain, {7, 2, 1, 0, 8, 0, 4, 6, 7, 3, 0, 5}},
      // Threshold 1: only alpha 0 is transparent, so the blue-grey at 127 is opaque too.
      {"RLE, threshold 1", {.alphaThreshold = 1}, {6, 1, 0, 255, 7, 3, 3, 5, 6, 2, 255, 4}},
      // Threshold 255: the pixel at 128 is transparent too.
      {"RLE, threshold 255", {.alphaThreshold = 255}, {5, 1, 0, 255, 6, 255, 255, 4, 5, 2, 255, 3}},
  };
  // Mapped row by row as decoded, and (interlaced, and BMP) as a whole picture.
  for (const char* file : {"sprite.pil.png", "sprite-adam7.im.png", "sprite-rgba.im.bmp"}) {
    for (const auto& [name, rules, indices] : cases) {
      SCOPED_TRACE(std::string(file) + ", " + name);
      ReadResult read = ReadPalettePicture(kDir + "/" + file, rules);
      ASSERT_TRUE(read);
      EXPECT_EQ(IndicesOf(*read), indices);
      // Each opaque pixel's entry holds its colour; the other entries are black.
      const std::vector<std::uint8_t> got = IndicesOf(*read);
      for (std::size_t i = 0; i < got.size(); ++i) {
        if (got[i] != rules.transparentIndex) {
          EXPECT_EQ(EntryOf(*read, got[i]),
                    (Rgba{kSprite[i][0], kSprite[i][1], kSprite[i][2], 255}));
        }
      }
      EXPECT_EQ(EntryOf(*read, 200), (Rgba{0, 0, 0, 255}));
    }
  }
}

// T is set aside where the format draws it transparent or where a pixel is transparent:
// then 255 colours fit, else 256. 256 colours in RLE are refused (-9, with its text).
TEST(ExactPalette, HoldsTwoHundredAndFiftyFiveColoursBesideT) {
  const std::string many = kDir + "/colours256.pil.png";
  ReadResult rle = ReadPalettePicture(many, kRle);
  ASSERT_FALSE(rle);
  EXPECT_EQ(static_cast<int>(rle.failed().failure), -9);
  EXPECT_EQ(rle.failed().kind, InputKind::kPng);
  EXPECT_EQ(ReadFailureText(rle.failed().failure),
            "This picture has more colours than the format holds");
  EXPECT_FALSE(ReadPalettePicture(many, kMzr));
  // 257 colours: refused whatever the format, the rows' mapping given up at the last row.
  EXPECT_FALSE(ReadPalettePicture(kDir + "/colours257.pil.png", kMzrPlain));
  ReadResult plain = ReadPalettePicture(many, kMzrPlain);
  ASSERT_TRUE(plain);
  // (16x, 16y, x ^ y) sorted by red, then green: index 0 is (0, 0, 0), the last
  // (240, 240, 0), the pixel at the bottom right.
  EXPECT_EQ(IndicesOf(*plain)[0], 0);
  EXPECT_EQ(IndicesOf(*plain)[255], 255);
  EXPECT_EQ(EntryOf(*plain, 255), (Rgba{240, 240, 0, 255}));
  // All opaque, MZR without remapping: nothing set aside, the colours start at 0.
  ReadResult opaque = ReadPalettePicture(kDir + "/sprite-rgb.pil.png", kMzrPlain);
  ASSERT_TRUE(opaque);
  EXPECT_EQ(IndicesOf(*opaque)[3], 0);  // black, the lowest colour
}

// The swap rule on INDEXED (entry 0 transparent; indices 0 1 2 255 / 0 5 255 3 / 1 1 0 4):
// in RLE its 0s take T 255, and the opaque 255s the lowest transparent entry, 0, whose entry
// changes places with 255's.
TEST(Transparency, TransparentEntriesTakeTAndSwapWithIt) {
  const std::vector<
      std::tuple<const char*, TransparencyRules, std::vector<std::uint8_t>, Rgba, Rgba>>
      cases{
          {"RLE: swapped",
           kRle,
           {255, 1, 2, 0, 255, 5, 0, 3, 1, 1, 255, 4},
           {255, 0, 253, 255},
           {0, 255, 0, 255}},
          {"MZR, T 0: already transparent",
           kMzr,
           {0, 1, 2, 255, 0, 5, 255, 3, 1, 1, 0, 4},
           {0, 255, 0, 255},
           {255, 0, 253, 255}},
          {"MZR, T 6: unused, no swap",
           {.transparentIndex = 6},
           {6, 1, 2, 255, 6, 5, 255, 3, 1, 1, 6, 4},
           {0, 255, 0, 255},
           {255, 0, 253, 255}},
          {"indices kept",
           {.keepIndices = true},
           {0, 1, 2, 255, 0, 5, 255, 3, 1, 1, 0, 4},
           {0, 255, 0, 255},
           {255, 0, 253, 255}},
      };
  for (const auto& [name, rules, indices, entry0, entry255] : cases) {
    SCOPED_TRACE(name);
    ReadResult read = ReadPalettePicture(kDir + "/indexed-trns0.pil.png", rules);
    ASSERT_TRUE(read);
    EXPECT_EQ(IndicesOf(*read), indices);
    EXPECT_EQ(EntryOf(*read, 0), entry0);
    EXPECT_EQ(EntryOf(*read, 255), entry255);
  }
}

// The dialog's batch converts these inputs with its defaults (RLE), a picture of more colours
// than fit reduced without a word.
TEST(TrueColourInputs, TheDialogsBatchConvertsThemWithItsDefaults) {
  const test::TempDir dir;
  std::vector<std::string> paths;
  for (const char* file :
       {"sprite.pil.png", "indexed-trns0.pil.png", "sprite-rgba.im.bmp", "colours256.pil.png"}) {
    paths.push_back(dir.File(file));
    std::filesystem::copy_file(kDir + "/" + file, paths.back());
  }
  test::RecordingHost host;
  RunBatch(host, paths);
  EXPECT_EQ(host.events.at(11),
            "status:SUCCESS!!  " + dir.File("colours256.pil.RLE") + " converted!");
  EXPECT_EQ(host.events.at(12), "status:4 files processed!");
  for (const std::string& path : std::span(paths).first(3)) {
    SCOPED_TRACE(path);
    const std::string output = path.substr(0, path.rfind('.')) + ".RLE";
    EXPECT_TRUE(test::ReadFile(output) == test::Encode(test::ReadFile(path), FileKind::kRle));
    EXPECT_EQ(test::ReadFile(output).at(1), 'L');
  }
}

// Several frames share one palette: colours gathered from both before either is mapped.
TEST(ExactPalette, GathersTheColoursOfEveryFrame) {
  const std::vector<std::uint8_t> first{0, 0, 9, 255, 5, 0, 0, 0};
  const std::vector<std::uint8_t> second{0, 0, 7, 255, 0, 0, 9, 255};
  const RgbaPixels frames[] = {{first, 2, 1}, {second, 2, 1}};
  ExactPalette palette(kRle);
  for (const RgbaPixels& frame : frames) {
    palette.Gather(frame);
  }
  ASSERT_EQ(palette.Choose(), PaletteChoice::kExact);
  std::vector<std::uint8_t> indices(2);
  ASSERT_TRUE(palette.Map(frames[0], indices));
  EXPECT_EQ(indices, (std::vector<std::uint8_t>{1, 255}));
  ASSERT_TRUE(palette.Map(frames[1], indices));
  EXPECT_EQ(indices, (std::vector<std::uint8_t>{0, 1}));
  EXPECT_FALSE(palette.Map(frames[1], std::span(indices).first(1)));
}

}  // namespace
}  // namespace kav
