// Palette files of each kind and malformed ones; the nearest-colour rule on cases worked out
// by hand; ordered dithering on a gradient; the fast mapper against the plain rule.

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "color/nearest_colour.h"
#include "color/ordered_dither.h"
#include "color/palette_file.h"
#include "color/palette_mapper.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::Bytes;

Bytes BytesOf(const std::string& text) {
  return {text.begin(), text.end()};
}

Bytes AdobeTable(std::size_t size, unsigned count, unsigned transparent) {
  Bytes table(size);
  for (std::size_t i = 0; i < 768; ++i) {
    table[i] = static_cast<std::uint8_t>(i / 3 + i % 3);  // entry e: e, e + 1, e + 2
  }
  if (size >= 772) {
    table[768] = static_cast<std::uint8_t>(count >> 8),
    table[769] = static_cast<std::uint8_t>(count);
    table[770] = static_cast<std::uint8_t>(transparent >> 8);
    table[771] = static_cast<std::uint8_t>(transparent);
  }
  return table;
}

std::string Lines(std::size_t count, const std::string& line) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += line + "\n";
  }
  return text;
}

struct PaletteFileCase {
  std::string name;
  std::string fileName;
  Bytes bytes;
  PaletteFileKind kind;
  std::vector<Rgb24> colours;  // empty: cannot be read
  std::optional<std::uint8_t> transparentEntry = std::nullopt;
};

std::vector<PaletteFileCase> PaletteFileCases() {
  const std::string gimp = "GIMP Palette\n";
  return {
      {"gimp",
       "any.txt",
       BytesOf("\xEF\xBB\xBFGIMP Palette\r\nName: Test\nColumns: 4\n# comment\n\n"
               "  0   0   0\tBlack\n255 128 7 Orange thing\r\n"),
       PaletteFileKind::kGimp,
       {0x000000, 0xFF8007}},
      {"gimp beats the extension",
       "x.act",
       BytesOf(gimp + "1 2 3\n"),
       PaletteFileKind::kGimp,
       {0x010203}},
      {"gimp channel 256", "a.gpl", BytesOf(gimp + "1 2 3\n256 0 0\n"), PaletteFileKind::kGimp, {}},
      {"gimp two channels", "a.gpl", BytesOf(gimp + "1 2 3\n12 34\n"), PaletteFileKind::kGimp, {}},
      {"gimp stray line",
       "a.gpl",
       BytesOf(gimp + "1 2 3\nColour: 1\n"),
       PaletteFileKind::kGimp,
       {}},
      {"gimp no colour", "a.gpl", BytesOf(gimp + "Name: x\n"), PaletteFileKind::kGimp, {}},
      {"gimp 257 colours",
       "a.gpl",
       BytesOf(gimp + Lines(257, "1 1 1")),
       PaletteFileKind::kGimp,
       {}},
      {"gimp long line",
       "a.gpl",
       BytesOf(gimp + "1 2 3 " + std::string(1020, 'x') + "\n"),
       PaletteFileKind::kGimp,
       {}},
      {"jasc",
       "a.pal",
       BytesOf("JASC-PAL\r\n0100\r\n2\r\n255 0 0\r\n0 0 255\r\n\r\n"),
       PaletteFileKind::kJasc,
       {0xFF0000, 0x0000FF}},
      {"jasc short",
       "a.pal",
       BytesOf("JASC-PAL\n0100\n3\n1 2 3\n4 5 6\n"),
       PaletteFileKind::kJasc,
       {}},
      {"jasc past its count",
       "a.pal",
       BytesOf("JASC-PAL\n0100\n1\n1 2 3\n4 5 6\n"),
       PaletteFileKind::kJasc,
       {}},
      {"jasc count 0", "a.pal", BytesOf("JASC-PAL\n0100\n0\n"), PaletteFileKind::kJasc, {}},
      {"jasc version", "a.pal", BytesOf("JASC-PAL\n0200\n1\n1 2 3\n"), PaletteFileKind::kJasc, {}},
      {"jasc alpha", "a.pal", BytesOf("JASC-PAL\n0100\n1\n1 2 3 4\n"), PaletteFileKind::kJasc, {}},
      {"riff pal",
       "a.pal",
       BytesOf(std::string("RIFF\x10\0\0\0PAL data", 16)),
       PaletteFileKind::kPicture,
       {}},
      {"act 768", "A.ACT", AdobeTable(768, 0, 0), PaletteFileKind::kAdobe, {}},
      {"act 772", "a.act", AdobeTable(772, 2, 1), PaletteFileKind::kAdobe, {0x000102, 0x010203}, 1},
      {"act 772 none transparent",
       "a.act",
       AdobeTable(772, 1, 0xFFFF),
       PaletteFileKind::kAdobe,
       {0x000102}},
      {"act count 0", "a.act", AdobeTable(772, 0, 0xFFFF), PaletteFileKind::kAdobe, {}},
      {"act count 257", "a.act", AdobeTable(772, 257, 0xFFFF), PaletteFileKind::kAdobe, {}},
      {"act transparent past count", "a.act", AdobeTable(772, 2, 2), PaletteFileKind::kAdobe, {}},
      {"act 770 bytes", "a.act", AdobeTable(770, 0, 0), PaletteFileKind::kAdobe, {}},
      {"hex",
       "a.HEX",
       BytesOf("ff0000\n #00Fa0b \r\n\n0000ff"),
       PaletteFileKind::kHex,
       {0xFF0000, 0x00FA0B, 0x0000FF}},
      {"hex short", "a.hex", BytesOf("ff000\n"), PaletteFileKind::kHex, {}},
      {"hex not hex", "a.hex", BytesOf("fg0000\n"), PaletteFileKind::kHex, {}},
      {"hex 257", "a.hex", BytesOf(Lines(257, "123456")), PaletteFileKind::kHex, {}},
      {"hex empty", "a.hex", {}, PaletteFileKind::kHex, {}},
      {"picture", "a.png", BytesOf("\x89PNG\r\n"), PaletteFileKind::kPicture, {}},
  };
}

TEST(PaletteFile, EachKindAndMalformedOnes) {
  for (const PaletteFileCase& c : PaletteFileCases()) {
    SCOPED_TRACE(c.name);
    const PaletteFileKind kind = PaletteFileKindOf(c.bytes, c.fileName);
    EXPECT_EQ(kind, c.kind);
    const std::optional<PaletteFile> file = ParsePaletteFile(kind, c.bytes);
    if (c.name == "act 768") {  // all 256 entries, none transparent
      ASSERT_TRUE(file);
      EXPECT_EQ(file->palette.count, 256);
      EXPECT_EQ(file->palette.colours[255], 0xFF0001U);  // 255, 256 mod 256, 257 mod 256
      EXPECT_FALSE(file->transparentEntry);
      continue;
    }
    ASSERT_EQ(file.has_value(), !c.colours.empty());
    if (file) {
      const std::vector<Rgb24> colours(file->palette.colours.begin(),
                                       file->palette.colours.begin() + file->palette.count);
      EXPECT_EQ(colours, c.colours);
      EXPECT_EQ(file->palette.colours[file->palette.count % 256], 0U);  // past the count: black
      EXPECT_EQ(file->transparentEntry, c.transparentEntry);
    }
  }
}

// Each readable file cut short at every length and with every byte changed: read or refused,
// never read past its end (the sanitizer build watches) nor holding more than 256 entries.
TEST(PaletteFile, DamagedFilesAreReadOrRefused) {
  for (const PaletteFileCase& c : PaletteFileCases()) {
    for (std::size_t at = 0; !c.colours.empty() && at < c.bytes.size(); ++at) {
      Bytes changed = c.bytes;
      changed[at] ^= 0x5A;
      for (const Bytes& damaged : {test::Slice(c.bytes, 0, at), changed}) {
        const std::optional<PaletteFile> file = ParsePaletteFile(c.kind, damaged);
        ASSERT_TRUE(!file || (file->palette.count >= 1 && file->palette.count <= 256)) << c.name;
      }
    }
  }
}

RgbPalette PaletteOf(const std::vector<Rgb24>& colours) {
  RgbPalette palette;
  for (const Rgb24 colour : colours) {
    palette.colours[palette.count++] = colour;
  }
  return palette;
}

// Greys 99 and 100 decode to linear 0.12477 and 0.12744, whose cube roots, their OKLab
// lightness, are 0.49970 and 0.50323: 99 lies nearer black (L 0), 100 nearer white (L 1),
// though 100 is nearer black by sRGB value. Near black the straight segment counts: greys 1
// and 2 decode to 1 / 255 / 12.92 and twice that, L 0.06720 and 0.08467, either side of
// 0.08421, half grey 15's L (its linear 0.004777 from the power curve).
TEST(NearestColour, WorkedByHand) {
  const RgbPalette blackWhite = PaletteOf({0x000000, 0xFFFFFF});
  const RgbPalette blackGrey15 = PaletteOf({0x000000, 0x0F0F0F});
  const RgbPalette duplicates = PaletteOf({0xFF0000, 0x0000FF, 0x00FF00, 0x0000FF, 0x0000FF});
  struct Case {
    Rgb24 colour;
    const RgbPalette& palette;
    std::optional<std::uint8_t> excluded;
    std::optional<std::uint8_t> nearest;
  };
  const std::vector<Case> cases{
      {0x636363, blackWhite, std::nullopt, 0},
      {0x646464, blackWhite, std::nullopt, 1},
      {0x010101, blackGrey15, std::nullopt, 0},
      {0x020202, blackGrey15, std::nullopt, 1},
      {0xFFFFFF, blackWhite, 1, 0},                        // T is never taken, however near
      {0x0000FE, duplicates, std::nullopt, 1},             // a tie: the lowest index
      {0x0000FE, duplicates, 1, 3},                        // ... other than T
      {0x000000, PaletteOf({0x000000}), 0, std::nullopt},  // nothing left to take
      {0x808080, PaletteOf({}), std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NearestEntry(c.colour, c.palette, c.excluded), c.nearest) << std::hex << c.colour;
  }
}

TEST(OrderedDither, ChannelsFollowTheMatrix) {
  // (x, y) = (1, 0) has M 32 and (0, 1) has M 48: 100 + 0.25 and 100 + 8.25.
  EXPECT_EQ(DitherChannel(100, 1, 0), 100);
  EXPECT_EQ(DitherChannel(100, 0, 1), 108);
  EXPECT_EQ(DitherChannel(100, 8, 9), 108);  // the matrix repeats every 8 pixels
  EXPECT_EQ(DitherChannel(100, 0, 0), 84);   // 100 - 15.75
  EXPECT_EQ(DitherChannel(100, 4, 4), 85);   // M 1: 100 - 15.25
  EXPECT_EQ(DitherChannel(0, 3, 7), 0);      // -4.25, clamped
  EXPECT_EQ(DitherChannel(255, 0, 7), 255);  // 270.75, clamped
  EXPECT_EQ(DitherColour(0x0A6400, 0, 1), 0x126C08U);
}

std::vector<std::uint8_t> Rgba(const std::vector<std::array<std::uint8_t, 4>>& pixels) {
  std::vector<std::uint8_t> bytes;
  for (const auto& pixel : pixels) {
    bytes.insert(bytes.end(), pixel.begin(), pixel.end());
  }
  return bytes;
}

// Greys 92, 94, ... 106 in rows 0 and 1 onto black and white, whose boundary lies between
// 99 and 100. Row 0's matrix values 0 32 8 40 2 34 10 42 give 76.25, 94.25, 84.25, 102.25,
// 85.25, 103.25, 94.25, 111.25; row 1's 48 16 56 24 50 18 58 26 give 100.25, 86.25, 108.25,
// 94.25, 109.25, 95.25, 117.25, 103.25. Row 2 is transparent but for alpha 128; row 7 has
// white at M 63 and black at M 23, clamped.
TEST(OrderedDither, GradientOntoBlackAndWhite) {
  std::vector<std::array<std::uint8_t, 4>> pixels(64, {255, 255, 255, 0});
  for (std::uint8_t x = 0; x < 8; ++x) {
    const auto grey = static_cast<std::uint8_t>(92 + 2 * x);
    pixels[x] = pixels[8 + x] = {grey, grey, grey, 255};
    pixels[16 + x][3] = static_cast<std::uint8_t>(127 + x % 2);
  }
  pixels[56] = {255, 255, 255, 255};
  pixels[59] = {0, 0, 0, 255};
  const std::vector<std::uint8_t> bytes = Rgba(pixels);
  const Transparency transparency{.index = 7, .alphaThreshold = 128};
  std::optional<PaletteMapper> mapper =
      PaletteMapper::Make(PaletteOf({0x000000, 0xFFFFFF}), transparency);
  ASSERT_TRUE(mapper);
  std::vector<std::uint8_t> indices(64);
  ASSERT_TRUE(mapper->MapOrdered({bytes, 8, 8}, indices));
  const std::vector<std::uint8_t> expected{
      0, 0, 0, 1, 0, 1, 0, 1,  //
      1, 0, 1, 0, 1, 0, 1, 1,  //
      7, 1, 7, 1, 7, 1, 7, 1,  // white where alpha is 128 (M 12 44 4 36 ...: still white)
      7, 7, 7, 7, 7, 7, 7, 7,  //
      7, 7, 7, 7, 7, 7, 7, 7,  //
      7, 7, 7, 7, 7, 7, 7, 7,  //
      7, 7, 7, 7, 7, 7, 7, 7,  //
      1, 7, 7, 0, 7, 7, 7, 7,
  };
  EXPECT_EQ(indices, expected);
  ASSERT_TRUE(mapper->Map({bytes, 8, 8}, indices));  // undithered: 92..98 black, 100..106 white
  EXPECT_EQ(std::vector<std::uint8_t>(indices.begin(), indices.begin() + 8),
            (std::vector<std::uint8_t>{0, 0, 0, 0, 1, 1, 1, 1}));
  EXPECT_FALSE(mapper->Map({bytes, 8, 7}, indices));  // the bytes are not 8 x 7 pixels
}

// The mapper searches the entries from the wanted lightness outwards and remembers answers:
// it must give the plain rule's answer for every colour, with and without its table, on a
// palette with equal entries (ties) and T among them.
TEST(PaletteMapper, AgreesWithThePlainRule) {
  std::mt19937 random(23);
  RgbPalette palette;
  palette.count = 200;
  for (std::size_t i = 0; i < palette.count; ++i) {
    palette.colours[i] =
        i % 7 == 3 ? palette.colours[i / 2] : static_cast<Rgb24>(random() & 0xFFFFFF);
  }
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 20000; ++i) {
    const Rgb24 colour = i < 200 ? palette.colours[static_cast<std::size_t>(i)]
                                 : static_cast<Rgb24>(random() & 0xFFFFFF);
    bytes.insert(bytes.end(),
                 {static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
                  static_cast<std::uint8_t>(colour), 255});
  }
  const Transparency transparency{.index = 3};
  for (const bool withTable : {true, false}) {
    test::AllocationFaults::FailNth(withTable ? 0 : 1);
    std::optional<PaletteMapper> mapper = PaletteMapper::Make(palette, transparency);
    test::AllocationFaults::Clear();
    ASSERT_TRUE(mapper);
    std::vector<std::uint8_t> indices(20000);
    ASSERT_TRUE(mapper->Map({bytes, 100, 200}, indices));
    for (std::size_t i = 0; i < indices.size(); ++i) {
      const Rgb24 colour = MakeRgb24(bytes[4 * i], bytes[4 * i + 1], bytes[4 * i + 2]);
      ASSERT_EQ(indices[i], NearestEntry(colour, palette, 3)) << std::hex << colour;
    }
  }
}

}  // namespace
}  // namespace kav
