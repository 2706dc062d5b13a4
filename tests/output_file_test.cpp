// Output files: nothing appears at the target before Commit, and replacing keeps what the
// user set up around the old file.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "platform/file.h"
#include "support/test_support.h"

namespace kav {
namespace {

const std::vector<std::uint8_t> kBytes{1, 2, 3, 4};

TEST(OutputFile, NothingAtTheTargetUntilCommit) {
  test::TempDir dir;
  const std::string target = dir.File("out.MZR");
  OutputFile file;
  ASSERT_TRUE(file.Create(target, dir.File("source.bmp")));
  ASSERT_TRUE(file.Write(kBytes));
  EXPECT_TRUE(test::ListFolder(dir.path()).empty()) << "the file has no name until it is whole";
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(test::ReadFile(target), kBytes);
  EXPECT_EQ(test::ListFolder(dir.path()), std::vector<std::string>{"out.MZR"});
}

TEST(OutputFile, AbandonedFileLeavesNothing) {
  test::TempDir dir;
  test::WriteFile(dir.File("out.MZR"), {7});
  {
    OutputFile file;
    ASSERT_TRUE(file.Create(dir.File("out.MZR"), ""));
    file.Write(kBytes);
  }
  EXPECT_EQ(test::ReadFile(dir.File("out.MZR")), std::vector<std::uint8_t>{7});
  EXPECT_EQ(test::ListFolder(dir.path()), std::vector<std::string>{"out.MZR"});
}

TEST(OutputFile, ReplacingKeepsPermissionsAndLinks) {
  test::TempDir dir;
  const std::string real = dir.File("real.MZR");
  test::WriteFile(real, {7});
  chmod(real.c_str(), 0640);
  std::filesystem::create_symlink(real, dir.File("link.MZR"));
  OutputFile file;
  ASSERT_TRUE(file.Create(dir.File("link.MZR"), ""));
  file.Write(kBytes);
  ASSERT_TRUE(file.Commit());
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.MZR")));
  EXPECT_EQ(test::ReadFile(real), kBytes);
  struct stat info {};
  ASSERT_EQ(stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(OutputFile, ConcurrentWritersOfOneTargetUseTheirOwnFiles) {
  test::TempDir dir;
  OutputFile first;
  OutputFile second;
  ASSERT_TRUE(first.Create(dir.File("out.MZR"), ""));
  ASSERT_TRUE(second.Create(dir.File("out.MZR"), ""));
  first.Write(std::vector<std::uint8_t>{1});
  second.Write(std::vector<std::uint8_t>{2, 2});
  ASSERT_TRUE(first.Commit());
  ASSERT_TRUE(second.Commit());  // the name exists by now: the second replaces the first
  EXPECT_EQ(test::ReadFile(dir.File("out.MZR")), (std::vector<std::uint8_t>{2, 2}));
  EXPECT_EQ(test::ListFolder(dir.path()), std::vector<std::string>{"out.MZR"});
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

TEST(OutputFile, InterruptRemovesTemporaryFiles) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    test::TempDir dir;
    test::WriteFile(dir.File("old.MZR"), {5});
    const pid_t child = fork();
    if (child == 0) {
      InstallInterruptCleanup();
      OutputFile first;
      OutputFile second;
      if (first.Create(dir.File("old.MZR"), "") && second.Create(dir.File("new.MZR"), "")) {
        first.Write(kBytes);
        second.Write(kBytes);
        raise(signal);
      }
      _exit(3);  // not reached when the signal ends the process
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << signal;
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(test::ListFolder(dir.path()), std::vector<std::string>{"old.MZR"});
    EXPECT_EQ(test::ReadFile(dir.File("old.MZR")), std::vector<std::uint8_t>{5});
  }
}

}  // namespace
}  // namespace kav
