// The file side of the writers: the file and status line on success, every failure of the
// output shell they share with its message, outputs that appear only when whole, mapped input.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <map>
#include <tuple>

#include "formats/output_shell.h"
#include "formats/run_length.h"
#include "input/read_picture.h"
#include "platform/file.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::Bytes;
using test::ListFolder;
using test::ReadFile;
using test::RecordingHost;
using test::Writer;

const test::BmpPicture kSprite =
    test::PictureOf(131, 5, [](int x, int y) { return x > 2 * y + 100 ? 255 : (x + y) % 5; });

// A folder holding sprite.bmp made from `spec`.
struct Workspace {
  explicit Workspace(const test::BmpPicture& spec = kSprite) {
    test::WriteFile(source, test::MakeBmp(spec));
  }
  // Every entry of the folder with its bytes (none for a folder).
  std::map<std::string, Bytes> Files() const {
    std::map<std::string, Bytes> files;
    for (const std::string& name : ListFolder(dir.path())) {
      files[name] =
          std::filesystem::is_directory(dir.path() / name) ? Bytes{} : ReadFile(dir.File(name));
    }
    return files;
  }
  test::TempDir dir;
  std::string source = dir.File("sprite.bmp");
  std::string output = dir.File("sprite.OUT");
};

TEST(Writers, WriteTheEncodedFileAndSaySo) {
  for (const Writer& writer : test::kWriters) {
    SCOPED_TRACE(FileKindName(writer.kind));
    Workspace work;
    test::WriteFile(work.output, Bytes(100000, 0xEE));  // longer than the new file
    const std::size_t live = test::LiveBlocks();
    RecordingHost host;
    host.settings = {.startColor = 1, .useRemapping = false};
    // Past the blocks whose failures are checked below: any further block would fail.
    test::AllocationFaults::FailNth(writer.kind == FileKind::kMzr ? 2 : 4);
    EXPECT_TRUE(writer.Convert(host, work.source, work.output));
    test::AllocationFaults::Clear();
    EXPECT_EQ(host.events, std::vector<std::string>{"status:" + writer.successPrefix + work.output +
                                                    " converted!"});
    EXPECT_EQ(ReadFile(work.output),
              test::Encode(kSprite, writer.kind, {.startColor = 1, .useRemapping = false}));
    EXPECT_EQ(ListFolder(work.dir.path()), (std::vector<std::string>{"sprite.OUT", "sprite.bmp"}));
    EXPECT_EQ(test::LiveBlocks(), live);
  }
}

// Every way a writer fails once it has read its source (the reader's failures are in
// malformed_test.cpp): what it says, and the folder, its files and the memory blocks left as
// they were. Each case: what, the output (none: sprite.OUT), the picture, the block request
// that fails (0: none), whether only RLE and RLS fail (MZR writes header and tables for an
// empty image), and what the writer says.
TEST(Writers, EachFailureIsReportedAndLeavesNothingBehind) {
  using Case = std::tuple<std::string, std::function<std::string(Workspace&)>, test::BmpPicture,
                          std::uint64_t, bool, std::vector<std::string>>;
  const std::string tooLarge = "dialog:This image is too large for this format";
  const std::string noPixels = "status:Error: this image has no pixels!";
  const std::string noMemory = "status:Error allocating memory!";
  std::vector<Case> cases{
      // 65536 columns need a 17-bit width, 65536 rows a 17-bit height; refused before any
      // block after the reader's.
      {"65536 x 1", {}, {.width = 65536, .height = 1}, 2, false, {tooLarge}},
      {"1 x 65536", {}, {.width = 1, .height = 65536}, 2, false, {tooLarge}},
      {"1 x -65536", {}, {.width = 1, .height = -65536}, 2, false, {tooLarge}},
      {"0 x 3", {}, {.width = 0, .height = 3}, 2, true, {noPixels}},
      {"3 x 0", {}, {.width = 3, .height = 0}, 2, true, {noPixels}},
      {"the offset tables", {}, kSprite, 2, true, {noMemory}},
      {"the row buffer", {}, kSprite, 3, true, {noMemory}},
  };
  // What stands in the way of the output, and the cause given.
  const std::string input = "it is an input of this batch";
  const std::vector<std::tuple<std::string, std::function<std::string(Workspace&)>, std::string>>
      uncreatable{
          {"a folder in the way",
           [](Workspace& w) { return std::filesystem::create_directory(w.output), w.output; },
           "not a regular file"},
          {"a read-only file (even for the super-user)",
           [](Workspace& w) {
             return test::WriteFile(w.output, {1}), chmod(w.output.c_str(), 0444), w.output;
           },
           "the file is read-only"},
          {"a missing folder", [](Workspace& w) { return w.dir.File("no/x"); },
           "No such file or directory"},
          {"the source itself", [](Workspace& w) { return w.source; }, input},
          {"the source spelt otherwise", [](Workspace& w) { return w.dir.File("./sprite.bmp"); },
           input},
          {"a link to the source",
           [](Workspace& w) {
             return std::filesystem::create_symlink(w.source, w.output), w.output;
           },
           input},
      };
  for (const auto& [what, output, cause] : uncreatable) {
    cases.push_back(
        {what, output, kSprite, 0, false, {"dialog:Cannot create output file", "cause:" + cause}});
  }
  for (const auto& [what, makeOutput, picture, failedAllocation, runLengthOnly, events] : cases) {
    for (const Writer& writer : test::kWriters) {
      if (runLengthOnly && writer.kind == FileKind::kMzr) {
        continue;
      }
      SCOPED_TRACE(std::string(FileKindName(writer.kind)) + ": " + what);
      Workspace work(picture);
      const std::string output = makeOutput ? makeOutput(work) : work.output;
      const std::map<std::string, Bytes> before = work.Files();
      const std::size_t live = test::LiveBlocks();
      RecordingHost host;
      test::AllocationFaults::FailNth(failedAllocation);
      EXPECT_FALSE(writer.Convert(host, work.source, output));
      test::AllocationFaults::Clear();
      if (!host.lastCause.empty()) {
        host.events.push_back("cause:" + host.lastCause);
      }
      EXPECT_EQ(host.events, events);
      EXPECT_TRUE(work.Files() == before);
      EXPECT_EQ(test::LiveBlocks(), live);
    }
  }
}

// Reads of every size, from everywhere, around the edges of what one read ahead holds and
// past the end, give the file's bytes.
TEST(InputFile, ReadsOfAnySizeFromAnyPlaceGiveTheFilesBytes) {
  test::TempDir dir;
  Bytes bytes(200'000);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  }
  test::WriteFile(dir.File("f"), bytes);
  InputFile file;
  ASSERT_TRUE(file.Open(dir.File("f")));
  for (const auto& [at, size] : std::vector<std::pair<std::size_t, std::size_t>>{{0, 8},
                                                                                 {8, 52},
                                                                                 {60, 65'476},
                                                                                 {65'535, 2},
                                                                                 {65'536, 1},
                                                                                 {65'530, 65'536},
                                                                                 {10, 70'000},
                                                                                 {199'990, 100},
                                                                                 {200'000, 5},
                                                                                 {131'071, 65'537},
                                                                                 {3, 1}}) {
    ASSERT_TRUE(file.Seek(at));
    Bytes got(size, 0xEE);
    const std::optional<std::size_t> count = file.Read(got);
    const std::size_t expected = std::min(size, bytes.size() - std::min(at, bytes.size()));
    ASSERT_EQ(count, expected) << at << " " << size;
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(expected),
                           bytes.begin() + static_cast<std::ptrdiff_t>(at)))
        << at << " " << size;
  }
}

TEST(OutputFile, NothingAtTheTargetUntilCommitAndNothingLeftOnFailure) {
  test::TempDir dir;
  const Bytes bytes{1, 2, 3, 4};
  OutputFile file;
  ASSERT_TRUE(file.Create(dir.File("out.MZR"), dir.File("source.bmp")) && file.Write(bytes));
  EXPECT_TRUE(ListFolder(dir.path()).empty()) << "the file has no name until it is whole";
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(ReadFile(dir.File("out.MZR")), bytes);
  // The target turns into a folder after the output was created, so the last step fails.
  OutputFile late;
  ASSERT_TRUE(late.Create(dir.File("new.MZR"), "") && late.Write(Bytes(5000, 0x33)));
  std::filesystem::create_directory(dir.File("new.MZR"));
  test::WriteFile(dir.File("new.MZR/keep"), {1});
  EXPECT_TRUE(!late.Commit() && late.LastError() == std::errc::is_a_directory);
  EXPECT_EQ(ListFolder(dir.path()), (std::vector<std::string>{"new.MZR", "out.MZR"}));
  EXPECT_EQ(ListFolder(dir.File("new.MZR")), std::vector<std::string>{"keep"});
  // Replacing a file through a link keeps the link and the file's permissions.
  const std::string real = dir.File("real.MZR");
  test::WriteFile(real, {7});
  chmod(real.c_str(), 0640);
  std::filesystem::create_symlink(real, dir.File("link.MZR"));
  ASSERT_TRUE(file.Create(dir.File("link.MZR"), "") && file.Write(Bytes{1, 2}) && file.Commit());
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.MZR")));
  EXPECT_EQ(ReadFile(real), (Bytes{1, 2}));
  EXPECT_EQ(std::filesystem::status(real).permissions(), std::filesystem::perms{0640});
}

// A link at the output's name leads to a regular file or to a new name in an existing folder,
// or the output is refused; the link itself is never replaced, even where its text leads
// nowhere, as /proc/self/fd's do for a pipe ("pipe:[N]") and so /dev/stdout's.
TEST(OutputFile, LinkLeadsToARegularFileOrANewNameAndIsNeverReplaced) {
  std::array<int, 2> pipeEnds{};
  ASSERT_EQ(pipe(pipeEnds.data()), 0);
  const std::vector<std::pair<std::string, std::string>> cases{
      // where the link leads, the cause (none: the output is made there)
      {"/proc/self/fd/" + std::to_string(pipeEnds[1]), "not a regular file"},
      {"folder", "not a regular file"},
      {"missing/x.OUT", "No such file or directory"},
      {"sprite.OUT", "Too many levels of symbolic links"},
      {"folder/new.OUT", ""},
  };
  for (const auto& [to, cause] : cases) {
    SCOPED_TRACE(to);
    Workspace work;
    std::filesystem::create_directory(work.dir.File("folder"));
    std::filesystem::create_symlink(to, work.output);
    RecordingHost host;
    EXPECT_EQ(test::kWriters[1].Convert(host, work.source, work.output), cause.empty());
    EXPECT_EQ(host.lastCause, cause);
    std::error_code notALink;
    EXPECT_EQ(std::filesystem::read_symlink(work.output, notALink), to);
    EXPECT_EQ(ListFolder(work.dir.File("folder")),
              cause.empty() ? std::vector<std::string>{"new.OUT"} : std::vector<std::string>{});
  }
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}

TEST(OutputFile, SharedFolderFollowsOnlyTheLinksOfItsOwnerOrTheUser) {
  // Anyone may plant a link in a folder like /tmp, and a user in a folder of their own; followed
  // by the super-user, such a link would replace a file its owner cannot write.
  if (geteuid() != 0) {
    GTEST_SKIP() << "planting another user's links needs the super-user";
  }
  constexpr uid_t kRoot = 0;
  constexpr uid_t kNobody = 65534;
  using Link = std::tuple<std::string, std::string, uid_t>;  // at, to, owner
  const std::string file = "../victim/x.OUT";                // in root's folder victim/
  const struct {
    uid_t folderOwner;
    mode_t folderMode;
    uid_t victimOwner;  // of victim/x.OUT
    bool followed;
    std::string output;  // in the folder
    std::vector<Link> links;
  } cases[] = {
      // Another user's link in a shared folder: at the output's name, as a folder on the way,
      // behind the user's own link.
      {kRoot, 01777, kRoot, false, "x.OUT", {{"x.OUT", file, kNobody}}},
      {kRoot, 01777, kRoot, false, "d/x.OUT", {{"d", "../victim", kNobody}}},
      {kRoot, 01777, kRoot, false, "x.OUT", {{"x.OUT", "y", kRoot}, {"y", file, kNobody}}},
      // The user's own link in another user's folder.
      {kNobody, 0755, kRoot, true, "x.OUT", {{"x.OUT", file, kRoot}}},
      // The folder owner's link to the owner's file; to the user's file and folder.
      {kNobody, 01777, kNobody, true, "x.OUT", {{"x.OUT", file, kNobody}}},
      {kNobody, 0755, kRoot, false, "x.OUT", {{"x.OUT", file, kNobody}}},
      {kNobody, 0755, kNobody, false, "d/x.OUT", {{"d", "../victim", kNobody}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Workspace work;
    const std::string shared = work.dir.File("shared");
    const std::string victim = work.dir.File("victim/x.OUT");
    std::filesystem::create_directory(work.dir.File("victim"));
    test::WriteFile(victim, {1, 2, 3});
    std::filesystem::create_directory(shared);
    ASSERT_EQ(chown(shared.c_str(), c.folderOwner, c.folderOwner) |
                  chmod(shared.c_str(), c.folderMode) | chown(victim.c_str(), c.victimOwner, 0),
              0);
    for (const auto& [at, to, owner] : c.links) {
      const std::string path = shared + "/" + at;
      ASSERT_EQ(symlink(to.c_str(), path.c_str()) | lchown(path.c_str(), owner, 0), 0);
    }
    RecordingHost host;
    EXPECT_EQ(test::kWriters[1].Convert(host, work.source, shared + "/" + c.output), c.followed);
    EXPECT_EQ(ReadFile(victim) == (Bytes{1, 2, 3}), !c.followed);
    if (!c.followed) {
      EXPECT_EQ(host.events, std::vector<std::string>{"dialog:Cannot create output file"});
      EXPECT_EQ(host.lastCause, "refusing to follow a link owned by another user");
    }
    EXPECT_EQ(ListFolder(shared).size(), c.links.size());
    EXPECT_EQ(ListFolder(work.dir.File("victim")), std::vector<std::string>{"x.OUT"});
  }
}

TEST(OutputFile, RemovesTemporariesLeftByEndedProcessesOfTheSameOutput) {
  const pid_t ended = fork();
  if (ended == 0) {
    _exit(0);
  }
  ASSERT_EQ(test::ExitStatusOf(ended), 0);  // reaped: no process has its id now
  const std::string gone = std::to_string(ended);
  const std::string longName = std::string(251, 'n') + ".RLE";
  test::TempDir dir;
  const std::vector<std::pair<std::string, bool>> planted{
      // name, whether kept
      {".x.RLE.kav-" + gone + "-1.tmp", false},
      {".x.RLE.kav-" + std::to_string(getpid()) + "-1.tmp", true},
      {".y.RLE.kav-" + gone + "-1.tmp", true},
      {".x.RLE.kav-" + gone + "-1.tmpx", true},
      {".x.RLE.kav-" + gone + ".tmp", true},
      {"." + longName.substr(0, 224) + ".kav-" + gone + "-9.tmp", false}};
  for (const auto& [name, kept] : planted) {
    test::WriteFile(dir.File(name), {1});
  }
  std::filesystem::create_directory(dir.File(".x.RLE.kav-" + gone + "-2.tmp"));  // not a file
  // 255 bytes is the longest name a folder entry can have; the temporary name that replaces
  // an older file of it must still fit.
  test::WriteFile(dir.File(longName), {1});
  for (const std::string& output : {std::string("x.RLE"), longName}) {
    OutputFile file;
    ASSERT_TRUE(file.Create(dir.File(output), "") && file.Write(Bytes{7}) && file.Commit());
  }
  for (const auto& [name, kept] : planted) {
    EXPECT_EQ(std::filesystem::exists(dir.File(name)), kept) << name;
  }
  EXPECT_EQ(ListFolder(dir.path()).size(), 7u);
}

TEST(OutputFile, InterruptRemovesTemporaryFiles) {
  for (const auto& [signal, unnamed] : {std::pair{SIGINT, true}, std::pair{SIGTERM, true},
                                        std::pair{SIGHUP, true}, std::pair{SIGINT, false}}) {
    test::TempDir dir;
    test::WriteFile(dir.File("old.MZR"), {5});
    const pid_t child = fork();
    if (child == 0) {
      test::AllowUnnamedOutputFiles(unnamed);  // false: both outputs have a named temporary file
      InstallInterruptCleanup();
      OutputFile first, second;
      if (first.Create(dir.File("old.MZR"), "") && second.Create(dir.File("new.MZR"), "") &&
          first.Write(Bytes{1}) && second.Write(Bytes{1})) {
        raise(signal);
      }
      _exit(3);  // not reached when the signal ends the process
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"old.MZR"});
    EXPECT_EQ(ReadFile(dir.File("old.MZR")), Bytes{5});
  }
}

// Over a mebibyte, so the reader maps it; runs, shadows and single pixels in every row.
const test::BmpPicture kLarge = test::PictureOf(1100, 1000, [](int x, int y) {
  return (x / 50 + y / 40) % 3 == 0 ? 255 : (x + y) % 7 == 0 ? 250 : (x * 3 + y) % 200;
});

class MappedInput : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(source, test::MakeBmp(kLarge));
    ReadResult read = ReadPicture(source);
    ASSERT_TRUE(read && read->IsMapped());
    picture.emplace(std::move(*read));
  }

  test::TempDir dir;
  std::string source = dir.File("large.bmp");
  std::optional<Picture> picture;
};

TEST_F(MappedInput, FileShrinkingWhileMappedIsDamageNotACrash) {
  VectorSink mzr;
  EncodeMzr(*picture, {}, mzr);
  EXPECT_TRUE(mzr.bytes() == test::Encode(kLarge, FileKind::kMzr));  // read, not mapped
  EXPECT_FALSE(picture->Damaged());
  std::filesystem::resize_file(source, 5000);  // another program rewrites it
  EXPECT_GT(EncodeRunLength(*picture, OutputFormat::kRle).size(), 4118u);
  EXPECT_TRUE(picture->Damaged());
}

// Written straight into the file, the rows reach the kernel from the mapping, so the fault
// shows as a failed write rather than a signal; encoded in memory first for a C header, as
// zeros read. Either way the source counts as damaged and nothing is written.
TEST_F(MappedInput, ShrunkSourceAbandonsTheOutput) {
  test::WriteFile(dir.File("large.MZR"), {1, 2, 3});
  for (const Emit emitted : {Emit::kBinary, Emit::kBoth}) {
    SCOPED_TRACE(static_cast<int>(emitted));
    if (emitted != Emit::kBinary) {  // the first picture is given back; the file read again
      test::WriteFile(source, test::MakeBmp(kLarge));
      picture.emplace(std::move(*ReadPicture(source)));
    }
    const ConversionSettings settings{.format = OutputFormat::kMzr, .emitted = emitted};
    const Conversion conversion = WriteOutputs(
        *picture, settings, {.path = dir.File("large.MZR"), .source = source, .stillWanted = {}},
        [&](OutputStream& file) {
          std::filesystem::resize_file(source, 5000);
          FileSink sink(file);
          EncodeMzr(*picture, settings, sink);
          return sink.Flush();
        });
    EXPECT_EQ(ReadFile(dir.File("large.MZR")), (Bytes{1, 2, 3}));
    EXPECT_EQ(ListFolder(dir.path()), (std::vector<std::string>{"large.MZR", "large.bmp"}));
    RecordingHost host;
    host.Report(conversion);
    EXPECT_EQ(host.events, (std::vector<std::string>{"message:This BMP file is corrupt",
                                                     "status:Error while converting!"}));
  }
}

}  // namespace
}  // namespace kav
