// The BMP reader: every refusal with its code and message, in the order of the checks, the
// layouts it mends, every palette layout against its uncompressed 8-bit twin, and that
// nothing is handed over or left behind on a failure.

#include "bmp/bmp_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <utility>

#include "bmp/bitmap_view.h"
#include "platform/byte_source.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::BmpSpec;
using test::Bytes;
using test::MakeBmp;
using test::RecordedMessage;

struct ReadResult {
  std::int16_t code;
  std::vector<RecordedMessage> messages;
  LoadedBitmap bitmap;
};

ReadResult ReadBytes(const Bytes& bytes) {
  ReadResult result;
  test::RecordingHost host;
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

// The small picture changed by `spec` before it is stored and by `bytes` after.
Bytes Bent(
    const std::function<void(BmpSpec&)>& spec,
    const std::function<void(Bytes&)>& bytes = [](Bytes&) {}) {
  BmpSpec picture = SmallPicture();
  spec(picture);
  Bytes file = MakeBmp(picture);
  bytes(file);
  return file;
}

// Every single fault, with its code and message, is in the malformed set (malformed_test.cpp);
// here two faults in one file show the order of the checks: the first one counts.
TEST(BmpReader, RefusesTheFirstFaultWithItsCodeAndMessage) {
  const auto negativeWidth = [](Bytes& b) { b[kBiWidthOffset + 3] = 0xFF; };
  const struct {
    const char* name;
    Bytes bytes;
    std::int16_t code;
    std::string text;
  } cases[] = {
      {"MB, 24 bits", Bent([](BmpSpec& s) { s.bitCount = 24; }, [](Bytes& b) { b[0] = 'M'; }),
       kBmpNotBmp, "This is not a BMP file"},
      {"24 bits, header cut at 53",
       Bent([](BmpSpec& s) { s.bitCount = 24; }, [](Bytes& b) { b.resize(53); }), kBmpCorrupt,
       "This BMP file is corrupt"},
      {"info header of 15, 16 bits", Bent([](BmpSpec& s) { s.infoSize = 15, s.bitCount = 16; }),
       kBmpCorrupt, "This BMP file is corrupt"},
      {"16 bits, RLE4", Bent([](BmpSpec& s) { s.bitCount = 16, s.compression = 2; }), kBmpNot8Bit,
       "This BMP file not 8 bit"},
      {"RLE8 of 4 bits, bfSize 0", Bent([](BmpSpec& s) { s.bitCount = 4, s.compression = 1; }),
       kBmpCorrupt, "This BMP file is corrupt"},
      {"RLE4 of 8 bits", Bent([](BmpSpec& s) { s.compression = 2; }), kBmpCorrupt,
       "This BMP file is corrupt"},
      {"RLE8 top-down, bfSize 0",
       Bent([](BmpSpec& s) { s.height = -2, s.compression = 1, s.fileSize = 0; }), kBmpCorrupt,
       "This BMP file is corrupt"},
      {"RLE8 of 2^31 - 1 x 2^31 - 1: more than memory", Bent([](BmpSpec& s) {
         s.width = s.height = INT32_MAX, s.compression = 1, s.stored = Bytes{0, 1};
       }),
       kBmpOutOfMemory, "Out of memory"},
      {"compressed, negative width", Bent([](BmpSpec& s) { s.compression = 3; }, negativeWidth),
       kBmpCompressed, "This BMP file is compressed"},
      {"negative width, bfSize 0", Bent([](BmpSpec& s) { s.fileSize = 0; }, negativeWidth),
       kBmpCorrupt, "This BMP file is corrupt"},
      {"bfSize 53, rows cut",
       Bent([](BmpSpec& s) { s.fileSize = 53; }, [](Bytes& b) { b.pop_back(); }), kBmpOutOfMemory,
       "Out of memory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t live = MemoryBlock::LiveCount();
    const ReadResult result = ReadBytes(c.bytes);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(result.messages, (std::vector<RecordedMessage>{{MessageOwner::kNone, c.text}}));
    EXPECT_FALSE(result.bitmap.block);
    EXPECT_EQ(result.bitmap.width, 1234) << "width must be untouched on failure";
    EXPECT_EQ(result.bitmap.height, 5678) << "height must be untouched on failure";
    EXPECT_EQ(MemoryBlock::LiveCount(), live);
  }
}

TEST(BmpReader, HandsOverTheFileFromOffset54UpToBfSize) {
  Bytes bytes = MakeBmp(SmallPicture());
  const Bytes expected(bytes.begin() + 54, bytes.end());
  bytes.insert(bytes.end(), 100, 0xAB);  // beyond bfSize: ignored
  const ReadResult result = ReadBytes(bytes);
  ASSERT_EQ(result.code, kBmpOk);
  EXPECT_TRUE(result.messages.empty());
  EXPECT_EQ(result.bitmap.width, 3);
  EXPECT_EQ(result.bitmap.height, 2);
  EXPECT_TRUE(std::ranges::equal(result.bitmap.block.bytes(), expected));
}

TEST(BmpReader, MendsLayoutsWithOtherHeaderPaletteAndRowOffsets) {
  const std::vector<test::Rgb> palette = test::DefaultPalette();
  for (const std::uint32_t coloursUsed : {3u, 300u}) {
    BmpSpec spec = SmallPicture();
    spec.infoSize = 124;                               // a later info header
    spec.coloursUsed = coloursUsed;                    // biClrUsed
    spec.rowsOffset = 14 + 124 + 4 * coloursUsed + 6;  // a gap before the rows
    const ReadResult result = ReadBytes(MakeBmp(spec));
    ASSERT_EQ(result.code, kBmpOk) << coloursUsed;
    Bytes stored(kBmpPaletteBytes, 0);  // entries beyond biClrUsed read as 0
    for (std::size_t i = 0; i < std::min(coloursUsed, 256u); ++i) {
      std::copy_n(std::array{palette[i].blue, palette[i].green, palette[i].red}.begin(), 3,
                  stored.begin() + static_cast<std::ptrdiff_t>(4 * i));
    }
    const std::optional<BitmapView> view = ViewBitmap(result.bitmap);
    ASSERT_TRUE(view);
    EXPECT_TRUE(std::ranges::equal(view->palette, stored));
    EXPECT_TRUE(std::ranges::equal(view->TopRow(0), Bytes{1, 2, 3}));
    EXPECT_TRUE(std::ranges::equal(view->TopRow(1), Bytes{11, 12, 13}));
  }
}

TEST(BmpReader, NegativeHeightIsReturnedUnchanged) {
  BmpSpec topDown = SmallPicture();
  topDown.height = -2;
  const ReadResult result = ReadBytes(MakeBmp(topDown));
  ASSERT_EQ(result.code, kBmpOk);
  EXPECT_EQ(result.bitmap.height, -2);
  const std::optional<BitmapView> view = ViewBitmap(result.bitmap);
  ASSERT_TRUE(view);
  EXPECT_TRUE(std::ranges::equal(view->TopRow(0), Bytes{1, 2, 3}));
}

TEST(BmpReader, FailedAllocationIsOutOfMemory) {
  BmpSpec rle = SmallPicture();
  rle.compression = 1;
  rle.stored = Bytes{3, 1, 0, 1};
  const Bytes png = test::ReadFile(KAV_MALFORMED_DIR "/png-base.png");
  // The block of a raw file; of an RLE file, the decoded block and then the stream's; of a
  // PNG, the file's bytes and then the decoded block.
  for (const auto& [bytes, nth] :
       {std::pair{MakeBmp(SmallPicture()), 1U}, std::pair{MakeBmp(rle), 1U},
        std::pair{MakeBmp(rle), 2U}, std::pair{png, 1U}, std::pair{png, 2U}}) {
    const std::size_t live = MemoryBlock::LiveCount();
    AllocationFaults::FailNth(nth);
    const ReadResult result = ReadBytes(bytes);
    AllocationFaults::Clear();
    EXPECT_EQ(result.code, kBmpOutOfMemory);
    EXPECT_EQ(result.messages,
              (std::vector<RecordedMessage>{{MessageOwner::kNone, "Out of memory"}}));
    EXPECT_FALSE(result.bitmap.block);
    EXPECT_EQ(result.bitmap.width, 1234);
    EXPECT_EQ(MemoryBlock::LiveCount(), live);
  }
}

// Each NAME.VARIANT.bmp and NAME.VARIANT.png of tests/data/palette (drawn by
// scripts/make-palette-bmps.py with ImageMagick, Pillow and by hand) gives the outputs of
// NAME.bmp, its uncompressed 8-bit twin.
TEST(BmpReader, EveryPaletteLayoutGivesTheOutputsOfItsUncompressed8BitTwin) {
  const std::filesystem::path folder = KAV_PALETTE_DIR;
  std::size_t variants = 0;
  for (const std::string& name : test::ListFolder(folder)) {
    const std::size_t stem = name.find('.');
    if (stem == name.rfind('.')) {
      continue;  // a twin
    }
    SCOPED_TRACE(name);
    ++variants;
    const Bytes file = test::ReadFile((folder / name).string());
    const Bytes twin = test::ReadFile((folder / (name.substr(0, stem) + ".bmp")).string());
    for (const test::Writer& writer : test::kWriters) {
      EXPECT_TRUE(test::Encode(file, writer.kind) == test::Encode(twin, writer.kind))
          << FileKindName(writer.kind);
    }
  }
  EXPECT_EQ(variants, 55u);
}

TEST(BmpReader, FailedReadGivesTheSystemsCauseApart) {
  // "BM", then reads that fail as on a failing disk.
  struct FailingSource final : ByteSource {
    bool first = true;
    std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
      if (std::exchange(first, false)) {
        buffer[0] = 'B', buffer[1] = 'M';
        return kBmpSignatureSize;
      }
      errno = EIO;
      return std::nullopt;
    }
    bool Seek(std::uint64_t) override { return true; }
    std::uint64_t Length() const override { return 2000; }
  } source;
  test::RecordingHost host;
  LoadedBitmap bitmap;
  EXPECT_EQ(ReadBmp8(source, host, bitmap), kBmpCorrupt);
  EXPECT_EQ(host.messages,
            (std::vector<RecordedMessage>{
                {MessageOwner::kNone, "This BMP file is corrupt", "Input/output error"}}));
}

}  // namespace
}  // namespace kav
