// The damaged BMPs of tests/data/malformed (made by scripts/make-malformed.py) through the
// reader and through every writer: each gets its message, and no output, temporary file or
// memory block is left behind.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <variant>

#include "bmp/bitmap_view.h"
#include "formats/decode.h"
#include "formats/mzr.h"
#include "formats/run_length.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::RecordedMessage;
using test::RecordingHost;
using Bytes = std::vector<std::uint8_t>;

const std::filesystem::path kMalformedDir = KAV_MALFORMED_DIR;

struct ManifestEntry {
  std::string file;
  std::int16_t code = 0;
  std::string message;  // "ok" when the reader accepts the file
};

std::vector<ManifestEntry> ReadManifest() {
  std::vector<ManifestEntry> entries;
  std::ifstream in(kMalformedDir / "expected.tsv");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line.starts_with('#')) {
      continue;
    }
    std::istringstream fields(line);
    ManifestEntry entry;
    std::string code;
    std::getline(fields, entry.file, '\t');
    std::getline(fields, code, '\t');
    std::getline(fields, entry.message);
    entry.code = static_cast<std::int16_t>(std::stoi(code));
    entries.push_back(entry);
  }
  return entries;
}

struct Writer {
  std::string name;
  bool (*convert)(ConverterHost&, const std::string&, const std::string&);
  std::string loadErrorStatus;  // the writer's status line after a reader failure
};

const Writer kWriters[] = {{"MZR", ConvertToMzr, "Error while converting!"},
                           {"RLE", ConvertToRle, "Error while loading BMP file!"},
                           {"RLS", ConvertToRls, "Error while loading BMP file!"}};

// The writer's messages when it refuses a file the reader accepted.
bool IsCleanRefusal(const RecordingHost& host) {
  const std::vector<std::string> noPixels{"status:Error: this image has no pixels!"};
  const std::vector<std::string> tooLarge{"message:This image is too large for this format"};
  return host.events == noPixels || host.events == tooLarge;
}

// Every pixel of the written file is the pixel of the source, top row first.
void ExpectSamePixels(const std::string& source, const std::string& output) {
  RecordingHost host;
  LoadedBitmap bitmap;
  ASSERT_EQ(ReadBmp8(source, host, bitmap), kBmpOk);
  const std::optional<BitmapView> view = ViewBitmap(bitmap);
  ASSERT_TRUE(view);
  const DecodeResult decoded = DecodeFile(test::ReadFile(output), PixelOutput::kKeep);
  const auto* image = std::get_if<DecodedImage>(&decoded);
  ASSERT_NE(image, nullptr) << "the written file does not decode";
  ASSERT_EQ(image->width, view->width);
  ASSERT_EQ(image->height, view->rowCount);
  for (std::uint32_t r = 0; r < view->rowCount; ++r) {
    const std::span<const std::uint8_t> expected = view->TopRow(r);
    const std::span<const std::uint8_t> got = image->Row(r);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin(), got.end())) << r;
  }
}

// Converts `input` (copied as in.bmp into a fresh folder, or made there by `prepare`) with
// every writer and checks what is told and what is left.
void ExpectWritersHandle(const std::function<void(const std::string&)>& prepare, std::int16_t code,
                         const std::string& message) {
  for (const Writer& writer : kWriters) {
    SCOPED_TRACE(writer.name);
    const test::TempDir dir;
    const std::string source = dir.File("in.bmp");
    const std::string output = dir.File("in.OUT");
    prepare(source);
    const std::size_t live = MemoryBlock::LiveCount();
    RecordingHost host;
    const bool converted = writer.convert(host, source, output);
    EXPECT_EQ(MemoryBlock::LiveCount(), live);
    if (code != kBmpOk) {
      EXPECT_FALSE(converted);
      EXPECT_EQ(host.events, (std::vector<std::string>{"message:" + message,
                                                       "status:" + writer.loadErrorStatus}));
      ASSERT_FALSE(host.messages.empty());
      EXPECT_EQ(host.messages[0].owner, MessageOwner::kNone);
      EXPECT_EQ(test::ListFolder(dir.path()), std::vector<std::string>{"in.bmp"});
    } else if (converted) {
      EXPECT_EQ(test::ListFolder(dir.path()), (std::vector<std::string>{"in.OUT", "in.bmp"}));
      ExpectSamePixels(source, output);
    } else {
      EXPECT_TRUE(IsCleanRefusal(host)) << ::testing::PrintToString(host.events);
      EXPECT_EQ(test::ListFolder(dir.path()), std::vector<std::string>{"in.bmp"});
    }
  }
}

void CopyAs(const std::string& name, const std::string& to) {
  std::filesystem::copy_file(kMalformedDir / name, to);
}

TEST(MalformedFiles, ManifestListsEveryFile) {
  std::vector<std::string> listed;
  for (const ManifestEntry& entry : ReadManifest()) {
    listed.push_back(entry.file);
  }
  std::sort(listed.begin(), listed.end());
  std::vector<std::string> present = test::ListFolder(kMalformedDir);
  std::erase(present, "expected.tsv");
  EXPECT_EQ(listed, present);
  EXPECT_GE(listed.size(), 70u);
}

TEST(MalformedFiles, ReaderGivesTheListedResult) {
  for (const ManifestEntry& entry : ReadManifest()) {
    SCOPED_TRACE(entry.file);
    const std::size_t live = MemoryBlock::LiveCount();
    RecordingHost host;
    {
      LoadedBitmap bitmap;
      EXPECT_EQ(ReadBmp8((kMalformedDir / entry.file).string(), host, bitmap), entry.code);
      if (entry.code == kBmpOk) {
        EXPECT_TRUE(host.messages.empty());
        EXPECT_TRUE(ViewBitmap(bitmap)) << "accepted, yet too short for its own image";
      } else {
        EXPECT_EQ(host.messages,
                  (std::vector<RecordedMessage>{{MessageOwner::kNone, entry.message}}));
        EXPECT_FALSE(bitmap.block);
      }
    }
    EXPECT_EQ(MemoryBlock::LiveCount(), live);
  }
}

TEST(MalformedFiles, WritersLeaveNothingBehind) {
  for (const ManifestEntry& entry : ReadManifest()) {
    SCOPED_TRACE(entry.file);
    ExpectWritersHandle([&](const std::string& to) { CopyAs(entry.file, to); }, entry.code,
                        entry.message);
  }
}

TEST(MalformedFiles, EveryEarlyEndOfFile) {
  const Bytes whole = test::ReadFile((kMalformedDir / "base.bmp").string());
  ASSERT_EQ(whole.size(), 1102u);
  for (std::size_t length = 0; length < whole.size(); ++length) {
    SCOPED_TRACE("length " + std::to_string(length));
    const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    ExpectWritersHandle([&](const std::string& to) { test::WriteFile(to, part); },
                        length < 2 ? kBmpNotBmp : kBmpCorrupt,
                        length < 2 ? "This is not a BMP file" : "This BMP file is corrupt");
  }
}

TEST(MalformedFiles, FolderOrFifoAsInput) {
  ExpectWritersHandle([](const std::string& to) { std::filesystem::create_directory(to); },
                      kBmpCannotOpen, "Cannot open this file");
  // Opening a FIFO must not wait for a writer to appear.
  ExpectWritersHandle([](const std::string& to) { ASSERT_EQ(mkfifo(to.c_str(), 0600), 0); },
                      kBmpCannotOpen, "Cannot open this file");
}

}  // namespace
}  // namespace kav
