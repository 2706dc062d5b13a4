// RLE and RLS bytes: the worked examples of docs/formats.md byte for byte, three palette
// entries through every effect table, and the longest rows. Round trips are in decode_test.cpp.

#include "formats/run_length.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kav {
namespace {

using test::Bytes;
using test::Encode;
using test::PictureOf;
using test::Slice;

constexpr std::array kVariants{FileKind::kRle, FileKind::kRls};

TEST(RunLengthExamples, ThreeByTwoWithABlankRow) {
  const auto spec = PictureOf(3, 2, [](int x, int y) { return y == 0 && x == 0 ? 1 : 255; });
  for (const FileKind kind : kVariants) {
    SCOPED_TRACE(FileKindName(kind));
    const Bytes file = Encode(spec, kind);
    ASSERT_EQ(file.size(), 4131u);
    EXPECT_EQ(Slice(file, 0, 10),
              (Bytes{'R', static_cast<std::uint8_t>(kind == FileKind::kRls ? 'S' : 'L'), 0x0D, 0, 0,
                     0, 0x03, 0, 0x02, 0}));
    EXPECT_EQ(Slice(file, 4106),
              (Bytes{0x08, 0, 0, 0,    0x08, 0, 0, 0,    0x01, 0,    0,    0,   0x08,
                     0,    0, 0, 0x0B, 0,    0, 0, 0x01, 0xFF, 0x02, 0xFF, 0xFF}));
  }
}

TEST(RunLengthExamples, FourByTwoCodes250AsRunsOnlyInRls) {
  const auto spec = PictureOf(4, 2, [](int x, int y) {
    const int rows[2][4] = {{7, 250, 250, 255}, {255, 250, 9, 255}};
    return rows[y][x];
  });
  const Bytes rle = Encode(spec, FileKind::kRle);
  EXPECT_EQ(Slice(rle, 2, 6), (Bytes{19, 0, 0, 0}));
  EXPECT_EQ(Slice(rle, 4118),
            (Bytes{8, 0, 0, 0, 13, 0, 0, 0,  // offsets
                   0x07, 0xFA, 0xFA, 0xFF, 0x01, 0xFF, 0x01, 0xFA, 0x09, 0xFF, 0x01}));
  const Bytes rls = Encode(spec, FileKind::kRls);
  EXPECT_EQ(Slice(rls, 2, 6), (Bytes{20, 0, 0, 0}));
  EXPECT_EQ(Slice(rls, 4118),
            (Bytes{8,    0,    0,    0,    13,   0,    0,    0,  // offsets
                   0x07, 0xFA, 0x02, 0xFF, 0x01, 0xFF, 0x01, 0xFA, 0x01, 0x09, 0xFF, 0x01}));
  // A whole segment of 250 is one run of 128.
  const Bytes segment =
      Encode(PictureOf(256, 1, [](int x, int) { return x < 128 ? 255 : 250; }), FileKind::kRls);
  EXPECT_EQ(Slice(segment, 4118), (Bytes{8, 0, 0, 0, 10, 0, 0, 0, 255, 128, 250, 128}));
}

TEST(RunLengthExamples, ThreeHundredWideRowSplitsItsRunsAtSegments) {
  const auto spec = PictureOf(300, 1, [](int x, int) { return x >= 130 && x < 150 ? 5 : 255; });
  // FF 80, FF 02, twenty bytes 05, FF 6A, FF 2C
  const Bytes codes =
      test::With(Bytes(28, 5), {{0, 2, 0x80FF}, {2, 2, 0x02FF}, {24, 2, 0x6AFF}, {26, 2, 0x2CFF}});
  for (const FileKind kind : kVariants) {
    SCOPED_TRACE(FileKindName(kind));
    const Bytes file = Encode(spec, kind);
    EXPECT_EQ(Slice(file, 4110, 4116), (Bytes{12, 0, 0, 0, 3, 0}));
    EXPECT_EQ(Slice(file, 4118, 4130), (Bytes{12, 0, 0, 0, 14, 0, 0, 0, 38, 0, 0, 0}));
    EXPECT_EQ(Slice(file, 4130), codes);
  }
}

// Grey 128 packs to 128 / 8 << 11 | 128 / 4 << 5 | 128 / 8 = 0x8410, channels 16, 32, 16.
// Darkened at level 6 each loses a quarter: 12, 24, 12 = 0x630C. Lightened at level 6 each
// rises by 6/32 of its headroom, the fields of 0x10000 - 0x8410 = 0x7BF0 (15, 31, 16): 18, 37,
// 19 = 0x94B3. Its grey, (8 * 16 + 4 * 32 + 8 * 16) / 3 = 128, packs back to 0x8410.
TEST(RunLengthEffectTables, ThreePaletteEntriesThroughEveryTable) {
  auto spec = PictureOf(1, 1, [](int, int) { return 0; });
  spec.palette = {{128, 128, 128}, {255, 255, 255}};
  spec.palette.resize(256);
  spec.palette[200] = {255, 0, 0};
  const std::vector<std::pair<std::size_t, std::array<Rgb565, 8>>> expected = {
      {0, {0x8410, 0x630C, 0x94B3, 0x528E, 0x7B4D, 0x6AEE, 0x8410, 0x6CD3}},
      {1, {0xFFFF, 0xC618, 0xFFFF, 0x9D16, 0xE67A, 0xBDB8, 0xFFDF, 0xCFFF}},
      {200, {0xF800, 0xC000, 0xF800, 0x9800, 0xE000, 0xB800, 0x528A, 0xC800}},
  };
  for (const FileKind kind : kVariants) {
    const Bytes file = Encode(spec, kind);
    for (const auto& [index, values] : expected) {
      for (std::size_t t = 0; t < 8; ++t) {
        EXPECT_EQ(test::Le16(file, 10 + 512 * t + 2 * index), values[t])
            << FileKindName(kind) << " index " << index << " table " << t;
      }
    }
  }
}

TEST(RunLengthRows, TheLongestRowsFitTheirBuffer) {
  // In RLS, alternating 255 and 250 costs two bytes a pixel, the most any row can cost.
  for (const std::uint32_t width : {1u, 2u, 127u, 128u, 129u, 1000u}) {
    const Bytes row = PictureOf(static_cast<int>(width), 1, [](int x, int) {
                        return x % 2 == 0 ? 255 : 250;
                      }).pixels;
    // Exactly sized, so that the sanitizer build sees any write past the end.
    Bytes out(static_cast<std::size_t>(MaxCodedRowBytes(width)));
    std::vector<std::uint32_t> starts(SegmentCountFor(width));
    EXPECT_EQ(CodeRow(row, FormatOf(OutputFormat::kRls).runCoded, out, starts), 2 * width) << width;
  }
}

}  // namespace
}  // namespace kav
