// The decoder of include/kav/kav_formats.h on what the writers make and on each kind of damage.
// Arbitrary bytes are left to the decode fuzz target; colours to the render and consumer tests.

#include "kav/kav_formats.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>

#include "formats/run_length.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::BmpPicture;
using test::Bytes;
using test::Encode;
using test::PictureOf;
using test::With;

// Runs of 1 to 400 pixels of 255, 250 or any index that go on from row to row and cross
// segment boundaries; every fourth row is instead all 255 (the row marker), all 250, or 255
// but its last pixel.
BmpPicture Generate(std::int32_t width, std::int32_t height, std::mt19937& random) {
  const auto pick = [&random](int bound) {
    return std::uniform_int_distribution<int>(0, bound - 1)(random);
  };
  int left = 0, index = 0;
  return PictureOf(width, height, [&](int x, int y) {
    if (y % 4 == 1) {
      const int kind = y / 4 % 3;
      return kind == 1 ? 250 : kind == 2 && x == width - 1 ? 7 : 255;
    }
    if (left-- == 0) {
      left = pick(400);
      index = pick(4) == 0 ? 255 : pick(3) == 0 ? 250 : pick(256);
    }
    return index;
  });
}

// Each picture, as each kind, gives back its indices by row and by every segment. Every size
// is also stored the other way up, with row padding that would continue a row's last run and
// with the palette's fourth bytes set, which must not change the file. The largest sizes
// span several of the bands rows are coded in, the last one partial.
TEST(DecodeRoundTrip, EveryFormatGivesBackEveryIndexOfManyImages) {
  std::mt19937 random(20240611);
  std::vector<std::pair<int, int>> sizes{{1, 700}, {1500, 400}, {65535, 9}};
  for (const int width : {1, 2, 3, 127, 128, 129, 255, 256, 257, 300, 12801}) {
    for (const int rows : {1, 13, 40}) {
      sizes.emplace_back(width, rows);
    }
  }
  std::array<std::uint8_t, KAV_SEGMENT_WIDTH> segment{};
  for (const auto& [width, rows] : sizes) {
    const BmpPicture spec = Generate(width, rows, random);
    for (const FileKind kind : {FileKind::kMzr, FileKind::kRle, FileKind::kRls}) {
      SCOPED_TRACE(testing::Message() << FileKindName(kind) << " " << width << " x " << rows);
      const Bytes file = Encode(spec, kind);
      ASSERT_TRUE(test::Decode(file) == spec.pixels);
      const std::optional<kav_image> image = test::Open(file);
      ASSERT_TRUE(image && image->kind == static_cast<kav_kind>(kind));
      for (std::uint32_t r = 0; r < image->height; ++r) {
        for (std::uint32_t column = 0; column < image->width; column += KAV_SEGMENT_WIDTH) {
          const std::size_t count =
              kav_segment_indices(&*image, r, column / KAV_SEGMENT_WIDTH, segment.data());
          ASSERT_TRUE(std::ranges::equal(
              std::span(segment).first(count),
              std::span(spec.pixels)
                  .subspan(r * image->width + column)
                  .first(std::min<std::size_t>(KAV_SEGMENT_WIDTH, image->width - column))))
              << "row " << r << " column " << column;
        }
      }
      for (const int padding : {255, 250}) {
        BmpPicture stored = spec;
        stored.height = padding == 255 ? rows : -rows;
        stored.paddingByte = static_cast<std::uint8_t>(padding);
        stored.reservedByte = 0x5A;
        EXPECT_TRUE(Encode(stored, kind) == file) << "padding " << padding;
      }
    }
  }
  // An empty image is a whole MZR file of header and tables.
  EXPECT_EQ(test::Decode(Encode(BmpPicture{}, FileKind::kMzr)), Bytes{});
}

// The worked examples of docs/formats.md: `wide`, one row 300 pixels wide, 130 of 255, 20 of
// 5, 150 of 255 (entries 12, 14 and 38; codes FF 80, FF 02, twenty 05, FF 6A, FF 2C); and
// `small`, 3 x 2 with rows 1, 255, 255 and 255, 255, 255 (entries 8 and 11; codes 01 FF 02,
// FF FF).
TEST(DecodeDamage, EachFaultIsRefusedAtItsOffsetWithItsReason) {
  const Bytes mzr = Encode(PictureOf(3, 2, [](int x, int y) { return x + 3 * y; }), FileKind::kMzr);
  const Bytes wide =  // 4158 bytes, dataSize 40
      Encode(PictureOf(300, 1, [](int x, int) { return x >= 130 && x < 150 ? 5 : 255; }),
             FileKind::kRle);
  const Bytes small =
      Encode(PictureOf(3, 2, [](int x, int y) { return x + y == 0 ? 1 : 255; }), FileKind::kRle);
  const auto resized = [](Bytes file, std::size_t size) { return file.resize(size), file; };
  // Where offset entry number `entry` lies (segment-major, as stored).
  const auto entryAt = [](std::size_t n) { return kRowTablesOffset + n * kOffsetEntrySize; };
  const std::size_t codes = entryAt(3);  // where the wide row's codes begin
  // Rows of 255 in two segments: both entries of a row point at its marker.
  const Bytes blank = Encode(PictureOf(200, 2, [](int, int) { return 255; }), FileKind::kRle);
  const std::vector<std::tuple<Bytes, std::size_t, std::string>> damages{
      {With(small, {{1, 1, 'X'}}), 0, "not an MZR, RLE or RLS file"},
      {resized(mzr, 12), 12, "the file ends after 12 bytes, inside the 20-byte MZR header"},
      {With(mzr, {{7, 1, 'A'}}), 7,
       "magic byte 7 is 0x41, not 0x00: an MZR file begins with \"KAV8BMP\" and a zero byte"},
      {With(mzr, {{kMzrRemappingOffset, 1, 2}}), 12, "the remapping flag is 2, not 0 or 1"},
      {With(mzr, {{kMzrReservedOffset, 1, 1}}), 13, "the reserved byte is 1, not 0"},
      {With(resized(mzr, 16404), {{kMzrWidthOffset, 2, 65535}, {kMzrHeightOffset, 2, 65535}}),
       16404,
       "the file ends after 16404 bytes, but a 65535 x 65535 image needs 4294852629 (16404 + "
       "width x height)"},
      {resized(mzr, 16411), 16410,
       "the file is 16411 bytes long, but a 3 x 2 image ends at 16410 (16404 + width x height)"},
      {With(Bytes(100, 0), {{0, 2, 'R' | 'S' << 8}}), 100,
       "the file ends after 100 bytes, inside the 4118-byte header"},
      {With(small, {{kRlDataSizeOffset, 4, 0xFFFFFFFF}}), 4131,
       "the file ends after 4131 bytes, but dataSize 4294967295 gives a length of 4294971413 "
       "(4118 + dataSize)"},
      {resized(wide, 4159), 4158,
       "the file is 4159 bytes long, but dataSize 40 gives a length of 4158 (4118 + dataSize)"},
      {With(wide, {{kRlWidthOffset, 2, 0}}), 6, "the width is 0"},
      {With(wide, {{kRlHeightOffset, 2, 0}}), 8, "the height is 0"},
      {With(wide, {{kRowTableSizeOffset, 4, 8}}), 4106,
       "rowTableSize is 8, but a height of 1 needs 4 (height x 4)"},
      {With(wide, {{kSegmentCountOffset, 2, 0xFFFD}}), 4114,
       "segmentCount is -3, but a width of 300 needs 3 segments of 128 columns"},
      {With(wide, {{kAllRowTablesSizeOffset, 4, 16}}), 4110,
       "allRowTablesSize is 16, not segmentCount x rowTableSize = 12"},
      {resized(With(small, {{kRlDataSizeOffset, 4, 8}}), 4126), 2,
       "dataSize 8 leaves no room for coded rows after the 8 bytes of offset tables"},
      {With(wide, {{entryAt(1), 4, 4200}}), entryAt(1),
       "offset entry for segment 1 of row 0 is 4200, outside the coded rows (12 to 39)"},
      {With(wide, {{entryAt(1), 4, 40}}), entryAt(1),
       "offset entry for segment 1 of row 0 is 40, outside the coded rows (12 to 39)"},
      {With(wide, {{entryAt(1), 4, 15}}), entryAt(1),
       "offset entry for segment 1 of row 0 is 15, but the code of column 128 begins at 14 (file "
       "offset 4132)"},
      {With(small, {{entryAt(1), 4, 10}}), entryAt(1),
       "offset entry for segment 0 of row 1 is 10, but the code of row 0 ends at 11 (file offset "
       "4129)"},
      {With(blank, {{entryAt(3), 4, 19}}), entryAt(3),
       "offset entry for segment 1 of row 1 is 19, but the row is coded as the 255, 255 marker at "
       "18 (file offset 4136)"},
      // 255, 255 marks a whole row only at the start of a row.
      {With(small, {{entryAt(2) + 2, 1, 0xFF}}), entryAt(2) + 2,
       "run count 255 of index 255 at column 1 of row 0 is not 1 to 128 (255, 255 marks a row "
       "of 255 only at the row's start)"},
      // The next run, 2 long, now starts at column 127.
      {With(wide, {{codes + 1, 1, 127}}), codes + 2,
       "run of 2 pixels of index 255 at column 127 of row 0 crosses the segment boundary at "
       "column 128"},
      {With(wide, {{codes + 27, 1, 45}}), codes + 26,
       "run of 45 pixels of index 255 at column 256 of row 0 goes past the row's end (width 300)"},
      // The row marker cut to its first byte, a run without its count.
      {resized(With(small, {{kRlDataSizeOffset, 4, 12}}), 4130), 4130,
       "the coded rows end inside row 1, after 0 of its 3 pixels"},
      {resized(With(small, {{kRlDataSizeOffset, 4, 15}}), 4133), 4131,
       "the code of the last row ends at file offset 4131, but the coded rows go on to 4133 "
       "(4118 + dataSize)"},
  };
  for (const auto& [file, offset, reason] : damages) {
    kav_image image;
    kav_error error{};
    EXPECT_NE(kav_open(&image, file.data(), file.size(), &error), KAV_OK) << reason;
    EXPECT_EQ(error.offset, offset) << reason;
    // The whole line, then cut to 11 characters; the length is the whole line's either way.
    std::array<char, 160> line{}, cut{};
    cut.fill('#');
    EXPECT_EQ(kav_error_describe(&image, &error, line.data(), line.size()), reason.size());
    EXPECT_EQ(std::string(line.data()), reason);
    EXPECT_EQ(kav_error_describe(&image, &error, cut.data(), 12), reason.size());
    EXPECT_EQ(std::string(cut.data()), reason.substr(0, 11));
  }
}

// Rows as RGBA: each channel widened by repeating its high bits (200, 100, 50 is 25, 25, 6
// in RGB565, so 206, 101, 49), alpha 0 only for the transparent index. An MZR's transparent
// colour counts while remapping is on and it names an index.
TEST(DecodeColours, RowsAsRgbaWithTheTransparentIndex) {
  BmpPicture spec = PictureOf(3, 1, [](int x, int) { return x == 2 ? 255 : x; });
  spec.palette = {{200, 100, 50}, {255, 255, 255}};  // index 255 is black
  const auto mzr = [&spec](int transparent, bool remapping) {
    return Encode(spec, FileKind::kMzr,
                  {.transparentColor = transparent, .useRemapping = remapping});
  };
  const Bytes opaque{206, 101, 49, 255, 255, 255, 255, 255, 0, 0, 0, 255};
  Bytes clear = opaque;
  clear.back() = 0;
  for (const auto& [file, transparent, rgba] :
       {std::tuple{Encode(spec, FileKind::kRle), 255, clear},
        {mzr(255, true), 255, clear},
        {mzr(256, true), -1, opaque},
        {mzr(255, false), -1, opaque},
        {mzr(1, true), 1, opaque}}) {
    const std::optional<kav_image> image = test::Open(file);
    Bytes row(12);
    ASSERT_EQ(kav_row_rgba8888(&*image, 0, kav_plain_table(&*image), row.data()), 1);
    EXPECT_EQ(kav_transparent_index(&*image), transparent);
    if (transparent != 1) {
      EXPECT_EQ(row, rgba) << transparent;
    }
    EXPECT_EQ(kav_row_rgba8888(&*image, 1, 0, row.data()), 0);
    EXPECT_EQ(kav_row_rgba8888(&*image, 0, image->table_count, row.data()), 0);
  }
}

// A buffer of kColumns x kRows pixels, rows kPitch apart, filled with a canary. Whatever the
// drawing does not touch, the columns past kColumns included, must keep it.
constexpr int kColumns = 320, kRows = 12;
constexpr std::size_t kPitch = 330;

// The buffer after drawing `image` at (x, y): every pixel of every row of kav_row_indices but
// the transparent index, through `colours`, wherever it lands inside the buffer.
template <typename Pixel>
std::vector<Pixel> Reference(const kav_image& image, const std::array<Pixel, 256>& colours,
                             std::int64_t x, std::int64_t y, bool flip, Pixel canary) {
  std::vector<Pixel> buffer(kPitch * kRows, canary);
  Bytes scratch(image.width);
  for (std::uint32_t r = 0; r < image.height; ++r) {
    const std::uint8_t* row = kav_row_indices(&image, r, scratch.data());
    for (std::int64_t c = 0; c < image.width; ++c) {
      const std::int64_t column = x + (flip ? image.width - 1 - c : c), line = y + r;
      if (column >= 0 && column < kColumns && line >= 0 && line < kRows &&
          row[c] != kav_transparent_index(&image)) {
        buffer[static_cast<std::size_t>(line) * kPitch + static_cast<std::size_t>(column)] =
            colours[row[c]];
      }
    }
  }
  return buffer;
}

// Every kind, both pixel formats, two tables and every flag, at places that clip each edge
// and each corner, lie wholly outside (as far as int goes), or show columns on both sides of
// a segment boundary with the first visible one inside a segment.
TEST(DecodeDraw, ClippedDrawingLeavesWhatThePlainReferenceDoes) {
  // Stretches of six: 255, 250 and two of single pixels, shifted by five from row to row, so
  // that every first visible column falls inside each kind of code in some row; row 1 is the
  // marker and row 5 runs of 250 across both segment boundaries.
  const BmpPicture spec = PictureOf(300, 7, [](int x, int y) {
    const int stretch = (x + 5 * y) / 6 % 4;
    return y == 1 || (y != 5 && stretch == 0) ? 255 : y == 5 || stretch == 1 ? 250 : x * 7 % 250;
  });
  const std::vector<Bytes> files{Encode(spec, FileKind::kMzr, {.transparentColor = 255}),
                                 Encode(spec, FileKind::kMzr, {.useRemapping = false}),
                                 Encode(spec, FileKind::kRle), Encode(spec, FileKind::kRls)};
  const int most = std::numeric_limits<int>::max(), least = std::numeric_limits<int>::min();
  const std::vector<std::pair<int, int>> places{
      {10, 2},   {-50, 2},  {100, 2},    {10, -3},  {10, 8},   {-50, -3},
      {100, -3}, {-50, 8},  {100, 8},    {-300, 2}, {320, 2},  {10, -7},
      {10, 12},  {most, 2}, {10, least}, {-140, 2}, {-200, 2}, {-250, 2}};
  for (const Bytes& file : files) {
    const kav_image image = *test::Open(file);
    for (const unsigned table : {kav_plain_table(&image), image.table_count - 1}) {
      std::array<std::uint16_t, 256> rgb{};
      kav_read_table(&image, table, rgb.data());
      std::array<std::uint32_t, 256> rgba{};
      for (std::size_t i = 0; i < rgba.size(); ++i) {
        const unsigned red = rgb[i] >> 11, green = rgb[i] >> 5 & 63, blue = rgb[i] & 31;
        const std::array<std::uint8_t, 4> bytes{static_cast<std::uint8_t>(red << 3 | red >> 2),
                                                static_cast<std::uint8_t>(green << 2 | green >> 4),
                                                static_cast<std::uint8_t>(blue << 3 | blue >> 2),
                                                255};
        std::memcpy(&rgba[i], bytes.data(), 4);
      }
      for (const unsigned flags : {0u, KAV_DRAW_SWAP_BYTES, KAV_DRAW_FLIP_X, 3u}) {
        std::array<std::uint16_t, 256> colours = rgb;
        for (std::uint16_t& colour : colours) {
          colour = flags & KAV_DRAW_SWAP_BYTES
                       ? static_cast<std::uint16_t>(colour << 8 | colour >> 8)
                       : colour;
        }
        const bool flip = (flags & KAV_DRAW_FLIP_X) != 0;
        for (const auto& [x, y] : places) {
          SCOPED_TRACE(testing::Message()
                       << FileKindName(static_cast<FileKind>(image.kind)) << " table " << table
                       << " flags " << flags << " at " << x << ", " << y);
          std::vector<std::uint16_t> screen(kPitch * kRows, 0xA5C3);
          EXPECT_EQ(
              kav_draw_rgb565(&image, table, screen.data(), kPitch, kColumns, kRows, x, y, flags),
              1);
          EXPECT_TRUE(screen == Reference<std::uint16_t>(image, colours, x, y, flip, 0xA5C3));
          std::vector<std::uint32_t> frame(kPitch * kRows, 0xA5C3A5C3);
          EXPECT_EQ(
              kav_draw_rgba8888(&image, table, frame.data(), kPitch, kColumns, kRows, x, y, flags),
              1);
          EXPECT_TRUE(frame == Reference<std::uint32_t>(image, rgba, x, y, flip, 0xA5C3A5C3));
        }
      }
    }
    // No such table, no buffer, no image: nothing drawn.
    std::vector<std::uint16_t> screen(kPitch * kRows, 0xA5C3);
    EXPECT_EQ(
        kav_draw_rgb565(&image, image.table_count, screen.data(), kPitch, kColumns, kRows, 0, 0, 0),
        0);
    EXPECT_EQ(kav_draw_rgb565(&image, 0, nullptr, kPitch, kColumns, kRows, 0, 0, 0), 0);
    EXPECT_TRUE(std::ranges::all_of(screen, [](std::uint16_t p) { return p == 0xA5C3; }));
  }
  kav_image refused;
  kav_open(&refused, "RL", 2, nullptr);
  std::uint32_t pixel = 0;
  EXPECT_EQ(kav_draw_rgba8888(&refused, 0, &pixel, 1, 1, 1, 0, 0, 0), 0);
}

}  // namespace
}  // namespace kav
