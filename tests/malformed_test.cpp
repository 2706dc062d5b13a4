// The damaged BMPs of tests/data/malformed (made by scripts/make-malformed.py), listed with
// their expected result in expected.tsv, and damaged RLE streams, through the reader and
// through every writer: each gets its message, and no output, temporary file or memory block
// is left behind.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <limits>
#include <tuple>

#include "input/read_picture.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::RecordingHost;

const std::filesystem::path kMalformedDir = KAV_MALFORMED_DIR;

// The status line of `writer` after a file taken for a `kind` file could not be read: the
// run-length writers name the kind.
std::string StatusAfterFailedRead(const test::Writer& writer, const std::string& kind) {
  std::string status = writer.loadErrorStatus;
  if (const std::size_t at = status.find("BMP"); at != std::string::npos) {
    status.replace(at, 3, kind);
  }
  return status;
}

// Converts in.bmp, made in a fresh folder by `prepare`, with every writer: a refused file
// gives the reader's message and the writer's status line, naming `kind`, and leaves the
// folder as it was; an accepted one gives the bytes the writer's encoder gives in memory, or a
// clean refusal.
void ExpectWritersHandle(const std::function<void(const std::string&)>& prepare, int code,
                         const std::string& message, const std::string& kind = "BMP") {
  for (const test::Writer& writer : test::kWriters) {
    SCOPED_TRACE(FileKindName(writer.kind));
    const test::TempDir dir;
    const std::string source = dir.File("in.bmp");
    prepare(source);
    const std::vector<std::string> before = test::ListFolder(dir.path());
    const std::size_t live = test::LiveBlocks();
    RecordingHost host;
    const bool converted = writer.Convert(host, source, dir.File("in.OUT"));
    EXPECT_EQ(test::LiveBlocks(), live);
    if (converted) {
      ASSERT_EQ(code, 0);
      EXPECT_TRUE(test::ReadFile(dir.File("in.OUT")) ==
                  test::Encode(test::ReadFile(source), writer.kind));
      continue;
    }
    EXPECT_EQ(test::ListFolder(dir.path()), before);
    if (code == 0) {  // accepted by the reader, refused by the writer
      const std::vector<std::vector<std::string>> refusals{
          {"status:Error: this image has no pixels!"},
          {"dialog:This image is too large for this format"}};
      EXPECT_NE(std::ranges::find(refusals, host.events), refusals.end())
          << ::testing::PrintToString(host.events);
    } else {
      EXPECT_EQ(host.events,
                (std::vector<std::string>{"message:" + message,
                                          "status:" + StatusAfterFailedRead(writer, kind)}));
    }
  }
}

TEST(MalformedFiles, EachGivesItsListedResultInTheReaderAndEveryWriter) {
  std::vector<std::string> listed;
  std::ifstream manifest(kMalformedDir / "expected.tsv");
  manifest.ignore(std::numeric_limits<std::streamsize>::max(), '\n');  // the heading
  std::string file, message;  // message "ok" when the reader accepts the file
  int code = 0;
  while (std::getline(manifest >> file >> code >> std::ws, message)) {
    SCOPED_TRACE(file);
    listed.push_back(file);
    const std::string path = (kMalformedDir / file).string();
    const ReadResult read = ReadPicture(path);
    EXPECT_EQ(read ? 0 : static_cast<int>(read.failed().failure), code);
    EXPECT_EQ(read ? "ok" : ReadFailureText(read.failed().failure), message);
    // A .png file is taken for a PNG unless its first bytes are not a PNG's.
    const bool png = file.ends_with(".png") && message != "This is not a BMP file";
    ExpectWritersHandle([&](const std::string& to) { std::filesystem::copy_file(path, to); }, code,
                        message, png ? "PNG" : "BMP");
  }
  std::sort(listed.begin(), listed.end());
  std::vector<std::string> present = test::ListFolder(kMalformedDir);
  std::erase(present, "expected.tsv");
  EXPECT_EQ(listed, present) << "expected.tsv must list every file";
  EXPECT_GE(listed.size(), 70u);
}

// RLE streams of a 3 x 2 picture, stored bottom row first, through the reader and every
// writer: each gives the outputs of the 8-bit twin of what it draws, or is refused as corrupt
// with nothing written when it leaves the picture.
TEST(MalformedFiles, RleStreamsCutShortOrLeavingThePicture) {
  // Name, bits per pixel, stream, and what it draws top row first (nothing: refused).
  const std::vector<std::tuple<const char*, std::uint16_t, test::Bytes, test::Bytes>> cases{
      {"end of line, of bitmap", 8, {2, 5, 0, 0, 1, 6, 0, 1}, {6, 0, 0, 5, 5, 0}},
      {"run past the edge, end of line", 8, {5, 9, 0, 0, 4, 3}, {3, 3, 3, 9, 9, 9}},
      {"run past the edge, run", 8, {5, 9, 2, 4}, {0, 0, 0, 9, 9, 9}},
      {"absolutes, edge", 8, {0, 5, 1, 2, 3, 4, 5, 0, 0, 0, 0, 3, 6, 7, 8, 0}, {6, 7, 8, 1, 2, 3}},
      {"deltas along, down", 8, {0, 2, 1, 0, 1, 4, 0, 2, 0, 1, 1, 5}, {0, 0, 5, 0, 4, 0}},
      {"delta onto the edge", 8, {1, 1, 0, 2, 2, 0, 0, 0, 1, 2}, {2, 0, 0, 1, 0, 0}},
      {"delta below the end", 8, {1, 3, 0, 0, 0, 2, 0, 1, 1, 4}, {0, 0, 0, 3, 0, 0}},
      {"a lone 0", 8, {2, 3, 0}, {0, 0, 0, 3, 3, 0}},
      {"delta cut short", 8, {2, 3, 0, 2, 1}, {0, 0, 0, 3, 3, 0}},
      {"absolute cut short", 8, {0, 4, 7, 8}, {0, 0, 0, 7, 8, 0}},
      {"RLE4 runs alternate", 4, {3, 0x12, 0, 0, 2, 0x33}, {3, 3, 0, 1, 2, 1}},
      {"RLE4 odd absolute", 4, {0, 5, 0x12, 0x34, 0x50, 0, 0, 0, 1, 0x90}, {9, 0, 0, 1, 2, 3}},
      {"RLE4 absolute cut", 4, {0, 5, 0x78}, {0, 0, 0, 7, 8, 0}},
      {"run below", 8, {0, 0, 0, 0, 1, 1}, {}},
      {"absolute below", 8, {0, 0, 0, 0, 0, 3, 1, 2, 3, 0}, {}},
      {"delta right of edge", 8, {1, 1, 0, 2, 3, 0}, {}},
      {"delta below", 8, {0, 2, 0, 3}, {}},
      {"delta to 1 below", 8, {0, 2, 1, 2}, {}},
  };
  for (const auto& [name, bits, stream, drawn] : cases) {
    SCOPED_TRACE(name);
    const test::BmpPicture twin{.width = 3, .height = 2, .pixels = drawn, .coloursUsed = 16};
    test::BmpPicture rle = twin;
    rle.bitCount = bits;
    rle.compression = bits == 8 ? 1 : 2;
    rle.stored = stream;
    const test::Bytes file = test::MakeBmp(rle);
    ExpectWritersHandle([&](const std::string& to) { test::WriteFile(to, file); },
                        drawn.empty() ? -4 : 0, "This BMP file is corrupt");
    if (!drawn.empty()) {  // MZR files hold the palette and every index
      EXPECT_TRUE(test::Encode(file, FileKind::kMzr) == test::Encode(twin, FileKind::kMzr));
    }
  }
}

TEST(MalformedFiles, FolderOrFifoCannotBeOpened) {
  const std::vector<std::function<void(const std::string&)>> inputs{
      [](const std::string& to) { std::filesystem::create_directory(to); },
      // Opening a FIFO must not wait for a writer to appear.
      [](const std::string& to) { ASSERT_EQ(mkfifo(to.c_str(), 0600), 0); }};
  for (const auto& prepare : inputs) {
    ExpectWritersHandle(prepare, -1, "Cannot open this file");
  }
}

}  // namespace
}  // namespace kav
