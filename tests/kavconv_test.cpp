// kavconv end to end: real processes on temporary files, output lines and exit statuses.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "formats/mzr.h"
#include "support/test_support.h"

namespace kav {
namespace {

class Kavconv : public ::testing::Test {
 protected:
  test::TempDir dir;

  test::ProcessRun Kav(const std::vector<std::string>& arguments) {
    return test::RunKavconv(arguments, dir);
  }

  std::string Sprite(const std::string& name) {
    test::WriteFile(dir.File(name), test::MakeBmp(test::PictureOf(
                                        5, 3, [](int x, int y) { return x == y ? 1 : 255; })));
    return dir.File(name);
  }
};

TEST_F(Kavconv, ConvertsToMzrBesideTheSources) {
  const std::string a = Sprite("a.bmp");
  const std::string b = Sprite("b.bmp");
  const test::ProcessRun run = Kav({"convert", "--format", "mzr", "--start", "3", "--end", "4",
                                    "--transparent", "5", "--no-remapping", a, b});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, dir.File("a.MZR") + " converted!\n" + dir.File("b.MZR") + " converted!\n" +
                         "2 files processed!\n");
  EXPECT_EQ(run.err, "");
  const std::vector<std::uint8_t> file = test::ReadFile(dir.File("a.MZR"));
  ASSERT_EQ(file.size(), kMzrRowsOffset + 15);
  EXPECT_EQ(file[kMzrRemappingOffset], 0);
  EXPECT_EQ(file[kMzrStartColorOffset], 3);
  EXPECT_EQ(file[kMzrEndColorOffset], 4);
  EXPECT_EQ(file[kMzrTransparentColorOffset], 5);
}

TEST_F(Kavconv, DefaultsAreTheDialogs) {
  const std::string a = Sprite("a.bmp");
  EXPECT_EQ(Kav({"convert", a}).out, "SUCCESS!!  " + dir.File("a.RLE") + " converted!\n");
  EXPECT_EQ(test::ReadFile(dir.File("a.RLE"))[1], 'L');
  EXPECT_EQ(Kav({"convert", "-f", "RLS", a}).status, 0);
  EXPECT_EQ(test::ReadFile(dir.File("a.RLE"))[1], 'S');
  Kav({"convert", "-f", "mzr", a});
  const std::vector<std::uint8_t> file = test::ReadFile(dir.File("a.MZR"));
  EXPECT_EQ(file[kMzrRemappingOffset], 1);
  EXPECT_EQ(file[kMzrStartColorOffset], 240);
  EXPECT_EQ(file[kMzrEndColorOffset], 255);
  EXPECT_EQ(file[kMzrTransparentColorOffset], 0);
}

TEST_F(Kavconv, FailuresGoToStderrAndTheRestIsConverted) {
  const std::string a = Sprite("a.bmp");
  test::WriteFile(dir.File("b.bmp"), {'x'});
  const std::string c = Sprite("c.bmp");
  const test::ProcessRun run = Kav({"convert", "-f", "mzr", a, dir.File("b.bmp"), c});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "kavconv: " + dir.File("b.bmp") + ": This is not a BMP file\n");
  EXPECT_NE(run.out.find("Error while converting!\n"), std::string::npos);
  EXPECT_NE(run.out.find("3 files processed!\n"), std::string::npos);
  EXPECT_TRUE(test::FileExists(dir.File("c.MZR")));
}

TEST_F(Kavconv, FailFastStartsNoNewFile) {
  test::WriteFile(dir.File("a.bmp"), {'x'});
  const std::string b = Sprite("b.bmp");
  const test::ProcessRun sequential =
      Kav({"convert", "--fail-fast", "-j", "1", dir.File("a.bmp"), b});
  EXPECT_EQ(sequential.status, 1);
  EXPECT_EQ(sequential.out, "Error while loading BMP file!\n");
  EXPECT_FALSE(test::FileExists(dir.File("b.RLE")));
  // In parallel the second file may already run; the batch still fails without a summary.
  const test::ProcessRun parallel =
      Kav({"convert", "--fail-fast", "-j", "2", dir.File("a.bmp"), b});
  EXPECT_EQ(parallel.status, 1);
  EXPECT_EQ(parallel.out.find("files processed!"), std::string::npos);
}

TEST_F(Kavconv, InterruptedBatchLeavesNoTemporaryFile) {
  std::vector<std::string> arguments{"convert", "-q", "-f", "mzr"};
  for (int i = 0; i < 400; ++i) {
    arguments.push_back(Sprite("s" + std::to_string(i) + ".bmp"));
  }
  std::string command = "exec " + test::ShellQuote(KAVCONV_PATH);
  for (const std::string& argument : arguments) {
    command.append(" ").append(test::ShellQuote(argument));
  }
  // The signal lands at different moments of the batch; none may leave a partial file.
  for (const int signal : {SIGINT, SIGTERM}) {
    for (const useconds_t delay : {2000u, 8000u, 20000u, 40000u}) {
      const pid_t child = fork();
      if (child == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
      }
      usleep(delay);
      kill(child, signal);
      int status = 0;
      waitpid(child, &status, 0);
      for (const std::string& name : test::ListFolder(dir.path())) {
        EXPECT_TRUE(name.ends_with(".bmp") || name.ends_with(".MZR")) << name;
        if (name.ends_with(".MZR")) {
          EXPECT_EQ(test::ReadFile(dir.File(name)).size(), kMzrRowsOffset + 15)
              << "partial " << name;
        }
      }
    }
  }
}

TEST_F(Kavconv, QuietPrintsNoStatus) {
  const test::ProcessRun run = Kav({"convert", "-q", Sprite("a.bmp"), dir.File("missing.bmp")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "kavconv: " + dir.File("missing.bmp") + ": Cannot open this file\n");
}

TEST_F(Kavconv, UsageErrorsConvertNothing) {
  const std::string a = Sprite("a.bmp");
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
    EXPECT_FALSE(run.err.empty());
  }
  EXPECT_EQ(test::ListFolder(dir.path()), std::vector<std::string>{"a.bmp"});
}

TEST_F(Kavconv, HelpAndVersion) {
  const test::ProcessRun version = Kav({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "1.0.0.1\n");
  const test::ProcessRun help = Kav({"convert", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--fail-fast"), std::string::npos);
}

}  // namespace
}  // namespace kav
