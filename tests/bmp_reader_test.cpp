// The BMP reader: the first of two faults refused with its code and message and nothing left
// behind, the layouts it mends, and every palette layout against its uncompressed 8-bit twin.

#include <gtest/gtest.h>

#include <cerrno>
#include <utility>

#include "input/read_picture.h"
#include "platform/byte_source.h"
#include "platform/format_text.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::BmpPicture;
using test::Bytes;
using test::MakeBmp;
using test::Slice;
using test::With;

const BmpPicture kSmall = test::PictureOf(3, 2, [](int x, int y) { return 10 * y + x + 1; });

// `bytes` refused with `failure` (its text is checked for every failure by
// malformed_test.cpp); no memory block left behind.
void ExpectRefused(const Bytes& bytes, ReadFailure failure) {
  const std::size_t live = test::LiveBlocks();
  MemorySource source(bytes);
  const ReadResult read = ReadPicture(source);
  EXPECT_TRUE(!read && read.failed().failure == failure);
  EXPECT_EQ(test::LiveBlocks(), live);
}

// Every single fault, with its code and message, is in the malformed set (malformed_test.cpp);
// here two faults in one file show the order of the checks: the first one counts.
TEST(BmpReader, RefusesTheFirstFaultWithItsCodeAndMessage) {
  // bfType at 0, bfSize 2, biSize 14, biWidth 18, biHeight 22, biBitCount 28, biCompression 30.
  const Bytes small = MakeBmp(kSmall);
  const std::vector<std::tuple<const char*, Bytes, ReadFailure>> cases{
      {"MB, 24 bits", With(small, {{0, 1, 'M'}, {28, 2, 24}}), ReadFailure::kNotBmp},
      {"24 bits, header cut at 53", Slice(With(small, {{28, 2, 24}}), 0, 53),
       ReadFailure::kBmpCorrupt},
      {"info header of 15, 16 bits", With(small, {{14, 4, 15}, {28, 2, 16}}),
       ReadFailure::kBmpCorrupt},
      {"12 bits, RLE4", With(small, {{28, 2, 12}, {30, 4, 2}}), ReadFailure::kNot8Bit},
      {"16 bits, RLE4", With(small, {{28, 2, 16}, {30, 4, 2}}), ReadFailure::kBmpCorrupt},
      {"RLE8 of 4 bits", With(small, {{28, 2, 4}, {30, 4, 1}}), ReadFailure::kBmpCorrupt},
      {"RLE4 of 8 bits", With(small, {{30, 4, 2}}), ReadFailure::kBmpCorrupt},
      {"RLE8 top-down, bfSize 0", With(small, {{2, 4, 0}, {22, 4, 0xFFFFFFFE}, {30, 4, 1}}),
       ReadFailure::kBmpCorrupt},
      {"RLE8 of 2^31 - 1 x 2^31 - 1: more than memory",
       With(small, {{18, 4, 0x7FFFFFFF}, {22, 4, 0x7FFFFFFF}, {30, 4, 1}}),
       ReadFailure::kOutOfMemory},
      {"compressed, negative width", With(small, {{21, 1, 0xFF}, {30, 4, 3}}),
       ReadFailure::kCompressed},
      {"negative width, bfSize 0", With(small, {{2, 4, 0}, {21, 1, 0xFF}}),
       ReadFailure::kBmpCorrupt},
      {"bfSize 53, rows cut", Slice(With(small, {{2, 4, 53}}), 0, small.size() - 1),
       ReadFailure::kOutOfMemory},
  };
  for (const auto& [name, bytes, failure] : cases) {
    SCOPED_TRACE(name);
    ExpectRefused(bytes, failure);
  }
}

TEST(BmpReader, FailedAllocationIsOutOfMemory) {
  const BmpPicture rle{.width = 3, .height = 2, .compression = 1, .stored = Bytes{3, 1, 0, 1}};
  const Bytes png = test::ReadFile(KAV_MALFORMED_DIR "/png-base.png");
  // The block of a raw file; of an RLE file, the decoded block and then the stream's; of a
  // PNG, the file's bytes and then the decoded block.
  for (const auto& [bytes, nth] :
       {std::pair{MakeBmp(kSmall), 1U}, std::pair{MakeBmp(rle), 1U}, std::pair{MakeBmp(rle), 2U},
        std::pair{png, 1U}, std::pair{png, 2U}}) {
    test::AllocationFaults::FailNth(nth);
    ExpectRefused(bytes, ReadFailure::kOutOfMemory);
    test::AllocationFaults::Clear();
  }
}

TEST(BmpReader, FailedReadGivesTheSystemsCauseApart) {
  // "BM", then reads that fail as on a failing disk.
  struct FailingSource final : ByteSource {
    bool first = true;
    std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
      if (std::exchange(first, false)) {
        buffer[0] = 'B', buffer[1] = 'M';
        return 2;
      }
      errno = EIO;
      return std::nullopt;
    }
    bool Seek(std::uint64_t) override { return true; }
    std::uint64_t Length() const override { return 2000; }
  } source;
  const ReadResult read = ReadPicture(source);
  EXPECT_TRUE(!read && read.failed().failure == ReadFailure::kBmpCorrupt);
  EXPECT_EQ(ErrorText(read.failed().cause), "Input/output error");
}

// Text chunks longer than libpng's default limit on chunks (8 MB), before the image stream
// and after it, read as the file without them.
TEST(BmpReader, PngAncillaryChunksOfAnyLengthAreSkipped) {
  const Bytes png = test::ReadFile(KAV_MALFORMED_DIR "/png-base.png");
  const Bytes plain = test::Encode(png, FileKind::kMzr);
  const Bytes text(9'000'000, 'x');
  for (const char* type : {"tEXt", "zTXt", "iTXt"}) {
    for (const std::size_t at :
         {std::size_t{8 + 25}, png.size() - 12}) {  // after IHDR, before IEND
      SCOPED_TRACE(std::string(type) + " at " + std::to_string(at));
      Bytes file = test::Slice(png, 0, at);
      const Bytes chunk = test::PngChunk(type, text);
      file.insert(file.end(), chunk.begin(), chunk.end());
      file.insert(file.end(), png.begin() + static_cast<std::ptrdiff_t>(at), png.end());
      EXPECT_TRUE(test::Encode(file, FileKind::kMzr) == plain);
    }
  }
}

// Each NAME.VARIANT.bmp and NAME.VARIANT.png of tests/data/palette (drawn by
// scripts/make-palette-bmps.py with ImageMagick, Pillow and by hand) gives the outputs of
// NAME.bmp, its uncompressed 8-bit twin, with indices kept as stored (a tRNS is ignored).
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
    const Bytes twin = test::ReadFile((folder / (name.substr(0, stem) + ".bmp")).string());
    // MZR files hold the palette and every index.
    const ConversionSettings kept{.keepIndices = true};
    EXPECT_TRUE(test::Encode(test::ReadFile((folder / name).string()), FileKind::kMzr, kept) ==
                test::Encode(twin, FileKind::kMzr, kept));
  }
  EXPECT_EQ(variants, 58u);
}

}  // namespace
}  // namespace kav
