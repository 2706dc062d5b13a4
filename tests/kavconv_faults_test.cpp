// kavconv against a failing system: a file size limit that stops some outputs part-way
// (as a full disk does), a folder it may not write in, and a second kavconv writing the
// same output at the same time. Nothing partial may ever be seen, and an older output
// stays whole until a new one replaces it completely.

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <variant>

#include "formats/decode.h"
#include "support/test_support.h"

namespace kav {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Exit status of a child that could not take on what the test needs (lower privileges).
constexpr int kCannotPrepare = 77;

// Starts kavconv with `arguments`, its output going to `outPath` and `errPath`, after
// `prepare` has run in the child (limits, privileges). Returns the child's id.
pid_t StartKavconv(const std::vector<std::string>& arguments, const std::string& outPath,
                   const std::string& errPath, const std::function<bool()>& prepare) {
  std::vector<std::string> words{KAVCONV_PATH};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t child = fork();
  if (child == 0) {
    if (out < 0 || err < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0 ||
        !prepare()) {
      _exit(kCannotPrepare);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out);
  close(err);
  return child;
}

int ExitStatusOf(pid_t child) {
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) {
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs kavconv to its end as StartKavconv does, with its output kept in `scratch`.
test::ProcessRun RunPrepared(const std::vector<std::string>& arguments,
                             const test::TempDir& scratch, const std::function<bool()>& prepare) {
  const std::string out = scratch.File("kavconv.out");
  const std::string err = scratch.File("kavconv.err");
  test::ProcessRun run;
  run.status = ExitStatusOf(StartKavconv(arguments, out, err, prepare));
  const Bytes outBytes = test::ReadFile(out);
  const Bytes errBytes = test::ReadFile(err);
  run.out.assign(outBytes.begin(), outBytes.end());
  run.err.assign(errBytes.begin(), errBytes.end());
  return run;
}

struct Format {
  std::string name;       // as kavconv's --format takes it
  std::string extension;  // of its outputs
};

const Format kFormats[] = {{"mzr", "MZR"}, {"rle", "RLE"}, {"rls", "RLE"}};

// A picture without runs, so that every format needs about a byte per pixel.
std::vector<std::uint8_t> Picture(int width, int height, int seed) {
  return test::MakeBmp(test::PictureOf(
      width, height, [seed](int x, int y) { return (x * 7 + y * 13 + seed) % 240; }));
}

// Whether `bytes` is a whole converted file of `width` x `height` pixels.
bool IsWholeFile(const Bytes& bytes, std::uint16_t width, std::uint16_t height) {
  const DecodeResult decoded = DecodeFile(bytes, PixelOutput::kCheckOnly);
  const auto* image = std::get_if<DecodedImage>(&decoded);
  return image != nullptr && image->width == width && image->height == height;
}

TEST(KavconvFaults, FileSizeLimitFailsOnlyTheOutputsThatDoNotFit) {
  // As on a full disk: the small pictures' outputs fit below the limit, the large one's
  // (over 100 KiB in every format) does not, and it had an older output.
  constexpr rlim_t kLimit = 32 * 1024;
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.name);
    const test::TempDir dir;
    const test::TempDir scratch;
    test::WriteFile(dir.File("a.bmp"), Picture(5, 3, 1));
    test::WriteFile(dir.File("b.bmp"), Picture(400, 300, 2));
    test::WriteFile(dir.File("c.bmp"), Picture(7, 2, 3));
    const std::string older = dir.File("b." + format.extension);
    test::WriteFile(older, {9, 9, 9});
    const test::ProcessRun run = RunPrepared({"convert", "-q", "-f", format.name, dir.File("a.bmp"),
                                              dir.File("b.bmp"), dir.File("c.bmp")},
                                             scratch, [] {
                                               const rlimit limit{kLimit, kLimit};
                                               return setrlimit(RLIMIT_FSIZE, &limit) == 0;
                                             });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kavconv: " + dir.File("b.bmp") + ": Cannot write output file\n");
    EXPECT_EQ(test::ReadFile(older), (Bytes{9, 9, 9}));
    EXPECT_TRUE(IsWholeFile(test::ReadFile(dir.File("a." + format.extension)), 5, 3));
    EXPECT_TRUE(IsWholeFile(test::ReadFile(dir.File("c." + format.extension)), 7, 2));
    EXPECT_EQ(test::ListFolder(dir.path()),
              (std::vector<std::string>{"a." + format.extension, "a.bmp", "b." + format.extension,
                                        "b.bmp", "c." + format.extension, "c.bmp"}));
  }
}

// Runs in the child: the super-user writes in any folder whatever its permission bits, so
// the child becomes an ordinary user first.
bool BecomeOrdinaryUser() {
  constexpr uid_t kNobody = 65534;
  return geteuid() != 0 || (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 &&
                            setuid(kNobody) == 0 && geteuid() == kNobody);
}

TEST(KavconvFaults, ReadOnlyFolderRefusesTheOutputAndKeepsTheOlderOne) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.name);
    const test::TempDir dir;
    const test::TempDir scratch;
    const std::filesystem::path art = dir.path() / "art";
    std::filesystem::create_directory(art);
    const std::string source = (art / "a.bmp").string();
    const std::string older = (art / ("a." + format.extension)).string();
    test::WriteFile(source, Picture(5, 3, 1));
    test::WriteFile(older, {9, 9, 9});
    // The older file itself may be written by anyone: only the folder stands in the way,
    // and an output is never written in place.
    ASSERT_EQ(chmod(older.c_str(), 0666), 0);
    ASSERT_EQ(chmod(art.c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);  // so that the ordinary user reaches it
    const test::ProcessRun run =
        RunPrepared({"convert", "-q", "-f", format.name, source}, scratch, BecomeOrdinaryUser);
    if (run.status == kCannotPrepare) {
      GTEST_SKIP() << "cannot run as an ordinary user here";
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kavconv: " + source + ": Cannot create output file\n");
    EXPECT_EQ(test::ReadFile(older), (Bytes{9, 9, 9}));
    EXPECT_EQ(test::ListFolder(art), (std::vector<std::string>{"a." + format.extension, "a.bmp"}));
  }
}

TEST(KavconvFaults, TwoProcessesWritingOneOutputLeaveOneWholeFile) {
  // a.bmp and a.dib both give a.RLE; each process converts its own source over and over
  // while this one keeps reading the output.
  const test::TempDir dir;
  const test::TempDir scratch;
  test::WriteFile(dir.File("a.bmp"), Picture(300, 200, 1));
  test::WriteFile(dir.File("a.dib"), Picture(200, 150, 2));
  const std::string output = dir.File("a.RLE");
  const auto noPreparation = [] { return true; };
  ASSERT_EQ(RunPrepared({"convert", "-q", dir.File("a.dib")}, scratch, noPreparation).status, 0);
  const Bytes fromDib = test::ReadFile(output);
  ASSERT_EQ(RunPrepared({"convert", "-q", dir.File("a.bmp")}, scratch, noPreparation).status, 0);
  const Bytes fromBmp = test::ReadFile(output);
  ASSERT_NE(fromBmp, fromDib);

  constexpr int kRounds = 40;
  std::vector<std::string> bmpBatch{"convert", "-q", "-j", "1"};
  std::vector<std::string> dibBatch = bmpBatch;
  bmpBatch.insert(bmpBatch.end(), kRounds, dir.File("a.bmp"));
  dibBatch.insert(dibBatch.end(), kRounds, dir.File("a.dib"));
  std::array<pid_t, 2> children{
      StartKavconv(bmpBatch, scratch.File("1.out"), scratch.File("1.err"), noPreparation),
      StartKavconv(dibBatch, scratch.File("2.out"), scratch.File("2.err"), noPreparation)};
  ASSERT_GT(children[0], 0);
  ASSERT_GT(children[1], 0);
  std::array<int, 2> statuses{-1, -1};
  int reads = 0;
  int mixed = 0;
  for (int running = 2; running > 0;) {
    for (std::size_t i = 0; i < children.size(); ++i) {
      int raw = 0;
      if (children[i] > 0 && waitpid(children[i], &raw, WNOHANG) == children[i]) {
        statuses[i] = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        children[i] = 0;
        --running;
      }
    }
    const Bytes seen = test::ReadFile(output);
    ++reads;
    mixed += seen != fromBmp && seen != fromDib ? 1 : 0;
  }
  EXPECT_EQ(statuses, (std::array<int, 2>{0, 0}));
  EXPECT_EQ(mixed, 0) << "of " << reads << " reads";
  const Bytes last = test::ReadFile(output);
  EXPECT_TRUE(last == fromBmp || last == fromDib);
  EXPECT_EQ(test::ListFolder(dir.path()), (std::vector<std::string>{"a.RLE", "a.bmp", "a.dib"}));
}

}  // namespace
}  // namespace kav
