// Palette files of each kind and malformed ones; the nearest-colour rule on cases worked out
// by hand; ordered dithering on a gradient; the fast mapper against the plain rule.

#include <gtest/gtest.h>

#include <algorithm>
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

// Entry e of the table is e, e + 1, e + 2 (each modulo 256); the longer form's two fields
// follow.
Bytes AdobeTable(std::size_t size, unsigned count, unsigned transparent) {
  Bytes table(size);
  for (std::size_t i = 0; i < std::min<std::size_t>(size, 768); ++i) {
    table[i] = static_cast<std::uint8_t>(i / 3 + i % 3);
  }
  if (size >= 772) {
    for (const auto& [at, value] : {std::pair{768U, count}, std::pair{770U, transparent}}) {
      table[at] = static_cast<std::uint8_t>(value >> 8);
      table[at + 1] = static_cast<std::uint8_t>(value);
    }
  }
  return table;
}

std::vector<Rgb24> AdobeColours(unsigned count) {
  std::vector<Rgb24> colours;
  for (unsigned e = 0; e < count; ++e) {
    colours.push_back(MakeRgb24(e, (e + 1) % 256, (e + 2) % 256));
  }
  return colours;
}

std::string Lines(std::size_t count, const std::string& line) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += line + "\n";
  }
  return text;
}

struct PaletteFileCase {
  std::string fileName;
  Bytes bytes;
  PaletteFileKind kind;
  std::vector<Rgb24> colours;  // empty: cannot be read
  std::optional<std::uint8_t> transparentEntry = std::nullopt;
};

std::vector<PaletteFileCase> PaletteFileCases() {
  const auto gimp = PaletteFileKind::kGimp, jasc = PaletteFileKind::kJasc;
  const auto act = PaletteFileKind::kAdobe, hex = PaletteFileKind::kHex;
  const std::string header = "GIMP Palette\n", jascHeader = "JASC-PAL\n0100\n";
  return {
      {"any.txt",
       BytesOf("\xEF\xBB\xBFGIMP Palette\r\nName: Test\nColumns: 4\n# comment\n\n"
               "  0   0   0\tBlack\n255 128 7 Orange thing\r\n"),
       gimp,
       {0x000000, 0xFF8007}},
      {"x.act", BytesOf(header + "1 2 3\n"), gimp, {0x010203}},  // the header beats the name
      {"a.gpl", BytesOf(header + "1 2 3\n256 0 0\n"), gimp, {}},
      {"a.gpl", BytesOf(header + "1 2 3\n12 34\n"), gimp, {}},
      {"a.gpl", BytesOf(header + "1 2 3\nColour: 1\n"), gimp, {}},
      {"a.gpl", BytesOf(header + "Name: x\n"), gimp, {}},
      {"a.gpl", BytesOf(header + Lines(257, "1 1 1")), gimp, {}},
      {"a.gpl", BytesOf(header + "1 2 3 " + std::string(1020, 'x') + "\n"), gimp, {}},
      {"a.pal",
       BytesOf("JASC-PAL\r\n0100\r\n2\r\n255 0 0\r\n0 0 255\r\n\r\n"),
       jasc,
       {0xFF0000, 0x0000FF}},
      {"a.pal", BytesOf(jascHeader + "3\n1 2 3\n4 5 6\n"), jasc, {}},  // short of its count
      {"a.pal", BytesOf(jascHeader + "1\n1 2 3\n4 5 6\n"), jasc, {}},  // past its count
      {"a.pal", BytesOf(jascHeader + "0\n"), jasc, {}},
      {"a.pal", BytesOf(jascHeader + "1\n1 2 3 4\n"), jasc, {}},
      {"a.pal", BytesOf("JASC-PAL\n0200\n1\n1 2 3\n"), jasc, {}},
      {"a.pal", BytesOf(std::string("RIFF\x10\0\0\0PAL data", 16)), PaletteFileKind::kPicture, {}},
      {"A.ACT", AdobeTable(768, 0, 0), act, AdobeColours(256)},
      {"a.act", AdobeTable(772, 2, 1), act, AdobeColours(2), 1},
      {"a.act", AdobeTable(772, 1, 0xFFFF), act, AdobeColours(1)},
      {"a.act", AdobeTable(772, 0, 0xFFFF), act, {}},
      {"a.act", AdobeTable(772, 257, 0xFFFF), act, {}},
      {"a.act", AdobeTable(772, 2, 2), act, {}},  // transparent entry past the count
      {"a.act", AdobeTable(770, 0, 0), act, {}},
      {"a.HEX", BytesOf("ff0000\n #00Fa0b \r\n\n0000ff"), hex, {0xFF0000, 0x00FA0B, 0x0000FF}},
      {"a.hex", BytesOf("ff000\n"), hex, {}},
      {"a.hex", BytesOf("fg0000\n"), hex, {}},
      {"a.hex", BytesOf(Lines(257, "123456")), hex, {}},
      {"a.hex", {}, hex, {}},
      {"a.png", BytesOf("\x89PNG\r\n"), PaletteFileKind::kPicture, {}},
  };
}

TEST(PaletteFile, EachKindAndMalformedOnes) {
  const std::vector<PaletteFileCase> cases = PaletteFileCases();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const PaletteFileCase& c = cases[i];
    SCOPED_TRACE(i);
    const PaletteFileKind kind = PaletteFileKindOf(c.bytes, c.fileName);
    EXPECT_EQ(kind, c.kind);
    const std::optional<PaletteFile> file = ParsePaletteFile(kind, c.bytes);
    ASSERT_EQ(file.has_value(), !c.colours.empty());
    if (file) {
      const std::span<const Rgb24> colours(file->palette.colours.data(), file->palette.count);
      EXPECT_TRUE(std::ranges::equal(colours, c.colours));
      const auto past = file->palette.colours.begin() + file->palette.count;
      EXPECT_TRUE(
          std::all_of(past, file->palette.colours.end(), [](Rgb24 colour) { return colour == 0; }));
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
        ASSERT_TRUE(!file || (file->palette.count >= 1 && file->palette.count <= 256)) << at;
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
  const RgbPalette black = PaletteOf({0x000000}), none;
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
      {0xFFFFFF, blackWhite, 1, 0},             // T is never taken, however near
      {0x0000FE, duplicates, std::nullopt, 1},  // a tie: the lowest index
      {0x0000FE, duplicates, 1, 3},             // ... other than T
      {0x000000, black, 0, std::nullopt},       // nothing left to take
      {0x808080, none, std::nullopt, std::nullopt},
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
