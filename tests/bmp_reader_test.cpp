// The BMP reader: every result code and message, the layouts it accepts, and that no block
// is left behind on any failure.

#include "bmp/bmp_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "bmp/bitmap_view.h"
#include "platform/byte_source.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::BmpSpec;
using test::MakeBmp;
using test::RecordedMessage;
using test::RecordingHost;
using test::StoreLe32Into;

struct ReadResult {
  std::int16_t code;
  std::vector<RecordedMessage> messages;
  LoadedBitmap bitmap;
};

ReadResult ReadBytes(const std::vector<std::uint8_t>& bytes) {
  ReadResult result;
  RecordingHost host;
  result.bitmap.width = 1234;
  result.bitmap.height = 5678;
  MemorySource source(bytes);
  result.code = ReadBmp8(source, host, result.bitmap);
  result.messages = host.messages;
  return result;
}

BmpSpec SmallPicture() {
  return test::PictureOf(3, 2, [](int x, int y) { return 10 * y + x + 1; });
}

void ExpectFailure(const ReadResult& result, std::int16_t code, const std::string& text) {
  EXPECT_EQ(result.code, code);
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_EQ(result.messages[0], (RecordedMessage{MessageOwner::kNone, text}));
  EXPECT_FALSE(result.bitmap.block);
  EXPECT_EQ(result.bitmap.width, 1234) << "width must be untouched on failure";
  EXPECT_EQ(result.bitmap.height, 5678) << "height must be untouched on failure";
}

TEST(BmpReader, CommonLayoutHoldsTheFileFromOffset54) {
  const std::vector<std::uint8_t> bytes = MakeBmp(SmallPicture());
  const ReadResult result = ReadBytes(bytes);
  ASSERT_EQ(result.code, kBmpOk);
  EXPECT_TRUE(result.messages.empty());
  EXPECT_EQ(result.bitmap.width, 3);
  EXPECT_EQ(result.bitmap.height, 2);
  const std::vector<std::uint8_t> expected(bytes.begin() + 54, bytes.end());
  const std::span<const std::uint8_t> block = result.bitmap.block.bytes();
  EXPECT_EQ(std::vector<std::uint8_t>(block.begin(), block.end()), expected);
}

TEST(BmpReader, ShortOrForeignFilesAreNotBmp) {
  ExpectFailure(ReadBytes({}), kBmpNotBmp, "This is not a BMP file");
  ExpectFailure(ReadBytes({'B'}), kBmpNotBmp, "This is not a BMP file");
  ExpectFailure(ReadBytes({'M', 'B', 0, 0}), kBmpNotBmp, "This is not a BMP file");
  std::vector<std::uint8_t> png = MakeBmp(SmallPicture());
  png[0] = 0x89;
  ExpectFailure(ReadBytes(png), kBmpNotBmp, "This is not a BMP file");
}

TEST(BmpReader, EveryEarlyEndOfTheHeaderIsCorrupt) {
  const std::vector<std::uint8_t> whole = MakeBmp(SmallPicture());
  for (std::size_t length = 2; length < 54; ++length) {
    SCOPED_TRACE(length);
    ExpectFailure(ReadBytes({whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)}),
                  kBmpCorrupt, "This BMP file is corrupt");
  }
}

TEST(BmpReader, OtherBitCountsAreNot8Bit) {
  for (const int bits : {1, 4, 16, 24, 32, 0, 0xFFFF}) {
    BmpSpec spec = SmallPicture();
    spec.bitCount = static_cast<std::uint16_t>(bits);
    SCOPED_TRACE(bits);
    ExpectFailure(ReadBytes(MakeBmp(spec)), kBmpNot8Bit, "This BMP file not 8 bit");
  }
}

TEST(BmpReader, CompressedRowsAreRefused) {
  for (const std::uint32_t compression : {1u, 2u, 3u, 0xFFFFFFFFu}) {
    BmpSpec spec = SmallPicture();
    spec.compression = compression;
    ExpectFailure(ReadBytes(MakeBmp(spec)), kBmpCompressed, "This BMP file is compressed");
  }
}

TEST(BmpReader, FileSizeFieldIsCheckedAgainstTheFile) {
  BmpSpec spec = SmallPicture();
  const std::size_t real = MakeBmp(spec).size();

  spec.fileSize = 53;  // below the headers
  ExpectFailure(ReadBytes(MakeBmp(spec)), kBmpOutOfMemory, "Out of memory");
  spec.fileSize = 0;
  ExpectFailure(ReadBytes(MakeBmp(spec)), kBmpOutOfMemory, "Out of memory");

  spec.fileSize = static_cast<std::uint32_t>(real + 1);  // beyond the file
  ExpectFailure(ReadBytes(MakeBmp(spec)), kBmpCorrupt, "This BMP file is corrupt");
  spec.fileSize = 0xFFFFFFFF;
  ExpectFailure(ReadBytes(MakeBmp(spec)), kBmpCorrupt, "This BMP file is corrupt");

  spec.fileSize = 54;  // an empty block cannot hold palette and rows
  ExpectFailure(ReadBytes(MakeBmp(spec)), kBmpCorrupt, "This BMP file is corrupt");
  spec.fileSize = static_cast<std::uint32_t>(real - 1);  // rows cut short
  ExpectFailure(ReadBytes(MakeBmp(spec)), kBmpCorrupt, "This BMP file is corrupt");
}

TEST(BmpReader, BytesBeyondTheFileSizeFieldAreIgnored) {
  std::vector<std::uint8_t> bytes = MakeBmp(SmallPicture());
  const std::size_t real = bytes.size();
  bytes.insert(bytes.end(), 100, 0xAB);
  const ReadResult result = ReadBytes(bytes);
  ASSERT_EQ(result.code, kBmpOk);
  EXPECT_EQ(result.bitmap.block.size(), real - 54);
}

TEST(BmpReader, TruncatedRowsAreCorrupt) {
  std::vector<std::uint8_t> bytes = MakeBmp(SmallPicture());
  bytes.pop_back();  // bfSize still names the whole length
  ExpectFailure(ReadBytes(bytes), kBmpCorrupt, "This BMP file is corrupt");
}

TEST(BmpReader, ShortInfoHeaderAndNegativeWidthAreCorrupt) {
  BmpSpec shortHeader = SmallPicture();
  shortHeader.infoSize = 39;
  ExpectFailure(ReadBytes(MakeBmp(shortHeader)), kBmpCorrupt, "This BMP file is corrupt");

  std::vector<std::uint8_t> bytes = MakeBmp(SmallPicture());
  bytes[kBiWidthOffset + 3] = 0xFF;  // -16777213
  ExpectFailure(ReadBytes(bytes), kBmpCorrupt, "This BMP file is corrupt");
}

TEST(BmpReader, RowsThatOverflow32BitsAreCorrupt) {
  // 65536 x 65536 rows of 65536 bytes: 2^32 bytes, which wraps to 0 in 32 bits.
  BmpSpec spec = SmallPicture();
  std::vector<std::uint8_t> bytes = MakeBmp(spec);
  StoreLe32Into(bytes, kBiWidthOffset, 65536);
  StoreLe32Into(bytes, kBiHeightOffset, 65536);
  ExpectFailure(ReadBytes(bytes), kBmpCorrupt, "This BMP file is corrupt");
  StoreLe32Into(bytes, kBiHeightOffset, 0x80000000u);  // the most negative height
  ExpectFailure(ReadBytes(bytes), kBmpCorrupt, "This BMP file is corrupt");
}

TEST(BmpReader, PaletteAndRowsFollowTheFilesOwnLayout) {
  BmpSpec spec = SmallPicture();
  spec.infoSize = 124;                  // a later info header
  spec.coloursUsed = 3;                 // only three entries stored
  spec.rowsOffset = 14 + 124 + 12 + 6;  // and a gap before the rows
  const ReadResult result = ReadBytes(MakeBmp(spec));
  ASSERT_EQ(result.code, kBmpOk);
  const std::optional<BitmapView> view = ViewBitmap(result.bitmap);
  ASSERT_TRUE(view);
  const std::vector<test::Rgb> palette = test::DefaultPalette();
  for (std::size_t i = 0; i < 256; ++i) {
    const auto entry = view->palette.subspan(4 * i, 4);
    if (i < 3) {
      EXPECT_EQ(entry[0], palette[i].blue);
      EXPECT_EQ(entry[1], palette[i].green);
      EXPECT_EQ(entry[2], palette[i].red);
    } else {
      EXPECT_EQ(entry[0] | entry[1] | entry[2] | entry[3], 0) << "missing entry " << i;
    }
  }
  const std::span<const std::uint8_t> top = view->TopRow(0);
  EXPECT_EQ(std::vector<std::uint8_t>(top.begin(), top.end()),
            (std::vector<std::uint8_t>{1, 2, 3}));
  const std::span<const std::uint8_t> bottom = view->TopRow(1);
  EXPECT_EQ(std::vector<std::uint8_t>(bottom.begin(), bottom.end()),
            (std::vector<std::uint8_t>{11, 12, 13}));
}

TEST(BmpReader, MoreThan256ColoursUseTheFirst256) {
  BmpSpec spec = SmallPicture();
  spec.coloursUsed = 300;
  const ReadResult result = ReadBytes(MakeBmp(spec));
  ASSERT_EQ(result.code, kBmpOk);
  const std::optional<BitmapView> view = ViewBitmap(result.bitmap);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->TopRow(0)[0], 1);
}

TEST(BmpReader, PaletteOrRowsOutsideTheFileAreCorrupt) {
  BmpSpec rowsBeyond = SmallPicture();
  rowsBeyond.rowsOffset = 5000;
  rowsBeyond.fileSize = static_cast<std::uint32_t>(MakeBmp(SmallPicture()).size());
  ExpectFailure(ReadBytes(MakeBmp(rowsBeyond)), kBmpCorrupt, "This BMP file is corrupt");

  BmpSpec rowsInHeader = SmallPicture();
  rowsInHeader.rowsOffset = 20;
  ExpectFailure(ReadBytes(MakeBmp(rowsInHeader)), kBmpCorrupt, "This BMP file is corrupt");

  std::vector<std::uint8_t> hugeInfo = MakeBmp(SmallPicture());
  StoreLe32Into(hugeInfo, kBiSizeOffset, 0xFFFFFFF0u);  // palette far beyond the end
  ExpectFailure(ReadBytes(hugeInfo), kBmpCorrupt, "This BMP file is corrupt");
}

TEST(BmpReader, NegativeHeightIsReturnedUnchanged) {
  BmpSpec spec = SmallPicture();
  spec.height = -2;
  const ReadResult result = ReadBytes(MakeBmp(spec));
  ASSERT_EQ(result.code, kBmpOk);
  EXPECT_EQ(result.bitmap.height, -2);
  const std::optional<BitmapView> view = ViewBitmap(result.bitmap);
  ASSERT_TRUE(view);
  EXPECT_TRUE(view->topDown);
  EXPECT_EQ(view->TopRow(0)[0], 1);
  EXPECT_EQ(view->TopRow(1)[0], 11);
}

TEST(BmpReader, EmptyImagesPassThrough) {
  BmpSpec spec;
  spec.width = 0;
  spec.height = 5;
  EXPECT_EQ(ReadBytes(MakeBmp(spec)).code, kBmpOk);
  spec.width = 5;
  spec.height = 0;
  EXPECT_EQ(ReadBytes(MakeBmp(spec)).code, kBmpOk);
}

TEST(BmpReader, FailedAllocationIsOutOfMemory) {
  const std::vector<std::uint8_t> bytes = MakeBmp(SmallPicture());
  AllocationFaults::FailNth(1);
  const ReadResult result = ReadBytes(bytes);
  AllocationFaults::Clear();
  ExpectFailure(result, kBmpOutOfMemory, "Out of memory");
}

TEST(BmpReader, NoBlockOutlivesAFailure) {
  const std::size_t before = MemoryBlock::LiveCount();
  std::vector<std::uint8_t> bytes = MakeBmp(SmallPicture());
  bytes.pop_back();
  ReadBytes(bytes);
  EXPECT_EQ(MemoryBlock::LiveCount(), before);
}

TEST(BmpReaderFile, FilesThatCannotBeOpened) {
  test::TempDir dir;
  RecordingHost host;
  LoadedBitmap bitmap;
  EXPECT_EQ(ReadBmp8(dir.File("missing.bmp"), host, bitmap), kBmpCannotOpen);
  EXPECT_EQ(ReadBmp8(dir.path().string(), host, bitmap), kBmpCannotOpen);  // a folder
  const std::string fifo = dir.File("pipe.bmp");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ReadBmp8(fifo, host, bitmap), kBmpCannotOpen);  // and it does not block
  ASSERT_EQ(host.messages.size(), 3u);
  for (const RecordedMessage& message : host.messages) {
    EXPECT_EQ(message, (RecordedMessage{MessageOwner::kNone, "Cannot open this file"}));
  }
}

TEST(BmpReaderFile, ReadsAFile) {
  test::TempDir dir;
  const std::vector<std::uint8_t> bytes = MakeBmp(SmallPicture());
  test::WriteFile(dir.File("a.bmp"), bytes);
  RecordingHost host;
  LoadedBitmap bitmap;
  ASSERT_EQ(ReadBmp8(dir.File("a.bmp"), host, bitmap), kBmpOk);
  EXPECT_EQ(bitmap.block.size(), bytes.size() - 54);
}

}  // namespace
}  // namespace kav
