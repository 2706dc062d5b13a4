// The decoders: round trips through every writer over many generated pictures, storage details
// that must never change a file, and every kind of damage refused with its reason and offset.
// Arbitrary bytes are left to the fuzz targets.

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

constexpr std::array<FileKind, 3> kAllKinds{FileKind::kMzr, FileKind::kRle, FileKind::kRls};

const DecodedImage& Decoded(const DecodeResult& result) {
  static const DecodedImage kNothing;
  if (const auto* error = std::get_if<DecodeError>(&result)) {
    ADD_FAILURE() << "refused at offset " << error->offset << ": " << error->reason;
    return kNothing;
  }
  return std::get<DecodedImage>(result);
}

// Runs of 1 to 400 pixels of 255, 250 or any index that go on from row to row and cross
// segment boundaries; every fourth row is instead all 255 (the row marker), all 250, or 255
// but its last pixel.
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
    return index;
  });
}

TEST(DecodeRoundTrip, EveryFormatGivesBackEveryIndexOfManyImages) {
  std::mt19937 random(20240611);
  int cases = 0;
  for (const std::int32_t width : {1, 2, 3, 127, 128, 129, 255, 256, 257, 300, 12801}) {
    for (const std::int32_t rows : {1, 13, 40}) {
      BmpSpec spec = Generate(width, rows, random);
      spec.height = rows == 13 ? -rows : rows;  // and one stored top row first
      for (const FileKind kind : kAllKinds) {
        SCOPED_TRACE(testing::Message() << FileKindName(kind) << " " << width << " x " << rows);
        const Bytes file = Encode(spec, kind);
        EXPECT_EQ(DetectFileKind(file), kind);
        const DecodeResult result = DecodeFile(file);
        const DecodedImage& image = Decoded(result);
        EXPECT_EQ(image.kind, kind);
        EXPECT_EQ(image.width, width);
        EXPECT_EQ(image.height, rows);
        ASSERT_EQ(image.indices, spec.pixels);
        // Checking without the indices gives the same verdict.
        EXPECT_TRUE(
            std::holds_alternative<DecodedImage>(DecodeFile(file, PixelOutput::kCheckOnly)));
        ++cases;
      }
    }
  }
  EXPECT_EQ(cases, 99);
}

TEST(DecodeRoundTrip, RowsCodedInBandsKeepTheirOrder) {
  // Rows are coded a band at a time in storage order; these pictures span several bands, the
  // last one partial, stored either way up.
  std::mt19937 random(20261206);
  for (const auto& [width, rows] : {std::pair{1, 700}, {1500, 400}, {65535, 9}}) {
    const BmpSpec bottomUp = Generate(width, rows, random);
    BmpSpec topDown = bottomUp;
    topDown.height = -rows;
    for (const FileKind kind : {FileKind::kRle, FileKind::kRls}) {
      SCOPED_TRACE(testing::Message() << FileKindName(kind) << " " << width << " x " << rows);
      const Bytes file = Encode(bottomUp, kind);
      EXPECT_EQ(Decoded(DecodeFile(file)).indices, bottomUp.pixels);
      EXPECT_EQ(Encode(topDown, kind), file);
    }
  }
}

TEST(DecodeRoundTrip, StorageDetailsNeverChangeTheFile) {
  // Row padding, the order of the stored rows and the palette's fourth bytes; rows that end in
  // a run-coded index must stop there even when the padding continues the run.
  for (const std::int32_t width : {1, 2, 3, 5, 127, 129, 130, 131}) {
    for (const int last : {255, 250, 4}) {
      const BmpSpec plain = PictureOf(width, 4, [&](int x, int y) {
        return x == width - 1 ? last : y == 0 ? 255 : y == 1 ? 250 : (x + y) % 3 == 0 ? 255 : x;
      });
      for (const FileKind kind : kAllKinds) {
        SCOPED_TRACE(testing::Message()
                     << FileKindName(kind) << " width " << width << " last " << last);
        const Bytes expected = Encode(plain, kind);
        EXPECT_EQ(Decoded(DecodeFile(expected)).indices, plain.pixels);
        for (const int padding : {255, 250, 9}) {
          BmpSpec padded = plain;
          padded.paddingByte = static_cast<std::uint8_t>(padding);
          EXPECT_EQ(Encode(padded, kind), expected) << "padding " << padding;
        }
        BmpSpec topDown = plain;
        topDown.height = -4;
        topDown.reservedByte = 0x5A;
        EXPECT_EQ(Encode(topDown, kind), expected) << "top-down, reserved bytes 0x5A";
      }
    }
  }
}

// A run-length file put together from its offset entries and codes.
Bytes RunLengthFile(RunLengthVariant variant, std::uint16_t width, std::uint16_t height,
                    const std::vector<std::uint32_t>& entries, const Bytes& codes) {
  Bytes bytes(kRowTablesOffset, 0);
  const std::string_view signature = SignatureOf(variant);
  std::copy(signature.begin(), signature.end(), bytes.begin());
  const auto allRowTablesSize = static_cast<std::uint32_t>(entries.size() * kOffsetEntrySize);
  test::StoreLe32Into(bytes, kRlDataSizeOffset,
                      allRowTablesSize + static_cast<std::uint32_t>(codes.size()));
  test::StoreLe16Into(bytes, kRlWidthOffset, width);
  test::StoreLe16Into(bytes, kRlHeightOffset, height);
  test::StoreLe32Into(bytes, kRowTableSizeOffset, height * 4u);
  test::StoreLe32Into(bytes, kAllRowTablesSizeOffset, allRowTablesSize);
  test::StoreLe16Into(bytes, kSegmentCountOffset,
                      static_cast<std::uint16_t>(SegmentCountFor(width)));
  for (const std::uint32_t entry : entries) {
    bytes.resize(bytes.size() + kOffsetEntrySize);
    test::StoreLe32Into(bytes, bytes.size() - kOffsetEntrySize, entry);
  }
  bytes.insert(bytes.end(), codes.begin(), codes.end());
  return bytes;
}

// The worked examples (their bytes are checked in run_length_test.cpp): one row 300 pixels
// wide, 130 of 255, 20 of 5, 150 of 255; and 3 x 2 with rows 1, 255, 255 and 255, 255, 255.
Bytes WideRowFile() {
  return Encode(PictureOf(300, 1, [](int x, int) { return x >= 130 && x < 150 ? 5 : 255; }),
                FileKind::kRle);
}
Bytes SmallFile() {
  return Encode(PictureOf(3, 2, [](int x, int y) { return x + y == 0 ? 1 : 255; }), FileKind::kRle);
}

// `file` with `size` bytes at `offset` replaced by `value`, little-endian, or cut to `size`
// bytes.
Bytes With(Bytes file, std::size_t offset, std::size_t size, std::uint32_t value) {
  for (std::size_t i = 0; i < size; ++i) {
    file.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
  }
  return file;
}
Bytes Resized(Bytes file, std::size_t size) {
  file.resize(size);
  return file;
}

// Where offset entry number `entry` lies (segment-major, as stored).
constexpr std::size_t EntryAt(std::size_t entry) {
  return kRowTablesOffset + entry * kOffsetEntrySize;
}

struct Damage {
  Bytes file;
  std::uint64_t offset;
  std::string reason;
};

// Each file must be refused with exactly this offset and reason, keeping the indices or not.
void ExpectRefused(const std::vector<Damage>& damages) {
  for (const Damage& damage : damages) {
    for (const PixelOutput pixels : {PixelOutput::kKeep, PixelOutput::kCheckOnly}) {
      const DecodeResult result = DecodeFile(damage.file, pixels);
      const auto* error = std::get_if<DecodeError>(&result);
      ASSERT_NE(error, nullptr) << "accepted a file with: " << damage.reason;
      EXPECT_EQ(error->reason, damage.reason);
      EXPECT_EQ(error->offset, damage.offset) << damage.reason;
    }
  }
}

const std::string kNotOurs =
    "not an MZR, RLE or RLS file: it begins with neither \"KAV8BMP\" nor \"RL\" nor \"RS\"";

TEST(DecodeRunLength, RefusesDamagedHeaders) {
  const Bytes wide = WideRowFile();  // 4158 bytes, dataSize 40
  ExpectRefused({
      {Resized(wide, 4157), 4157,
       "the file ends after 4157 bytes, but dataSize 40 gives a length of 4158 (4118 + dataSize)"},
      {Resized(wide, 4159), 4158,
       "the file is 4159 bytes long, but dataSize 40 gives a length of 4158 (4118 + dataSize)"},
      {With(SmallFile(), 1, 1, 'X'), 0, kNotOurs},
      {With(Bytes(100, 0), 0, 2, 'R' | 'S' << 8), 100,
       "the file ends after 100 bytes, inside the 4118-byte header"},
      {With(wide, kRlWidthOffset, 2, 0), kRlWidthOffset, "the width is 0"},
      {With(wide, kRlHeightOffset, 2, 0), kRlHeightOffset, "the height is 0"},
      {With(wide, kRowTableSizeOffset, 4, 8), kRowTableSizeOffset,
       "rowTableSize is 8, but a height of 1 needs 4 (height x 4)"},
      {With(wide, kSegmentCountOffset, 2, 0xFFFD), kSegmentCountOffset,
       "segmentCount is -3, but a width of 300 needs 3 segments of 128 columns"},
      {With(wide, kAllRowTablesSizeOffset, 4, 16), kAllRowTablesSizeOffset,
       "allRowTablesSize is 16, not segmentCount x rowTableSize = 12"},
      {RunLengthFile(RunLengthVariant::kRle, 3, 1, {4}, {}), kRlDataSizeOffset,
       "dataSize 4 leaves no room for coded rows after the 4 bytes of offset tables"},
  });
  const DecodeResult asRls = DecodeRunLength(SmallFile(), RunLengthVariant::kRls);
  ASSERT_TRUE(std::holds_alternative<DecodeError>(asRls));
  EXPECT_EQ(std::get<DecodeError>(asRls).reason,
            "the signature bytes are 52 4C, not \"RS\" (52 53)");
}

TEST(DecodeRunLength, RefusesOffsetEntriesThatMissTheirCode) {
  // Rows of 255 in two segments: both entries of a row point at its marker.
  const Bytes blank = Encode(PictureOf(200, 2, [](int, int) { return 255; }), FileKind::kRle);
  ExpectRefused({
      {With(WideRowFile(), EntryAt(1), 4, 4200), EntryAt(1),
       "offset entry for segment 1 of row 0 is 4200, outside the coded rows (12 to 39)"},
      {With(WideRowFile(), EntryAt(1), 4, 15), EntryAt(1),
       "offset entry for segment 1 of row 0 is 15, but the code of column 128 begins at 14 (file "
       "offset 4132)"},
      {With(SmallFile(), EntryAt(1), 4, 10), EntryAt(1),
       "offset entry for segment 0 of row 1 is 10, but the code of row 0 ends at 11 (file offset "
       "4129)"},
      {With(blank, EntryAt(3), 4, 19), EntryAt(3),
       "offset entry for segment 1 of row 1 is 19, but the row is coded as the 255, 255 marker at "
       "18 (file offset 4136)"},
  });
}

TEST(DecodeRunLength, RefusesBadRuns) {
  const std::size_t codes = EntryAt(3);  // where the wide row's codes begin
  ExpectRefused({
      {With(WideRowFile(), codes + 3, 1, 0), codes + 3,
       "run count 0 of index 255 at column 128 of row 0 is not 1 to 128"},
      {With(WideRowFile(), codes + 1, 1, 129), codes + 1,
       "run count 129 of index 255 at column 0 of row 0 is not 1 to 128"},
      // The next run, 2 long, now starts at column 127.
      {With(WideRowFile(), codes + 1, 1, 127), codes + 2,
       "run of 2 pixels of index 255 at column 127 of row 0 crosses the segment boundary at "
       "column 128"},
      {With(WideRowFile(), codes + 27, 1, 45), codes + 26,
       "run of 45 pixels of index 255 at column 256 of row 0 goes past the row's end (width 300)"},
      // 255, 255 marks a whole row only at the start of a row.
      {With(SmallFile(), EntryAt(2) + 2, 1, 0xFF), EntryAt(2) + 2,
       "run count 255 of index 255 at column 1 of row 0 is not 1 to 128 (255, 255 marks a row "
       "of 255 only at the row's start)"},
      // A run of 250 in RLE is two single pixels, which leaves the row short.
      {RunLengthFile(RunLengthVariant::kRle, 4, 1, {4}, {0xFA, 0x04}), 4124,
       "the coded rows end inside row 0, after 2 of its 4 pixels"},
      {RunLengthFile(RunLengthVariant::kRle, 2, 1, {4}, {0x01, 0xFF}), 4124,
       "the coded rows end inside row 0, after 1 of its 2 pixels"},
      {RunLengthFile(RunLengthVariant::kRle, 3, 2, {8, 11}, {1, 255, 2, 255, 255, 3, 4}), 4131,
       "the code of the last row ends at file offset 4131, but the coded rows go on to 4133 "
       "(4118 + dataSize)"},
  });
}

TEST(DecodeMzr, RefusesDamagedFiles) {
  const Bytes good =
      Encode(PictureOf(3, 2, [](int x, int y) { return x + 3 * y; }), FileKind::kMzr);
  ASSERT_EQ(good.size(), kMzrRowsOffset + 6);
  ExpectRefused({
      {Resized(good, kMzrRowsOffset + 5), kMzrRowsOffset + 5,
       "the file ends after 16409 bytes, but a 3 x 2 image needs 16410 (16404 + width x height)"},
      {Resized(good, kMzrRowsOffset + 7), kMzrRowsOffset + 6,
       "the file is 16411 bytes long, but a 3 x 2 image ends at 16410 (16404 + width x height)"},
      {Resized(good, 12), 12, "the file ends after 12 bytes, inside the 20-byte MZR header"},
      {With(good, 7, 1, 'A'), 7,
       "magic byte 7 is 0x41, not 0x00: an MZR file begins with \"KAV8BMP\" and a zero byte"},
      {With(good, kMzrRemappingOffset, 1, 2), kMzrRemappingOffset,
       "the remapping flag is 2, not 0 or 1"},
      {With(good, kMzrReservedOffset, 1, 1), kMzrReservedOffset, "the reserved byte is 1, not 0"},
  });
  EXPECT_EQ(std::get<DecodeError>(DecodeMzr(SmallFile())).offset, 0u);
  // An empty image is a whole file of header and tables.
  EXPECT_TRUE(Decoded(DecodeFile(Encode(BmpSpec{}, FileKind::kMzr))).indices.empty());
}

TEST(DecodeLimits, TheLargestImageInATinyFileIsRefusedBeforeAllocating) {
  Bytes rle = RunLengthFile(RunLengthVariant::kRle, 65535, 65535, {}, {0xFF, 0xFF});
  test::StoreLe32Into(rle, kRowTableSizeOffset, 65535u * 4);
  test::StoreLe32Into(rle, kAllRowTablesSizeOffset, 512u * 65535u * 4);
  test::StoreLe32Into(rle, kRlDataSizeOffset, 512u * 65535u * 4 + 2 * 65535);
  Bytes mzr(kMzrRowsOffset, 0);
  std::copy(kMzrMagic.begin(), kMzrMagic.end(), mzr.begin());
  test::StoreLe16Into(mzr, kMzrWidthOffset, 65535);
  test::StoreLe16Into(mzr, kMzrHeightOffset, 65535);
  ExpectRefused({
      {rle, 4120,
       "the file ends after 4120 bytes, but dataSize 134346750 gives a length of 134350868 (4118 "
       "+ dataSize)"},
      {mzr, kMzrRowsOffset,
       "the file ends after 16404 bytes, but a 65535 x 65535 image needs 4294852629 (16404 + "
       "width x height)"},
  });
}

}  // namespace
}  // namespace kav
