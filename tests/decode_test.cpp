// The decoders: round trips through every writer over many generated images, the worked
// examples decoded from their bytes, every kind of damage refused with its reason and
// offset, and a sweep of mutated and truncated files that must never crash the decoders.

#include "formats/decode.h"

#include <gtest/gtest.h>

#include <random>

#include "bmp/bitmap_view.h"
#include "formats/mzr.h"
#include "formats/run_length.h"
#include "platform/byte_source.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::BmpSpec;
using test::MakeBmp;
using test::PictureOf;
using test::StoreLe16Into;
using test::StoreLe32Into;

using Bytes = std::vector<std::uint8_t>;

constexpr std::array<FileKind, 3> kAllKinds{FileKind::kMzr, FileKind::kRle, FileKind::kRls};

RunLengthVariant VariantOf(FileKind kind) {
  return kind == FileKind::kRls ? RunLengthVariant::kRls : RunLengthVariant::kRle;
}

// `spec` as a BMP, read back and encoded by the writer of `kind`.
Bytes Encode(const BmpSpec& spec, FileKind kind, const MzrSettings& settings = {}) {
  const Bytes bmp = MakeBmp(spec);
  MemorySource source(bmp);
  test::RecordingHost host;
  LoadedBitmap bitmap;
  if (ReadBmp8(source, host, bitmap) != kBmpOk) {
    ADD_FAILURE() << "the test BMP cannot be read";
    return {};
  }
  const std::optional<BitmapView> view = ViewBitmap(bitmap);
  if (!view) {
    ADD_FAILURE() << "the test BMP has no view";
    return {};
  }
  if (kind == FileKind::kMzr) {
    VectorSink sink;
    EXPECT_EQ(EncodeMzr(*view, settings, sink), EncodeResult::kOk);
    return std::move(sink.bytes());
  }
  return EncodeRunLength(*view, VariantOf(kind));
}

const DecodedImage& Decoded(const DecodeResult& result) {
  static const DecodedImage kNothing;
  if (const auto* error = std::get_if<DecodeError>(&result)) {
    ADD_FAILURE() << "refused at offset " << error->offset << ": " << error->reason;
    return kNothing;
  }
  return std::get<DecodedImage>(result);
}

// A run-length file put together from its offset entries and codes.
Bytes RunLengthFile(RunLengthVariant variant, std::uint16_t width, std::uint16_t height,
                    const std::vector<std::uint32_t>& entries, const Bytes& codes) {
  Bytes bytes(kRowTablesOffset, 0);
  const std::string_view signature = SignatureOf(variant);
  std::copy(signature.begin(), signature.end(), bytes.begin());
  const auto allRowTablesSize = static_cast<std::uint32_t>(entries.size() * kOffsetEntrySize);
  StoreLe32Into(bytes, kRlDataSizeOffset,
                allRowTablesSize + static_cast<std::uint32_t>(codes.size()));
  StoreLe16Into(bytes, kRlWidthOffset, width);
  StoreLe16Into(bytes, kRlHeightOffset, height);
  StoreLe32Into(bytes, kRowTableSizeOffset, height * 4u);
  StoreLe32Into(bytes, kAllRowTablesSizeOffset, allRowTablesSize);
  StoreLe16Into(bytes, kSegmentCountOffset, static_cast<std::uint16_t>(SegmentCountFor(width)));
  for (const std::uint32_t entry : entries) {
    bytes.resize(bytes.size() + kOffsetEntrySize);
    StoreLe32Into(bytes, bytes.size() - kOffsetEntrySize, entry);
  }
  bytes.insert(bytes.end(), codes.begin(), codes.end());
  return bytes;
}

// The one-row image 300 pixels wide: 130 of 255, 20 of 5, 150 of 255.
Bytes WideRowFile() {
  Bytes codes(28, 5);  // FF 80, FF 02, twenty bytes 05, FF 6A, FF 2C
  for (const std::size_t run : {0u, 2u, 24u, 26u}) {
    codes[run] = 0xFF;
  }
  codes[1] = 0x80;
  codes[3] = 0x02;
  codes[25] = 0x6A;
  codes[27] = 0x2C;
  return RunLengthFile(RunLengthVariant::kRle, 300, 1, {12, 14, 38}, codes);
}

// The 3 x 2 image with rows 1, 255, 255 and 255, 255, 255.
Bytes SmallFile() {
  return RunLengthFile(RunLengthVariant::kRle, 3, 2, {8, 11}, {0x01, 0xFF, 0x02, 0xFF, 0xFF});
}

// `file` with one byte, or a little-endian 16- or 32-bit value, replaced at `offset`.
Bytes WithByte(Bytes file, std::size_t offset, std::uint8_t value) {
  file[offset] = value;
  return file;
}
Bytes WithLe16(Bytes file, std::size_t offset, std::uint16_t value) {
  StoreLe16Into(file, offset, value);
  return file;
}
Bytes WithLe32(Bytes file, std::size_t offset, std::uint32_t value) {
  StoreLe32Into(file, offset, value);
  return file;
}

// Where offset entry number `entry` lies (segment-major, as stored).
constexpr std::size_t EntryAt(std::size_t entry) {
  return kRowTablesOffset + entry * kOffsetEntrySize;
}

// The decoder must refuse `bytes` with exactly this offset and reason, keeping the indices
// or not.
void ExpectRefused(const Bytes& bytes, std::uint64_t offset, const std::string& reason) {
  for (const PixelOutput pixels : {PixelOutput::kKeep, PixelOutput::kCheckOnly}) {
    const DecodeResult result = DecodeFile(bytes, pixels);
    const auto* error = std::get_if<DecodeError>(&result);
    ASSERT_NE(error, nullptr) << "accepted a file that should fail with: " << reason;
    EXPECT_EQ(error->reason, reason);
    EXPECT_EQ(error->offset, offset);
  }
}

// Generated pictures, each a function of (x, y) drawn from a seeded generator.
enum class Content { kAllBlank, kAllShadow, kNoise, kLongRuns, kSprite, kMixedRows };

BmpSpec Generate(Content content, std::int32_t width, std::int32_t height, std::mt19937& random) {
  const auto pick = [&random](std::uint32_t bound) {
    return static_cast<int>(std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(random));
  };
  // 255, 250 or any index, the two run-coded ones much more often than the others.
  const auto anyIndex = [&pick] {
    const int roll = pick(4);
    return roll == 0 ? 255 : roll == 1 ? 250 : pick(256);
  };
  switch (content) {
    case Content::kAllBlank:
      return PictureOf(width, height, [](int, int) { return 255; });
    case Content::kAllShadow:
      return PictureOf(width, height, [](int, int) { return 250; });
    case Content::kNoise:
      return PictureOf(width, height, [&](int, int) { return anyIndex(); });
    case Content::kLongRuns: {
      // Runs of 1 to 400 pixels that go on from row to row and cross segment boundaries.
      int left = 0;
      int index = 0;
      return PictureOf(width, height, [&](int, int) {
        if (left == 0) {
          left = 1 + pick(400);
          index = anyIndex();
        }
        --left;
        return index;
      });
    }
    case Content::kSprite:
      // An ellipse of colours on a background of 255, with a shadow of 250 beside it.
      return PictureOf(width, height, [&](int x, int y) {
        const double dx = (x - width / 2.0) / (width / 2.0 + 0.5);
        const double dy = (y - height / 2.0) / (height / 2.0 + 0.5);
        if (dx * dx + dy * dy < 0.6) {
          return 16 + (x * 3 + y) % 200;
        }
        return (dx - 0.2) * (dx - 0.2) + dy * dy < 0.6 ? 250 : 255;
      });
    case Content::kMixedRows:
      break;
  }
  // Whole rows of 255 (the row marker), of 250, of 255 but the last pixel, and of noise.
  return PictureOf(width, height, [&](int x, int y) {
    const int rowKind = y % 4;
    if (rowKind == 3) {
      return pick(256);
    }
    return rowKind == 1 ? 250 : rowKind == 2 && x == width - 1 ? 7 : 255;
  });
}

TEST(DecodeRoundTrip, EveryFormatGivesBackEveryIndexOfManyImages) {
  std::mt19937 random(20240611);
  const std::array<std::int32_t, 10> widths{1, 2, 127, 128, 129, 255, 256, 257, 300, 3};
  const std::array<Content, 6> contents{Content::kAllBlank, Content::kAllShadow,
                                        Content::kNoise,    Content::kLongRuns,
                                        Content::kSprite,   Content::kMixedRows};
  int cases = 0;
  for (const std::int32_t width : widths) {
    for (const Content content : contents) {
      for (const bool topDown : {false, true}) {
        const std::int32_t rows =
            cases % 7 == 0 ? 1 : std::uniform_int_distribution<std::int32_t>(1, 40)(random);
        BmpSpec spec = Generate(content, width, rows, random);
        if (topDown) {
          spec.height = -rows;
        }
        for (const FileKind kind : kAllKinds) {
          SCOPED_TRACE(testing::Message()
                       << FileKindName(kind) << " " << width << " x " << rows << " content "
                       << static_cast<int>(content) << (topDown ? " top-down" : " bottom-up"));
          const Bytes file = Encode(spec, kind);
          EXPECT_EQ(DetectFileKind(file), kind);
          const DecodeResult result = DecodeFile(file);
          const DecodedImage& image = Decoded(result);
          EXPECT_EQ(image.kind, kind);
          EXPECT_EQ(image.width, width);
          EXPECT_EQ(image.height, rows);
          ASSERT_EQ(image.indices, spec.pixels);
          ++cases;
        }
      }
    }
  }
  EXPECT_EQ(cases, 360);
}

TEST(DecodeRoundTrip, HeaderFieldsAndTablesComeBack) {
  const BmpSpec spec = PictureOf(5, 3, [](int x, int y) { return x * 40 + y; });
  const std::vector<test::Rgb> palette = test::DefaultPalette();

  const MzrSettings settings{
      .useRemapping = false, .startColor = 300, .endColor = 17, .transparentColor = -1};
  const DecodeResult mzrResult = DecodeFile(Encode(spec, FileKind::kMzr, settings));
  const DecodedImage& mzr = Decoded(mzrResult);
  ASSERT_TRUE(mzr.mzr.has_value());
  EXPECT_FALSE(mzr.runLength.has_value());
  EXPECT_FALSE(mzr.mzr->useRemapping);
  EXPECT_EQ(mzr.mzr->startColor, 0x012C);
  EXPECT_EQ(mzr.mzr->endColor, 17);
  EXPECT_EQ(mzr.mzr->transparentColor, 0xFFFF);
  ASSERT_EQ(mzr.tables.size(), 32u);
  for (std::size_t i = 0; i < kColourTableEntries; ++i) {
    // Table 4 is the palette at its own brightness.
    EXPECT_EQ(mzr.tables[4][i], PackRgb565(palette[i].red, palette[i].green, palette[i].blue));
  }
  EXPECT_EQ(mzr.Row(2).size(), 5u);
  EXPECT_EQ(mzr.Row(2)[4], 4 * 40 + 2);
  EXPECT_TRUE(mzr.Row(3).empty());

  for (const FileKind kind : {FileKind::kRle, FileKind::kRls}) {
    const Bytes file = Encode(spec, kind);
    const DecodeResult result = DecodeFile(file);
    const DecodedImage& image = Decoded(result);
    ASSERT_TRUE(image.runLength.has_value());
    EXPECT_FALSE(image.mzr.has_value());
    EXPECT_EQ(image.runLength->dataSize, file.size() - kRowTablesOffset);
    EXPECT_EQ(image.runLength->rowTableSize, 12u);
    EXPECT_EQ(image.runLength->allRowTablesSize, 12u);
    EXPECT_EQ(image.runLength->segmentCount, 1u);
    EXPECT_EQ(image.runLength->rowOffsets, (std::vector<std::uint32_t>{12, 17, 22}));
    ASSERT_EQ(image.tables.size(), 8u);
    for (std::size_t i = 0; i < kColourTableEntries; ++i) {
      EXPECT_EQ(image.tables[0][i], PackRgb565(palette[i].red, palette[i].green, palette[i].blue));
    }
    // Checking without the indices finds the same fields.
    const DecodeResult checked = DecodeFile(file, PixelOutput::kCheckOnly);
    const DecodedImage& summary = Decoded(checked);
    EXPECT_TRUE(summary.indices.empty());
    EXPECT_EQ(summary.runLength->rowOffsets, image.runLength->rowOffsets);
  }
}

TEST(DecodeRoundTrip, RowPaddingNeverChangesTheFileOrTheIndices) {
  for (const std::int32_t width : {1, 2, 3, 129, 130, 131, 257}) {
    BmpSpec spec = PictureOf(width, 4, [](int x, int y) {
      return y == 0 ? 255 : y == 1 ? 250 : (x + y) % 3 == 0 ? 255 : x % 256;
    });
    for (const FileKind kind : kAllKinds) {
      spec.paddingByte = 0;
      const Bytes plain = Encode(spec, kind);
      for (const std::uint8_t padding : {std::uint8_t{255}, std::uint8_t{250}, std::uint8_t{9}}) {
        SCOPED_TRACE(testing::Message()
                     << FileKindName(kind) << " width " << width << " padding " << int{padding});
        spec.paddingByte = padding;
        const Bytes padded = Encode(spec, kind);
        EXPECT_EQ(padded, plain);
        const DecodeResult result = DecodeFile(padded);
        EXPECT_EQ(Decoded(result).indices, spec.pixels);
      }
    }
  }
}

TEST(DecodeRunLength, WorkedExamplesDecodeFromTheirBytes) {
  const DecodeResult small = DecodeFile(SmallFile());
  EXPECT_EQ(Decoded(small).indices, (Bytes{1, 255, 255, 255, 255, 255}));
  EXPECT_EQ(SmallFile().size(), 4131u);

  const Bytes rleCodes{0x07, 0xFA, 0xFA, 0xFF, 0x01, 0xFF, 0x01, 0xFA, 0x09, 0xFF, 0x01};
  const Bytes rlsCodes{0x07, 0xFA, 0x02, 0xFF, 0x01, 0xFF, 0x01, 0xFA, 0x01, 0x09, 0xFF, 0x01};
  const Bytes expected{7, 250, 250, 255, 255, 250, 9, 255};
  const DecodeResult rle =
      DecodeFile(RunLengthFile(RunLengthVariant::kRle, 4, 2, {8, 13}, rleCodes));
  EXPECT_EQ(Decoded(rle).kind, FileKind::kRle);
  EXPECT_EQ(Decoded(rle).indices, expected);
  const DecodeResult rls =
      DecodeFile(RunLengthFile(RunLengthVariant::kRls, 4, 2, {8, 13}, rlsCodes));
  EXPECT_EQ(Decoded(rls).kind, FileKind::kRls);
  EXPECT_EQ(Decoded(rls).indices, expected);

  const DecodeResult wide = DecodeFile(WideRowFile());
  Bytes row(300, 255);
  std::fill_n(row.begin() + 130, 20, 5);
  EXPECT_EQ(Decoded(wide).indices, row);
}

TEST(DecodeRunLength, RefusesDamagedSizes) {
  Bytes file = WideRowFile();  // 4158 bytes, dataSize 40
  file.pop_back();
  ExpectRefused(file, 4157,
                "the file ends after 4157 bytes, but dataSize 40 gives a length of 4158 "
                "(4118 + dataSize)");
  file = WideRowFile();
  file.push_back(0);
  ExpectRefused(file, 4158,
                "the file is 4159 bytes long, but dataSize 40 gives a length of 4158 "
                "(4118 + dataSize)");
  ExpectRefused(Bytes(kRowTablesOffset - 1, 'R'), 0,
                "not an MZR, RLE or RLS file: it begins with neither \"KAV8BMP\" nor \"RL\" nor "
                "\"RS\"");
  ExpectRefused(WithLe16(Bytes(100, 0), 0, 'R' | 'S' << 8), 100,
                "the file ends after 100 bytes, inside the 4118-byte header");

  ExpectRefused(WithLe16(WideRowFile(), kRlWidthOffset, 0), kRlWidthOffset, "the width is 0");
  ExpectRefused(WithLe16(WideRowFile(), kRlHeightOffset, 0), kRlHeightOffset, "the height is 0");
  ExpectRefused(WithLe32(WideRowFile(), kRowTableSizeOffset, 8), kRowTableSizeOffset,
                "rowTableSize is 8, but a height of 1 needs 4 (height x 4)");
  ExpectRefused(WithLe16(WideRowFile(), kSegmentCountOffset, 0xFFFD), kSegmentCountOffset,
                "segmentCount is -3, but a width of 300 needs 3 segments of 128 columns");
  // Still 3 segments, but the row no longer fits.
  ExpectRefused(WithLe16(WideRowFile(), kRlWidthOffset, 257), 4156,
                "run of 44 pixels of index 255 at column 256 of row 0 goes past "
                "the row's end (width 257)");
  ExpectRefused(WithLe32(WideRowFile(), kAllRowTablesSizeOffset, 16), kAllRowTablesSizeOffset,
                "allRowTablesSize is 16, not segmentCount x rowTableSize = 12");
  // Consistent sizes, but no room for a single code.
  ExpectRefused(RunLengthFile(RunLengthVariant::kRle, 3, 1, {4}, {}), kRlDataSizeOffset,
                "dataSize 4 leaves no room for coded rows after the 4 bytes of offset tables");
}

TEST(DecodeRunLength, RefusesTheLargestImageInATinyFileBeforeAllocating) {
  Bytes file = RunLengthFile(RunLengthVariant::kRle, 65535, 65535, {}, {0xFF, 0xFF});
  StoreLe32Into(file, kRowTableSizeOffset, 65535u * 4);
  StoreLe32Into(file, kAllRowTablesSizeOffset, 512u * 65535u * 4);
  StoreLe32Into(file, kRlDataSizeOffset, 512u * 65535u * 4 + 2 * 65535);
  ExpectRefused(file, 4120,
                "the file ends after 4120 bytes, but dataSize 134346750 gives a length of "
                "134350868 (4118 + dataSize)");

  Bytes mzr(kMzrRowsOffset, 0);
  std::copy(kMzrMagic.begin(), kMzrMagic.end(), mzr.begin());
  StoreLe16Into(mzr, kMzrWidthOffset, 65535);
  StoreLe16Into(mzr, kMzrHeightOffset, 65535);
  ExpectRefused(mzr, kMzrRowsOffset,
                "the file ends after 16404 bytes, but a 65535 x 65535 image needs 4294852629 "
                "(16404 + width x height)");
}

TEST(DecodeRunLength, RefusesOffsetEntriesThatMissTheirCode) {
  ExpectRefused(WithLe32(WideRowFile(), EntryAt(1), 4200), EntryAt(1),
                "offset entry for segment 1 of row 0 is 4200, outside the coded rows (12 to 39)");
  ExpectRefused(WithLe32(WideRowFile(), EntryAt(1), 15), EntryAt(1),
                "offset entry for segment 1 of row 0 is 15, but the code of column 128 begins "
                "at 14 (file offset 4132)");
  ExpectRefused(WithLe32(WideRowFile(), EntryAt(2), 36), EntryAt(2),
                "offset entry for segment 2 of row 0 is 36, but the code of column 256 begins "
                "at 38 (file offset 4156)");
  ExpectRefused(WithLe32(SmallFile(), EntryAt(0), 9), EntryAt(0),
                "offset entry for segment 0 of row 0 is 9, but the coded rows begin at 8 (file "
                "offset 4126)");
  ExpectRefused(WithLe32(SmallFile(), EntryAt(1), 10), EntryAt(1),
                "offset entry for segment 0 of row 1 is 10, but the code of row 0 ends at 11 (file "
                "offset 4129)");

  // Rows of 255 in two segments: both entries of a row point at its marker.
  const Bytes blank = Encode(PictureOf(200, 2, [](int, int) { return 255; }), FileKind::kRle);
  ASSERT_EQ(blank.size(), EntryAt(4) + 4);
  ExpectRefused(WithLe32(blank, EntryAt(3), 19), EntryAt(3),
                "offset entry for segment 1 of row 1 is 19, but the row is coded as the 255, 255 "
                "marker at 18 (file offset 4136)");
}

TEST(DecodeRunLength, RefusesBadRuns) {
  const std::size_t codes = EntryAt(3);  // where the wide row's codes begin
  ExpectRefused(WithByte(WideRowFile(), codes + 3, 0), codes + 3,
                "run count 0 of index 255 at column 128 of row 0 is not 1 to 128");
  ExpectRefused(WithByte(WideRowFile(), codes + 1, 129), codes + 1,
                "run count 129 of index 255 at column 0 of row 0 is not 1 to 128");
  // The next run, 2 long, now starts at column 127.
  ExpectRefused(WithByte(WideRowFile(), codes + 1, 127), codes + 2,
                "run of 2 pixels of index 255 at column 127 of row 0 crosses the segment "
                "boundary at column 128");
  ExpectRefused(WithByte(WideRowFile(), codes + 27, 45), codes + 26,
                "run of 45 pixels of index 255 at column 256 of row 0 goes past the row's end "
                "(width 300)");
  // 255, 255 marks a whole row only at the start of a row.
  ExpectRefused(WithByte(SmallFile(), EntryAt(2) + 2, 0xFF), EntryAt(2) + 2,
                "run count 255 of index 255 at column 1 of row 0 is not 1 to 128 (255, 255 marks "
                "a row of 255 only at the row's start)");

  // The RLE codes read as RLS: 250 is run-coded there, so its second byte is a count.
  const Bytes rleCodes{0x07, 0xFA, 0xFA, 0xFF, 0x01, 0xFF, 0x01, 0xFA, 0x09, 0xFF, 0x01};
  ExpectRefused(RunLengthFile(RunLengthVariant::kRls, 4, 2, {8, 13}, rleCodes),
                kRowTablesOffset + 8 + 2,
                "run count 250 of index 250 at column 1 of row 0 is not 1 to 128");
  // A run of 250 in RLE, where 250 is a single pixel: its count becomes a pixel too and the
  // row is left short.
  ExpectRefused(RunLengthFile(RunLengthVariant::kRle, 4, 1, {4}, {0xFA, 0x04}), 4124,
                "the coded rows end inside row 0, after 2 of its 4 pixels");
  // A run with no count byte at the very end.
  ExpectRefused(RunLengthFile(RunLengthVariant::kRle, 2, 1, {4}, {0x01, 0xFF}), 4124,
                "the coded rows end inside row 0, after 1 of its 2 pixels");
}

TEST(DecodeRunLength, RefusesSignaturesAndUnusedCodes) {
  ExpectRefused(WithByte(SmallFile(), 1, 'X'), 0,
                "not an MZR, RLE or RLS file: it begins with neither \"KAV8BMP\" nor \"RL\" nor "
                "\"RS\"");
  const DecodeResult asRls = DecodeRunLength(SmallFile(), RunLengthVariant::kRls);
  ASSERT_TRUE(std::holds_alternative<DecodeError>(asRls));
  EXPECT_EQ(std::get<DecodeError>(asRls).reason,
            "the signature bytes are 52 4C, not \"RS\" (52 53)");

  // Two bytes of code after the last row, counted in dataSize.
  ExpectRefused(RunLengthFile(RunLengthVariant::kRle, 3, 2, {8, 11}, {1, 255, 2, 255, 255, 3, 4}),
                4131,
                "the code of the last row ends at file offset 4131, but the coded rows go on to "
                "4133 (4118 + dataSize)");
}

TEST(DecodeMzr, RefusesDamagedFiles) {
  const BmpSpec spec = PictureOf(3, 2, [](int x, int y) { return x + 3 * y; });
  const Bytes good = Encode(spec, FileKind::kMzr);
  ASSERT_EQ(good.size(), kMzrRowsOffset + 6);

  Bytes file = good;
  file.pop_back();
  ExpectRefused(file, kMzrRowsOffset + 5,
                "the file ends after 16409 bytes, but a 3 x 2 image needs 16410 (16404 + width x "
                "height)");
  file = good;
  file.push_back(0);
  ExpectRefused(file, kMzrRowsOffset + 6,
                "the file is 16411 bytes long, but a 3 x 2 image ends at 16410 (16404 + width x "
                "height)");
  ExpectRefused(Bytes(good.begin(), good.begin() + 12), 12,
                "the file ends after 12 bytes, inside the 20-byte MZR header");
  ExpectRefused(WithByte(good, 7, 'A'), 7,
                "magic byte 7 is 0x41, not 0x00: an MZR file begins with \"KAV8BMP\" and a zero "
                "byte");
  ExpectRefused(WithByte(good, kMzrRemappingOffset, 2), kMzrRemappingOffset,
                "the remapping flag is 2, not 0 or 1");
  ExpectRefused(WithByte(good, kMzrReservedOffset, 1), kMzrReservedOffset,
                "the reserved byte is 1, not 0");

  const DecodeResult direct = DecodeMzr(SmallFile());
  ASSERT_TRUE(std::holds_alternative<DecodeError>(direct));
  EXPECT_EQ(std::get<DecodeError>(direct).offset, 0u);

  // An empty image is a whole file of header and tables.
  const DecodeResult empty =
      DecodeFile(Encode(PictureOf(0, 0, [](int, int) { return 0; }), FileKind::kMzr));
  EXPECT_TRUE(Decoded(empty).indices.empty());
}

// What a decoder must say about a file with one byte changed.
enum class ByteRole { kIgnored, kStructure, kPixels };

ByteRole RoleOf(FileKind kind, std::size_t offset, std::size_t allRowTablesSize) {
  if (kind == FileKind::kMzr) {
    if (offset >= kMzrRowsOffset) {
      return ByteRole::kPixels;
    }
    // The tables and the colour settings are data, not structure.
    const bool settings = offset >= kMzrStartColorOffset && offset < kMzrHeaderSize;
    const bool tables = offset >= kMzrTablesOffset;
    return settings || tables ? ByteRole::kIgnored : ByteRole::kStructure;
  }
  if (offset >= kRowTablesOffset + allRowTablesSize) {
    return ByteRole::kPixels;
  }
  const bool tables = offset >= kEffectTablesOffset && offset < kRowTableSizeOffset;
  const bool padding = offset >= kRlPaddingOffset && offset < kRowTablesOffset;
  return tables || padding ? ByteRole::kIgnored : ByteRole::kStructure;
}

void ExpectSoundResult(const DecodeResult& result, std::size_t length,
                       PixelOutput pixels = PixelOutput::kKeep) {
  if (const auto* error = std::get_if<DecodeError>(&result)) {
    EXPECT_LE(error->offset, length);
    EXPECT_FALSE(error->reason.empty());
  } else {
    const DecodedImage& image = std::get<DecodedImage>(result);
    const std::size_t kept =
        pixels == PixelOutput::kKeep ? std::size_t{image.width} * image.height : 0;
    EXPECT_EQ(image.indices.size(), kept);
  }
}

TEST(DecodeSweep, EveryChangedOrTruncatedByteIsHandled) {
  // Two segments, runs across the boundary, a marker row, a row of 250 and noise.
  const BmpSpec spec = PictureOf(131, 4, [](int x, int y) {
    switch (y) {
      case 0:
        return x < 120 || x > 125 ? 255 : x;
      case 1:
        return 255;
      case 2:
        return 250;
      default:
        return (x * 37) % 256;
    }
  });
  for (const FileKind kind : kAllKinds) {
    SCOPED_TRACE(FileKindName(kind));
    const Bytes good = Encode(spec, kind);
    const DecodeResult original = DecodeFile(good);
    const DecodedImage& source = Decoded(original);
    ASSERT_EQ(source.indices, spec.pixels);
    const std::size_t allRowTablesSize = source.runLength ? source.runLength->allRowTablesSize : 0;

    for (std::size_t length = 0; length < good.size(); ++length) {
      const DecodeResult result = DecodeFile(std::span(good).first(length));
      ASSERT_TRUE(std::holds_alternative<DecodeError>(result)) << "accepted at length " << length;
      EXPECT_LE(std::get<DecodeError>(result).offset, length);
    }

    Bytes file = good;
    for (std::size_t offset = 0; offset < file.size(); ++offset) {
      const ByteRole role = RoleOf(kind, offset, allRowTablesSize);
      if (role == ByteRole::kIgnored && offset % 97 != 0) {
        continue;  // the colour tables: a sample is enough
      }
      const std::uint8_t was = file[offset];
      for (const std::uint8_t value :
           {std::uint8_t(was ^ 0x01), std::uint8_t(was ^ 0x80), std::uint8_t(was ^ 0xFF),
            std::uint8_t{0}, std::uint8_t{128}, std::uint8_t{129}, std::uint8_t{250}}) {
        if (value == was ||
            (kind == FileKind::kMzr && offset == kMzrRemappingOffset && value <= 1)) {
          continue;
        }
        file[offset] = value;
        const DecodeResult result = DecodeFile(file);
        ExpectSoundResult(result, file.size());
        const auto* image = std::get_if<DecodedImage>(&result);
        if (role == ByteRole::kStructure) {
          EXPECT_EQ(image, nullptr) << "accepted byte " << offset << " changed to " << int{value};
        } else if (role == ByteRole::kIgnored) {
          ASSERT_NE(image, nullptr) << "refused byte " << offset << " changed to " << int{value};
          EXPECT_EQ(image->indices, source.indices);
        } else if (image != nullptr) {
          EXPECT_NE(image->indices, source.indices) << "byte " << offset << " lost";
        }
      }
      file[offset] = was;
    }
  }
}

TEST(DecodeSweep, RandomDamageToTheCodedRowsIsHandled) {
  const BmpSpec spec = PictureOf(260, 6, [](int x, int y) {
    return (x / 7 + y) % 3 == 0 ? 255 : (x / 5) % 4 == 0 ? 250 : x % 256;
  });
  std::mt19937 random(7);
  for (const FileKind kind : {FileKind::kRle, FileKind::kRls}) {
    const Bytes good = Encode(spec, kind);
    std::uniform_int_distribution<std::size_t> position(kRowTablesOffset, good.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 3000; ++round) {
      Bytes file = good;
      for (int changes = 1 + round % 4; changes > 0; --changes) {
        file[position(random)] = static_cast<std::uint8_t>(byte(random));
      }
      ExpectSoundResult(DecodeFile(file), file.size());
      ExpectSoundResult(DecodeFile(file, PixelOutput::kCheckOnly), file.size(),
                        PixelOutput::kCheckOnly);
    }
  }
}

}  // namespace
}  // namespace kav
