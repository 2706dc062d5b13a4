// kavconv convert end to end, as real processes on temporary files: output lines and exit
// statuses, and a failing system: closed or full standard streams, an interrupt, a file size
// limit that stops some outputs part-way (as a full disk does), a folder it may not write in,
// and a second kavconv writing the same output. Nothing partial may ever be seen, and an
// older output stays whole until a new one replaces it completely.

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

#include "platform/standard_descriptors.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::Bytes;
using test::ReadFile;

class Kavconv : public ::testing::Test {
 protected:
  test::TempDir dir;
  test::TempDir scratch;  // kavconv's stdout and stderr

  test::ProcessRun Kav(const std::vector<std::string>& arguments,
                       const std::function<bool()>& prepare = {}) {
    return test::RunKavconv(arguments, scratch, prepare);
  }

  // A picture without runs, so that every format needs about a byte per pixel.
  std::string Picture(const std::string& name, int width = 5, int height = 3, int seed = 0) {
    test::WriteFile(dir.File(name),
                    test::MakeBmp(test::PictureOf(width, height, [seed](int x, int y) {
                      return (x * 7 + y * 13 + seed) % 240;
                    })));
    return dir.File(name);
  }

  // Whether `name` is a whole converted file of `width` x `height` pixels.
  bool IsWholeFile(const std::string& name, std::uint16_t width, std::uint16_t height) {
    const DecodeResult decoded = DecodeFile(ReadFile(dir.File(name)), PixelOutput::kCheckOnly);
    const auto* image = std::get_if<DecodedImage>(&decoded);
    return image != nullptr && image->width == width && image->height == height;
  }
};

TEST_F(Kavconv, ConvertsWithTheGivenSettingsOrTheDialogsDefaults) {
  const std::string a = Picture("a.bmp");
  const std::string b = Picture("b.bmp");
  const test::ProcessRun run = Kav({"convert", "--format", "mzr", "--start", "3", "--end", "4",
                                    "--transparent", "5", "--no-remapping", a, b});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, dir.File("a.MZR") + " converted!\n" + dir.File("b.MZR") + " converted!\n" +
                         "2 files processed!\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(test::Slice(ReadFile(dir.File("a.MZR")), 12, 20), (Bytes{0, 0, 3, 0, 4, 0, 5, 0}));
  EXPECT_TRUE(IsWholeFile("a.MZR", 5, 3));
  EXPECT_EQ(Kav({"convert", "-f", "mzr", a}).status, 0);
  EXPECT_EQ(test::Slice(ReadFile(dir.File("a.MZR")), 12, 20), (Bytes{1, 0, 240, 0, 255, 0, 0, 0}));
  EXPECT_EQ(Kav({"convert", a}).out, "SUCCESS!!  " + dir.File("a.RLE") + " converted!\n");
  EXPECT_EQ(ReadFile(dir.File("a.RLE")).at(1), 'L');
  EXPECT_EQ(Kav({"convert", "-f", "RLS", a}).status, 0);
  EXPECT_EQ(ReadFile(dir.File("a.RLE")).at(1), 'S');
}

TEST_F(Kavconv, FailuresGoToStderrAndTheRestIsConverted) {
  const std::string a = Picture("a.bmp");
  test::WriteFile(dir.File("b.bmp"), {'x'});
  const std::string c = Picture("c.bmp");
  const test::ProcessRun run = Kav({"convert", "-f", "mzr", a, dir.File("b.bmp"), c});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "kavconv: " + dir.File("b.bmp") + ": This is not a BMP file\n");
  EXPECT_EQ(run.out, dir.File("a.MZR") + " converted!\nError while converting!\n" +
                         dir.File("c.MZR") + " converted!\n3 files processed!\n");
  // A failure shown in the status line alone gets its error line too, even with -q.
  const std::string empty = Picture("empty.bmp", 0, 3);
  const test::ProcessRun quiet = Kav({"convert", "-q", a, dir.File("missing.bmp"), empty});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "kavconv: " + dir.File("missing.bmp") +
                           ": Cannot open this file: No such file or directory\n"
                           "kavconv: " +
                           empty + ": Error: this image has no pixels!\n");
  // --fail-fast starts no new file after a failure; one already running in parallel is
  // abandoned.
  for (const std::string jobs : {"1", "2"}) {
    const test::ProcessRun failFast =
        Kav({"convert", "--fail-fast", "-j", jobs, dir.File("b.bmp"), c});
    EXPECT_EQ(failFast.status, 1);
    EXPECT_EQ(failFast.out, "Error while loading BMP file!\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("c.RLE")));
  }
}

TEST_F(Kavconv, UsageErrorsConvertNothing) {
  const std::string a = Picture("a.bmp");
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"convert", "--start", "256", a},
                                             {"convert", "--end", "-1", a},
                                             {"convert", "--transparent", "x", a},
                                             {"convert", "--format", "png", a},
                                             {"convert"},
                                             {"unknown", a},
                                             {}}) {
    const test::ProcessRun run = Kav(arguments);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(arguments);
    EXPECT_TRUE(run.err.ends_with("\nRun with --help for more information.\n")) << run.err;
  }
  EXPECT_EQ(test::ListFolder(dir.path()), std::vector<std::string>{"a.bmp"});
  const test::ProcessRun version = Kav({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "1.0.0.1\n");
  const test::ProcessRun help = Kav({"convert", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--fail-fast"), std::string::npos);
}

TEST_F(Kavconv, ClosedStandardStreamsNeverReceiveOutputs) {
  // A descriptor opened after 1 and 2 were closed would take one of their numbers, and the
  // lines meant for them would go into that file.
  const pid_t child = fork();
  if (child == 0) {
    close(STDOUT_FILENO);
    close(STDERR_FILENO);
    const bool opened = OpenClosedStandardDescriptors();
    const int fd = open(dir.File("later").c_str(), O_WRONLY | O_CREAT, 0644);
    _exit(opened && fd > STDERR_FILENO && write(STDOUT_FILENO, "x", 1) == 1 ? 0 : 1);
  }
  EXPECT_EQ(test::ExitStatusOf(child), 0);
  // The parallel batch opens outputs while earlier files' lines are printed.
  std::vector<std::string> arguments{"convert", "-j", "2"};
  for (int i = 0; i < 40; ++i) {
    arguments.push_back(Picture("s" + std::to_string(i) + ".bmp", 60, 40, i));
  }
  EXPECT_EQ(Kav(arguments, [] { return close(STDOUT_FILENO) == 0; }).status, 0);
  for (int i = 0; i < 40; ++i) {
    EXPECT_TRUE(IsWholeFile("s" + std::to_string(i) + ".RLE", 60, 40)) << i;
  }
}

TEST_F(Kavconv, FailedWritesToStdoutAreErrors) {
  const std::string a = Picture("a.bmp");
  ASSERT_EQ(Kav({"convert", "-q", a}).status, 0);
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"convert", a}, {"info", dir.File("a.RLE")}, {"render", dir.File("a.RLE"), "-o", "-"}}) {
    const test::ProcessRun run = Kav(arguments, [] {
      const int full = open("/dev/full", O_WRONLY);
      return full >= 0 && dup2(full, STDOUT_FILENO) == STDOUT_FILENO;
    });
    EXPECT_EQ(run.status, 1) << arguments[0];
    EXPECT_EQ(run.err, "kavconv: write error: No space left on device\n") << arguments[0];
  }
}

TEST_F(Kavconv, InterruptedBatchLeavesNoTemporaryFile) {
  std::vector<std::string> arguments{"convert", "-q", "-f", "mzr"};
  for (int i = 0; i < 400; ++i) {
    arguments.push_back(Picture("s" + std::to_string(i) + ".bmp"));
  }
  // The signal lands at different moments of the batch; none may leave a partial file.
  for (const int signal : {SIGINT, SIGTERM}) {
    for (const useconds_t delay : {2000u, 8000u, 20000u, 40000u}) {
      const pid_t child = test::StartKavconv(arguments, scratch.File("out"), scratch.File("err"));
      usleep(delay);
      kill(child, signal);
      test::ExitStatusOf(child);
      for (const std::string& name : test::ListFolder(dir.path())) {
        EXPECT_TRUE(name.ends_with(".bmp") || IsWholeFile(name, 5, 3)) << name;
      }
    }
  }
}

TEST_F(Kavconv, FileSizeLimitFailsOnlyTheOutputsThatDoNotFit) {
  // The small pictures' outputs fit below the limit, the large one's (over 100 KiB in every
  // format) does not; it had no output before in RLS and an older one in MZR and RLE.
  const std::vector<std::string> sources{Picture("a.bmp", 5, 3), Picture("b.bmp", 400, 300),
                                         Picture("c.bmp", 7, 2)};
  for (const auto& [format, extension, files] :
       {std::tuple<std::string, std::string, std::size_t>{"rls", "RLE", 5},
        {"mzr", "MZR", 8},
        {"rle", "RLE", 9}}) {
    SCOPED_TRACE(format);
    const std::string older = dir.File("b." + extension);
    const Bytes before = format == "rls" ? Bytes{} : Bytes{9, 9, 9};
    if (!before.empty()) {
      test::WriteFile(older, before);
    }
    std::vector<std::string> arguments{"convert", "-q", "-f", format};
    arguments.insert(arguments.end(), sources.begin(), sources.end());
    const test::ProcessRun run = Kav(arguments, [] {
      const rlimit limit{32 * 1024, 32 * 1024};
      return setrlimit(RLIMIT_FSIZE, &limit) == 0;
    });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kavconv: " + sources[1] + ": Cannot write output file: File too large\n");
    EXPECT_EQ(std::filesystem::exists(older), !before.empty());
    EXPECT_EQ(ReadFile(older), before);
    EXPECT_TRUE(IsWholeFile("a." + extension, 5, 3));
    EXPECT_TRUE(IsWholeFile("c." + extension, 7, 2));
    EXPECT_EQ(test::ListFolder(dir.path()).size(), files);  // no temporary file
  }
}

TEST_F(Kavconv, ReadOnlyFolderRefusesTheOutputAndKeepsTheOlderOne) {
  const std::string source = Picture("a.bmp");
  for (const auto& [format, extension] :
       {std::pair{"mzr", "MZR"}, {"rle", "RLE"}, {"rls", "RLE"}}) {
    SCOPED_TRACE(format);
    const std::string older = dir.File(std::string("a.") + extension);
    test::WriteFile(older, {9, 9, 9});
    // The older file itself may be written by anyone: only the folder stands in the way,
    // and an output is never written in place.
    ASSERT_EQ(chmod(older.c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    // The super-user writes in any folder whatever its permission bits.
    const test::ProcessRun run = Kav({"convert", "-q", "-f", format, source}, [] {
      constexpr uid_t kNobody = 65534;
      return geteuid() != 0 || (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 &&
                                setuid(kNobody) == 0 && geteuid() == kNobody);
    });
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    if (run.status == test::kCannotPrepare) {
      GTEST_SKIP() << "cannot run as an ordinary user here";
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kavconv: " + source + ": Cannot create output file: Permission denied\n");
    EXPECT_EQ(ReadFile(older), (Bytes{9, 9, 9}));
  }
  EXPECT_EQ(test::ListFolder(dir.path()), (std::vector<std::string>{"a.MZR", "a.RLE", "a.bmp"}));
}

TEST_F(Kavconv, TwoProcessesWritingOneOutputLeaveOneWholeFile) {
  // a.bmp and a.dib both give a.RLE; each process converts its own source over and over
  // while this one keeps reading the output.
  const std::string bmp = Picture("a.bmp", 300, 200, 1);
  const std::string dib = Picture("a.dib", 200, 150, 2);
  const std::string output = dir.File("a.RLE");
  ASSERT_EQ(Kav({"convert", "-q", dib}).status, 0);
  const Bytes fromDib = ReadFile(output);
  ASSERT_EQ(Kav({"convert", "-q", bmp}).status, 0);
  const Bytes fromBmp = ReadFile(output);
  ASSERT_NE(fromBmp, fromDib);
  std::array<pid_t, 2> children{};
  for (std::size_t i = 0; i < 2; ++i) {
    std::vector<std::string> batch{"convert", "-q", "-j", "1"};
    batch.insert(batch.end(), 40, i == 0 ? bmp : dib);
    children[i] = test::StartKavconv(batch, scratch.File("out" + std::to_string(i)),
                                     scratch.File("err" + std::to_string(i)));
  }
  std::array<int, 2> statuses{-1, -1};
  int reads = 0;
  int mixed = 0;
  for (int running = 2; running > 0;) {
    for (std::size_t i = 0; i < 2; ++i) {
      int raw = 0;
      if (children[i] > 0 && waitpid(children[i], &raw, WNOHANG) == children[i]) {
        statuses[i] = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        children[i] = 0;
        --running;
      }
    }
    const Bytes seen = ReadFile(output);
    ++reads;
    mixed += seen != fromBmp && seen != fromDib ? 1 : 0;
  }
  EXPECT_EQ(statuses, (std::array<int, 2>{0, 0}));
  EXPECT_EQ(mixed, 0) << "of " << reads << " reads";
  EXPECT_EQ(test::ListFolder(dir.path()), (std::vector<std::string>{"a.RLE", "a.bmp", "a.dib"}));
}

}  // namespace
}  // namespace kav
