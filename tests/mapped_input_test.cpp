// Large inputs are mapped instead of read: the same bytes come out, and a file that shrinks
// while it is mapped is refused as corrupt instead of ending the process.

#include <gtest/gtest.h>

#include "bmp/bitmap_view.h"
#include "formats/mzr.h"
#include "formats/output_shell.h"
#include "formats/run_length.h"
#include "platform/byte_source.h"
#include "support/test_support.h"

namespace kav {
namespace {

// Over a mebibyte, so the reader maps it; runs, shadows and single pixels in every row.
std::vector<std::uint8_t> LargeBmp() {
  return test::MakeBmp(test::PictureOf(1100, 1000, [](int x, int y) {
    return (x / 50 + y / 40) % 3 == 0 ? 255 : (x + y) % 7 == 0 ? 250 : (x * 3 + y) % 200;
  }));
}

struct Loaded {
  test::RecordingHost host;
  LoadedBitmap bitmap;
  std::optional<BitmapView> view;
};

void LoadFile(const std::string& path, Loaded& loaded) {
  ASSERT_EQ(ReadBmp8(path, loaded.host, loaded.bitmap), kBmpOk);
  loaded.view = ViewBitmap(loaded.bitmap);
  ASSERT_TRUE(loaded.view);
}

TEST(MappedInput, GivesTheSameFilesAsReading) {
  test::TempDir dir;
  const std::vector<std::uint8_t> bmp = LargeBmp();
  test::WriteFile(dir.File("large.bmp"), bmp);
  Loaded mapped;
  LoadFile(dir.File("large.bmp"), mapped);
  EXPECT_TRUE(mapped.bitmap.block.IsMapped());

  test::RecordingHost host;
  LoadedBitmap read;
  MemorySource source(bmp);
  ASSERT_EQ(ReadBmp8(source, host, read), kBmpOk);
  EXPECT_FALSE(read.block.IsMapped());
  const BitmapView readView = *ViewBitmap(read);

  for (const auto variant : {RunLengthVariant::kRle, RunLengthVariant::kRls}) {
    EXPECT_EQ(EncodeRunLength(*mapped.view, variant), EncodeRunLength(readView, variant));
  }
  VectorSink fromMap;
  VectorSink fromRead;
  EncodeMzr(*mapped.view, {}, fromMap);
  EncodeMzr(readView, {}, fromRead);
  EXPECT_EQ(fromMap.bytes(), fromRead.bytes());
  EXPECT_FALSE(mapped.bitmap.block.Damaged());
}

TEST(MappedInput, FileShrinkingWhileMappedIsDamageNotACrash) {
  test::TempDir dir;
  test::WriteFile(dir.File("large.bmp"), LargeBmp());
  Loaded loaded;
  LoadFile(dir.File("large.bmp"), loaded);
  std::filesystem::resize_file(dir.File("large.bmp"), 5000);  // another program rewrites it
  const std::vector<std::uint8_t> coded = EncodeRunLength(*loaded.view, RunLengthVariant::kRle);
  EXPECT_TRUE(loaded.bitmap.block.Damaged());
  EXPECT_GT(coded.size(), kRowTablesOffset);  // coding went on over zeros
}

TEST(MappedInput, ShrunkSourceAbandonsTheOutput) {
  test::TempDir dir;
  const std::string source = dir.File("large.bmp");
  test::WriteFile(source, LargeBmp());
  test::WriteFile(dir.File("large.MZR"), {1, 2, 3});
  Loaded loaded;
  LoadFile(source, loaded);
  // The rows reach the kernel straight from the mapping, so the fault shows as a failed
  // write rather than a signal; either way the source counts as damaged.
  const WriteOutcome outcome =
      WriteOutputFile(dir.File("large.MZR"), source, loaded.bitmap.block, [&](OutputFile& file) {
        std::filesystem::resize_file(source, 5000);
        FileSink sink(file);
        EncodeMzr(*loaded.view, {}, sink);
        return sink.Flush();
      });
  EXPECT_EQ(outcome, WriteOutcome::kSourceDamaged);
  EXPECT_EQ(test::ReadFile(dir.File("large.MZR")), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(test::ListFolder(dir.path()), (std::vector<std::string>{"large.MZR", "large.bmp"}));

  test::RecordingHost host;
  EXPECT_FALSE(ReportWriteOutcome(host, outcome, "Error while converting!"));
  EXPECT_EQ(host.events, (std::vector<std::string>{"message:This BMP file is corrupt",
                                                   "status:Error while converting!"}));
  EXPECT_EQ(host.messages[0].owner, MessageOwner::kNone);
}

TEST(MappedInput, MappingFailureIsOutOfMemory) {
  test::TempDir dir;
  test::WriteFile(dir.File("large.bmp"), LargeBmp());
  test::RecordingHost host;
  LoadedBitmap bitmap;
  AllocationFaults::FailNth(1);
  EXPECT_EQ(ReadBmp8(dir.File("large.bmp"), host, bitmap), kBmpOutOfMemory);
  AllocationFaults::Clear();
  EXPECT_FALSE(bitmap.block);
}

}  // namespace
}  // namespace kav
