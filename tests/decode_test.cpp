// The decoders: round trips through every writer, and one damaged file for each reason they
// give, refused with that reason and offset. Arbitrary bytes are left to the fuzz targets.

#include "formats/decode.h"

#include <gtest/gtest.h>

#include <random>

#include "support/test_support.h"

namespace kav {
namespace {

using test::BmpSpec;
using test::Bytes;
using test::Encode;
using test::PictureOf;
using test::With;

// Runs of 1 to 400 pixels of 255, 250 or any index that go on from row to row and cross
// segment boundaries. Every fourth row is instead all 255 (the row marker), all 250, or 255
// but its last pixel; the others end in 255, 250 or another index in turn, so that padding
// continuing a row's last run has to be left out of it.
BmpSpec Generate(std::int32_t width, std::int32_t height, std::mt19937& random) {
  const auto pick = [&random](int bound) {
    return std::uniform_int_distribution<int>(0, bound - 1)(random);
  };
  int left = 0;
  int index = 0;
  return PictureOf(width, height, [&](int x, int y) {
    if (y % 4 == 1) {
      const int kind = y / 4 % 3;
      return kind == 1 ? 250 : kind == 2 && x == width - 1 ? 7 : 255;
    }
    if (left-- == 0) {
      left = pick(400);
      index = pick(4) == 0 ? 255 : pick(3) == 0 ? 250 : pick(256);
    }
    return x == width - 1 && y % 3 < 2 ? (y % 3 == 0 ? 255 : 250) : index;
  });
}

TEST(DecodeRoundTrip, EveryFormatGivesBackEveryIndexHoweverTheBmpStoresIt) {
  // Widths about segments of 128 columns and rows padded to 4 bytes, up to the largest, and
  // heights that span several bands of rows coded at once, the last band partial.
  std::mt19937 random(20240611);
  const std::pair<int, int> sizes[] = {{1, 1},      {2, 13},    {3, 40},   {5, 4},     {127, 13},
                                       {128, 40},   {129, 1},   {130, 13}, {131, 40},  {255, 13},
                                       {256, 1},    {257, 40},  {300, 13}, {12801, 3}, {1, 700},
                                       {1500, 400}, {65535, 9}, {1, 65535}};
  for (const auto& [width, rows] : sizes) {
    const BmpSpec spec = Generate(width, rows, random);
    for (const FileKind kind : {FileKind::kMzr, FileKind::kRle, FileKind::kRls}) {
      SCOPED_TRACE(testing::Message() << FileKindName(kind) << " " << width << " x " << rows);
      const Bytes file = Encode(spec, kind);
      const DecodeResult result = DecodeFile(file);
      const auto* image = std::get_if<DecodedImage>(&result);
      ASSERT_NE(image, nullptr) << std::get<DecodeError>(result).reason;
      EXPECT_EQ(image->kind, kind);
      EXPECT_EQ(image->width, width);
      EXPECT_EQ(image->height, rows);
      ASSERT_EQ(image->indices, spec.pixels);
      // Neither the padding, nor the order of the stored rows, nor the palette's fourth bytes
      // change the file.
      for (const int padding : {255, 250}) {
        BmpSpec stored = spec;
        stored.height = -rows;
        stored.paddingByte = static_cast<std::uint8_t>(padding);
        stored.reservedByte = 0x5A;
        EXPECT_EQ(Encode(stored, kind), file) << "padding " << padding;
      }
    }
  }
}

Bytes Resized(Bytes file, std::size_t size) {
  file.resize(size);
  return file;
}

TEST(DecodeDamage, EachReasonWithItsOffset) {
  // One row 300 pixels wide, 130 of 255, 20 of 5, 150 of 255: 4158 bytes, dataSize 40, offset
  // entries at 4118, 4122 and 4126, codes FF 80, FF 02, twenty 05, FF 6A, FF 2C from 4130.
  const Bytes wide = Encode(
      PictureOf(300, 1, [](int x, int) { return x >= 130 && x < 150 ? 5 : 255; }), FileKind::kRle);
  // 3 x 2, rows 1, 255, 255 and all 255: entries 8 and 11, codes 01 FF 02 and FF FF from 4126.
  const Bytes small =
      Encode(PictureOf(3, 2, [](int x, int y) { return x + y == 0 ? 1 : 255; }), FileKind::kRle);
  // Rows of 255 in two segments: entries 4118 to 4133, each row's two at its marker.
  const Bytes blank = Encode(PictureOf(200, 2, [](int, int) { return 255; }), FileKind::kRle);
  const Bytes mzr = Encode(PictureOf(3, 2, [](int x, int y) { return x + 3 * y; }), FileKind::kMzr);
  // The largest image in a tiny file: refused before anything is allocated for it.
  const std::initializer_list<test::Field> hugeHeader = {{2, 4, 134346750},    {6, 2, 65535},
                                                         {8, 2, 65535},        {4106, 4, 262140},
                                                         {4110, 4, 134215680}, {4114, 2, 512}};
  const Bytes huge = With(Resized(small, 4120), hugeHeader);
  const struct {
    Bytes file;
    std::uint64_t offset;
    std::string reason;
    std::optional<RunLengthVariant> as = {};  // decoded as this variant, not by its content
  } cases[] = {
      {Resized(wide, 4157), 4157,
       "the file ends after 4157 bytes, but dataSize 40 gives a length of 4158 (4118 + dataSize)"},
      {Resized(wide, 4159), 4158,
       "the file is 4159 bytes long, but dataSize 40 gives a length of 4158 (4118 + dataSize)"},
      {With(small, {{1, 1, 'X'}}), 0,
       "not an MZR, RLE or RLS file: it begins with neither \"KAV8BMP\" nor \"RL\" nor \"RS\""},
      {small, 0, "the signature bytes are 52 4C, not \"RS\" (52 53)", RunLengthVariant::kRls},
      {{'R'},
       1,
       "the file ends after 1 bytes, inside the 2-byte signature",
       RunLengthVariant::kRle},
      {With(Bytes(100, 0), {{0, 2, 'R' | 'S' << 8}}), 100,
       "the file ends after 100 bytes, inside the 4118-byte header"},
      {With(wide, {{6, 2, 0}}), 6, "the width is 0"},
      {With(wide, {{8, 2, 0}}), 8, "the height is 0"},
      {With(wide, {{4106, 4, 8}}), 4106,
       "rowTableSize is 8, but a height of 1 needs 4 (height x 4)"},
      {With(wide, {{4114, 2, 0xFFFD}}), 4114,
       "segmentCount is -3, but a width of 300 needs 3 segments of 128 columns"},
      {With(wide, {{4110, 4, 16}}), 4110,
       "allRowTablesSize is 16, not segmentCount x rowTableSize = 12"},
      {With(Resized(small, 4126), {{2, 4, 8}}), 2,
       "dataSize 8 leaves no room for coded rows after the 8 bytes of offset tables"},
      {With(wide, {{4122, 4, 4200}}), 4122,
       "offset entry for segment 1 of row 0 is 4200, outside the coded rows (12 to 39)"},
      {With(small, {{4118, 4, 9}}), 4118,
       "offset entry for segment 0 of row 0 is 9, but the coded rows begin at 8 (file offset "
       "4126)"},
      {With(wide, {{4122, 4, 15}}), 4122,
       "offset entry for segment 1 of row 0 is 15, but the code of column 128 begins at 14 (file "
       "offset 4132)"},
      {With(small, {{4122, 4, 10}}), 4122,
       "offset entry for segment 0 of row 1 is 10, but the code of row 0 ends at 11 (file offset "
       "4129)"},
      {With(blank, {{4130, 4, 19}}), 4130,
       "offset entry for segment 1 of row 1 is 19, but the row is coded as the 255, 255 marker at "
       "18 (file offset 4136)"},
      {With(wide, {{4133, 1, 0}}), 4133,
       "run count 0 of index 255 at column 128 of row 0 is not 1 to 128"},
      {With(small, {{4128, 1, 0xFF}}), 4128,
       "run count 255 of index 255 at column 1 of row 0 is not 1 to 128 (255, 255 marks a row "
       "of 255 only at the row's start)"},
      // The next run, 2 long, now starts at column 127.
      {With(wide, {{4131, 1, 127}}), 4132,
       "run of 2 pixels of index 255 at column 127 of row 0 crosses the segment boundary at "
       "column 128"},
      {With(wide, {{4157, 1, 45}}), 4156,
       "run of 45 pixels of index 255 at column 256 of row 0 goes past the row's end (width 300)"},
      {With(wide, {{4157, 1, 43}}), 4158,
       "the coded rows end inside row 0, after 299 of its 300 pixels"},
      {With(Resized(small, 4133), {{2, 4, 15}}), 4131,
       "the code of the last row ends at file offset 4131, but the coded rows go on to 4133 "
       "(4118 + dataSize)"},
      {huge, 4120,
       "the file ends after 4120 bytes, but dataSize 134346750 gives a length of 134350868 (4118 "
       "+ dataSize)"},
      {With(Resized(mzr, 16404), {{8, 2, 65535}, {10, 2, 65535}}), 16404,
       "the file ends after 16404 bytes, but a 65535 x 65535 image needs 4294852629 (16404 + "
       "width x height)"},
      {Resized(mzr, 16409), 16409,
       "the file ends after 16409 bytes, but a 3 x 2 image needs 16410 (16404 + width x height)"},
      {Resized(mzr, 16411), 16410,
       "the file is 16411 bytes long, but a 3 x 2 image ends at 16410 (16404 + width x height)"},
      {Resized(mzr, 12), 12, "the file ends after 12 bytes, inside the 20-byte MZR header"},
      {With(mzr, {{7, 1, 'A'}}), 7,
       "magic byte 7 is 0x41, not 0x00: an MZR file begins with \"KAV8BMP\" and a zero byte"},
      {With(mzr, {{12, 1, 2}}), 12, "the remapping flag is 2, not 0 or 1"},
      {With(mzr, {{13, 1, 1}}), 13, "the reserved byte is 1, not 0"},
  };
  for (const auto& c : cases) {
    for (const PixelOutput pixels : {PixelOutput::kKeep, PixelOutput::kCheckOnly}) {
      const DecodeResult result =
          c.as ? DecodeRunLength(c.file, *c.as, pixels) : DecodeFile(c.file, pixels);
      const auto* error = std::get_if<DecodeError>(&result);
      ASSERT_NE(error, nullptr) << "accepted a file with: " << c.reason;
      EXPECT_EQ(error->reason, c.reason);
      EXPECT_EQ(error->offset, c.offset) << c.reason;
    }
  }
  // An empty image is a whole file of header and tables.
  EXPECT_TRUE(std::holds_alternative<DecodedImage>(DecodeFile(Encode(BmpSpec{}, FileKind::kMzr))));
}

}  // namespace
}  // namespace kav
