// ConvertToRle and ConvertToRls as the batch calls them: every message, and what is left in
// the folder after each outcome (the output or nothing, never a temporary file).

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "convert/batch.h"
#include "formats/run_length.h"
#include "platform/byte_source.h"
#include "platform/file.h"
#include "platform/memory_block.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::BmpSpec;
using test::MakeBmp;
using test::PictureOf;
using test::ReadFile;
using test::RecordedMessage;
using test::RecordingHost;
using test::TempDir;
using test::WriteFile;
using Bytes = std::vector<std::uint8_t>;

constexpr RunLengthVariant kVariants[] = {RunLengthVariant::kRle, RunLengthVariant::kRls};

bool Convert(RunLengthVariant variant, ConverterHost& host, const std::string& source,
             const std::string& output) {
  return variant == RunLengthVariant::kRls ? ConvertToRls(host, source, output)
                                           : ConvertToRle(host, source, output);
}

std::string NameOf(RunLengthVariant variant) {
  return variant == RunLengthVariant::kRls ? "RLS" : "RLE";
}

BmpSpec Sprite() {
  return PictureOf(131, 5, [](int x, int y) { return x > 2 * y + 100 ? 255 : (x + y) % 5; });
}

// What the file must hold: the in-memory encoder's bytes for the same BMP.
Bytes Encoded(const BmpSpec& spec, RunLengthVariant variant) {
  const Bytes bmp = MakeBmp(spec);
  MemorySource source(bmp);
  RecordingHost host;
  LoadedBitmap bitmap;
  EXPECT_EQ(ReadBmp8(source, host, bitmap), kBmpOk);
  const std::optional<BitmapView> view = ViewBitmap(bitmap);
  if (!view) {
    ADD_FAILURE() << "the BMP does not load";
    return {};
  }
  return EncodeRunLength(*view, variant);
}

const RecordedMessage kCannotCreate{MessageOwner::kMainDialog, "Cannot create output file"};
const RecordedMessage kCannotWrite{MessageOwner::kMainDialog, "Cannot write output file"};
const RecordedMessage kTooLarge{MessageOwner::kMainDialog,
                                "This image is too large for this format"};

// A folder with a source BMP in it, and the name its output gets.
class Workspace {
 public:
  explicit Workspace(const BmpSpec& spec = Sprite()) : spec_(spec) {
    WriteFile(source(), MakeBmp(spec));
  }
  std::string source() const { return dir_.File("sprite.bmp"); }
  std::string output() const { return dir_.File("sprite.RLE"); }
  const BmpSpec& spec() const { return spec_; }
  const TempDir& dir() const { return dir_; }
  std::vector<std::string> Listing() const { return test::ListFolder(dir_.path()); }

 private:
  TempDir dir_;
  BmpSpec spec_;
};

const std::vector<std::string> kSourceOnly = {"sprite.bmp"};
const std::vector<std::string> kSourceAndOutput = {"sprite.RLE", "sprite.bmp"};

// --- Success ----------------------------------------------------------------------------

TEST(RunLengthFile, WritesTheFileAndSaysSo) {
  for (const RunLengthVariant variant : kVariants) {
    SCOPED_TRACE(NameOf(variant));
    const Workspace work;
    const std::size_t live = MemoryBlock::LiveCount();
    RecordingHost host;
    EXPECT_TRUE(Convert(variant, host, work.source(), work.output()));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.statusTexts,
              std::vector<std::string>{"SUCCESS!!  " + work.output() + " converted!"});
    const Bytes file = ReadFile(work.output());
    EXPECT_EQ(file, Encoded(work.spec(), variant));
    ASSERT_GE(file.size(), 2u);
    EXPECT_EQ(file[1], variant == RunLengthVariant::kRls ? 'S' : 'L');
    EXPECT_EQ(work.Listing(), kSourceAndOutput);
    EXPECT_EQ(MemoryBlock::LiveCount(), live);
  }
}

TEST(RunLengthFile, ReplacesAnOlderOutputAndWritesTheSameBytesEachTime) {
  const Workspace work;
  WriteFile(work.output(), Bytes(100000, 0xEE));  // longer than the new file
  RecordingHost host;
  ASSERT_TRUE(ConvertToRls(host, work.source(), work.output()));
  const Bytes first = ReadFile(work.output());
  EXPECT_EQ(first, Encoded(work.spec(), RunLengthVariant::kRls));
  ASSERT_TRUE(ConvertToRls(host, work.source(), work.output()));
  EXPECT_EQ(ReadFile(work.output()), first);
  EXPECT_EQ(work.Listing(), kSourceAndOutput);
}

TEST(RunLengthFile, OutputNamesUpToTheLengthLimit) {
  // 255 bytes is the longest name a folder entry can have; the temporary file beside it
  // must still fit.
  for (const std::size_t length : {200u, 230u, 254u, 255u}) {
    SCOPED_TRACE(length);
    const Workspace work;
    const std::string name = std::string(length - 4, 'n') + ".RLE";
    RecordingHost host;
    EXPECT_TRUE(ConvertToRle(host, work.source(), work.dir().File(name)));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(ReadFile(work.dir().File(name)), Encoded(work.spec(), RunLengthVariant::kRle));
    EXPECT_EQ(work.Listing(), (std::vector<std::string>{name, "sprite.bmp"}));
  }
}

TEST(RunLengthFile, TopDownSourceGivesTheSameFileAsBottomUp) {
  BmpSpec topDown = Sprite();
  topDown.height = -topDown.height;
  const Workspace upward;
  const Workspace downward(topDown);
  for (const RunLengthVariant variant : kVariants) {
    RecordingHost host;
    ASSERT_TRUE(Convert(variant, host, upward.source(), upward.output()));
    ASSERT_TRUE(Convert(variant, host, downward.source(), downward.output()));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(ReadFile(downward.output()), ReadFile(upward.output())) << NameOf(variant);
  }
}

// --- Failures before anything is written ----------------------------------------------------

TEST(RunLengthFile, UnreadableSourceIsReportedByTheReaderThenTheStatusLine) {
  for (const RunLengthVariant variant : kVariants) {
    SCOPED_TRACE(NameOf(variant));
    const Workspace work;
    RecordingHost missing;
    EXPECT_FALSE(Convert(variant, missing, work.dir().File("none.bmp"), work.output()));
    EXPECT_EQ(missing.events, (std::vector<std::string>{"message:Cannot open this file",
                                                        "status:Error while loading BMP file!"}));
    EXPECT_EQ(missing.messages[0].owner, MessageOwner::kNone);

    Bytes notBmp = MakeBmp(work.spec());
    notBmp[0] = 'X';
    WriteFile(work.source(), notBmp);
    RecordingHost foreign;
    EXPECT_FALSE(Convert(variant, foreign, work.source(), work.output()));
    EXPECT_EQ(foreign.events, (std::vector<std::string>{"message:This is not a BMP file",
                                                        "status:Error while loading BMP file!"}));
    EXPECT_EQ(work.Listing(), kSourceOnly);
  }
}

TEST(RunLengthFile, EveryFailedAllocationLeavesNothingBehind) {
  for (const RunLengthVariant variant : kVariants) {
    SCOPED_TRACE(NameOf(variant));
    const Workspace work;
    const std::size_t live = MemoryBlock::LiveCount();
    std::uint64_t writerFailures = 0;
    bool converted = false;
    for (std::uint64_t n = 1; n <= 20 && !converted; ++n) {
      SCOPED_TRACE("allocation " + std::to_string(n));
      RecordingHost host;
      AllocationFaults::FailNth(n);
      converted = Convert(variant, host, work.source(), work.output());
      AllocationFaults::Clear();
      EXPECT_EQ(MemoryBlock::LiveCount(), live);
      if (converted) {
        EXPECT_EQ(ReadFile(work.output()), Encoded(work.spec(), variant));
        break;
      }
      EXPECT_EQ(work.Listing(), kSourceOnly);
      if (n == 1) {  // the reader's block
        EXPECT_EQ(host.events, (std::vector<std::string>{"message:Out of memory",
                                                         "status:Error while loading BMP file!"}));
        continue;
      }
      ++writerFailures;
      EXPECT_TRUE(host.messages.empty());
      EXPECT_EQ(host.statusTexts, std::vector<std::string>{"Error allocating memory!"});
    }
    EXPECT_TRUE(converted);
    EXPECT_GE(writerFailures, 1u) << "the writer allocates no block of its own";
  }
}

TEST(RunLengthFile, ImagesTooLargeForTheFormatAreRefused) {
  // 65536 columns need a 17-bit width; 65536 rows a 17-bit height.
  for (const auto& [width, height] :
       {std::pair{65536, 1}, std::pair{1, 65536}, std::pair{1, -65536}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    BmpSpec spec =
        PictureOf(width, height < 0 ? -height : height, [](int x, int) { return x % 3; });
    spec.height = height;
    const Workspace work(spec);
    const std::size_t live = MemoryBlock::LiveCount();
    RecordingHost host;
    EXPECT_FALSE(ConvertToRle(host, work.source(), work.output()));
    EXPECT_EQ(host.messages, std::vector<RecordedMessage>{kTooLarge});
    EXPECT_TRUE(host.statusTexts.empty());
    EXPECT_EQ(work.Listing(), kSourceOnly);
    EXPECT_EQ(MemoryBlock::LiveCount(), live);
  }
}

TEST(RunLengthFile, ImagesWithoutPixelsAreRefusedWithoutAllocating) {
  for (const auto& [width, height] : {std::pair{0, 3}, std::pair{3, 0}, std::pair{0, 0}}) {
    for (const RunLengthVariant variant : kVariants) {
      SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height) + " " + NameOf(variant));
      BmpSpec spec;
      spec.width = width;
      spec.height = height;
      const Workspace work(spec);
      RecordingHost host;
      AllocationFaults::Clear();
      EXPECT_FALSE(Convert(variant, host, work.source(), work.output()));
      EXPECT_EQ(AllocationFaults::Requested(), 1u) << "only the reader's block";
      EXPECT_TRUE(host.messages.empty());
      ASSERT_EQ(host.statusTexts.size(), 1u);
      EXPECT_NE(host.statusTexts[0].find("no pixels"), std::string::npos) << host.statusTexts[0];
      EXPECT_EQ(work.Listing(), kSourceOnly);
    }
  }
}

// --- Outputs that must not be created -------------------------------------------------------

void ExpectCannotCreate(const Workspace& work, const std::string& output) {
  const std::size_t live = MemoryBlock::LiveCount();
  const std::vector<std::string> before = work.Listing();
  for (const RunLengthVariant variant : kVariants) {
    SCOPED_TRACE(NameOf(variant));
    RecordingHost host;
    EXPECT_FALSE(Convert(variant, host, work.source(), output));
    EXPECT_EQ(host.messages, std::vector<RecordedMessage>{kCannotCreate});
    EXPECT_TRUE(host.statusTexts.empty()) << "the status line keeps its last text";
    EXPECT_EQ(work.Listing(), before);
    EXPECT_EQ(MemoryBlock::LiveCount(), live);
  }
}

TEST(RunLengthFile, OutputThatIsAFolder) {
  const Workspace work;
  std::filesystem::create_directory(work.output());
  ExpectCannotCreate(work, work.output());
  EXPECT_TRUE(std::filesystem::is_directory(work.output()));
}

TEST(RunLengthFile, OutputThatIsAnExistingReadOnlyFile) {
  const Workspace work;
  const Bytes old(50, 0x11);
  WriteFile(work.output(), old);
  ASSERT_EQ(chmod(work.output().c_str(), 0444), 0);
  ExpectCannotCreate(work, work.output());
  EXPECT_EQ(ReadFile(work.output()), old);
  struct stat info {};
  ASSERT_EQ(stat(work.output().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0444u);
}

TEST(RunLengthFile, OutputThatIsTheSourceItself) {
  const Workspace work;
  const Bytes source = ReadFile(work.source());
  ExpectCannotCreate(work, work.source());
  ExpectCannotCreate(work, work.dir().File("./sprite.bmp"));  // another spelling
  std::filesystem::create_symlink(work.source(), work.dir().File("link.RLE"));
  ExpectCannotCreate(work, work.dir().File("link.RLE"));  // through a link
  EXPECT_EQ(ReadFile(work.source()), source);
}

TEST(RunLengthFile, OutputInAMissingFolder) {
  const Workspace work;
  ExpectCannotCreate(work, work.dir().File("missing/sprite.RLE"));
}

// --- Write failures -------------------------------------------------------------------------

// Runs `body` in a child process whose files may not grow beyond `limit` bytes (writes past
// it fail with EFBIG instead of killing the process); returns the child's exit status.
int ExitStatusWithFileSizeLimit(rlim_t limit, const std::function<int()>& body) {
  const pid_t child = fork();
  if (child < 0) {
    ADD_FAILURE() << "fork failed";
    return -1;
  }
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit bounds{limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &bounds) != 0) {
      _exit(90);
    }
    _exit(body());
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}

TEST(RunLengthFile, WriteFailureLeavesNoPartialFileAndKeepsTheOlderOne) {
  // About 70 KiB of output against a 16 KiB limit.
  const BmpSpec big = PictureOf(260, 260, [](int x, int y) { return (x * 7 + y) % 200; });
  for (const bool older : {false, true}) {
    for (const RunLengthVariant variant : kVariants) {
      SCOPED_TRACE(NameOf(variant) + (older ? " over an older file" : ""));
      const Workspace work(big);
      const Bytes old(300, 0x22);
      if (older) {
        WriteFile(work.output(), old);
      }
      const std::vector<std::string> before = work.Listing();
      const int status = ExitStatusWithFileSizeLimit(16 * 1024, [&] {
        const std::size_t live = MemoryBlock::LiveCount();
        RecordingHost host;
        if (Convert(variant, host, work.source(), work.output())) {
          return 1;
        }
        if (host.messages != std::vector<RecordedMessage>{kCannotWrite}) {
          return 2;
        }
        if (!host.statusTexts.empty()) {
          return 3;
        }
        return MemoryBlock::LiveCount() == live ? 0 : 4;
      });
      EXPECT_EQ(status, 0) << "1: reported success, 2: wrong message, 3: status set, 4: leak";
      EXPECT_EQ(work.Listing(), before);
      if (older) {
        EXPECT_EQ(ReadFile(work.output()), old);
      }
    }
  }
}

TEST(RunLengthFile, FailedRenameIntoPlaceRemovesTheTemporaryFile) {
  // The target turns into a folder after the output was created, so the last step fails.
  const Workspace work;
  OutputFile file;
  ASSERT_TRUE(file.Create(work.output(), work.source()));
  const Bytes bytes(5000, 0x33);
  ASSERT_TRUE(file.Write(bytes));
  std::filesystem::create_directory(work.output());
  WriteFile(work.dir().File("sprite.RLE/keep"), {1});
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(work.Listing(), kSourceAndOutput);
  EXPECT_EQ(test::ListFolder(work.output()), std::vector<std::string>{"keep"});
}

// --- In the batch ---------------------------------------------------------------------------

TEST(RunLengthFile, TheBatchGoesOnAfterEveryOutcome) {
  for (const std::int32_t format : {kFormatRle, kFormatRls}) {
    SCOPED_TRACE(format);
    const TempDir dir;
    BmpSpec empty;
    empty.width = 0;
    empty.height = 2;
    WriteFile(dir.File("empty.bmp"), MakeBmp(empty));
    WriteFile(dir.File("locked.bmp"), MakeBmp(Sprite()));
    WriteFile(dir.File("locked.RLE"), {1, 2, 3});
    ASSERT_EQ(chmod(dir.File("locked.RLE").c_str(), 0444), 0);
    WriteFile(dir.File("good.bmp"), MakeBmp(Sprite()));
    const std::vector<std::string> paths = {dir.File("missing.bmp"), dir.File("empty.bmp"),
                                            dir.File("locked.bmp"), dir.File("good.bmp")};
    RecordingHost host;
    host.settings.format = format;
    const BatchOutcome outcome = RunBatch(host, paths);
    EXPECT_EQ(outcome.taken, 4u);
    EXPECT_EQ(outcome.failed, 3u);
    EXPECT_TRUE(test::FileExists(dir.File("good.RLE")));
    ASSERT_FALSE(host.statusTexts.empty());
    EXPECT_EQ(host.statusTexts.back(), "4 files processed!");
    EXPECT_EQ(test::ListFolder(dir.path()),
              (std::vector<std::string>{"empty.bmp", "good.RLE", "good.bmp", "locked.RLE",
                                        "locked.bmp"}));
  }
}

}  // namespace
}  // namespace kav
