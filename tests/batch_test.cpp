// The conversion batch: output names, the choice of writer, when it stops and the summary.

#include "convert/batch.h"

#include <gtest/gtest.h>

#include "convert/output_path.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::MakeBmp;
using test::RecordingHost;

TEST(OutputPath, ReplacesTheExtensionOfTheFileName) {
  EXPECT_EQ(MakeOutputPath("/art/hero.bmp", "RLE"), "/art/hero.RLE");
  EXPECT_EQ(MakeOutputPath("/art/hero.bmp", "MZR"), "/art/hero.MZR");
  EXPECT_EQ(MakeOutputPath("/art/Tree.Old.BMP", "MZR"), "/art/Tree.Old.MZR");
  EXPECT_EQ(MakeOutputPath("hero.bmp", "MZR"), "hero.MZR");
  EXPECT_EQ(MakeOutputPath("/art/hero.", "MZR"), "/art/hero.MZR");
  EXPECT_EQ(MakeOutputPath("/Art.Dir/Hero.b", "RLE"), "/Art.Dir/Hero.RLE");
}

TEST(OutputPath, NamesWithoutExtensionGetOne) {
  EXPECT_EQ(MakeOutputPath("/art/hero", "MZR"), "/art/hero.MZR");
  EXPECT_EQ(MakeOutputPath("/art.v2/hero", "MZR"), "/art.v2/hero.MZR");
  EXPECT_EQ(MakeOutputPath("/art/.hero", "RLE"), "/art/.hero.RLE");
  EXPECT_EQ(MakeOutputPath("hero", "RLE"), "hero.RLE");
}

TEST(OutputPath, LongPathsAreKeptWhole) {
  const std::string folder = "/" + std::string(600, 'f');
  EXPECT_EQ(MakeOutputPath(folder + "/hero.bmp", "MZR"), folder + "/hero.MZR");
}

TEST(OutputPath, ExtensionByFormat) {
  EXPECT_EQ(ExtensionForFormat(kFormatRle), "RLE");
  EXPECT_EQ(ExtensionForFormat(kFormatRls), "RLE");
  EXPECT_EQ(ExtensionForFormat(kFormatMzr), "MZR");
  EXPECT_EQ(ExtensionForFormat(-1), "MZR");
  EXPECT_EQ(ExtensionForFormat(3), "MZR");
}

class Batch : public ::testing::Test {
 protected:
  test::TempDir dir;
  RecordingHost host;

  // Three files of which the second is not a BMP.
  std::vector<std::string> ThreeFilesSecondUnreadable() {
    const std::vector<std::uint8_t> bmp =
        MakeBmp(test::PictureOf(4, 2, [](int x, int) { return x; }));
    test::WriteFile(dir.File("a.bmp"), bmp);
    test::WriteFile(dir.File("b.bmp"), {'n', 'o', 't'});
    test::WriteFile(dir.File("c.bmp"), bmp);
    return {dir.File("a.bmp"), dir.File("b.bmp"), dir.File("c.bmp")};
  }
};

TEST_F(Batch, RunLengthGoesOnAfterAFailureAndSummarises) {
  host.settings.format = kFormatRle;
  const BatchOutcome outcome = RunBatch(host, ThreeFilesSecondUnreadable());
  EXPECT_EQ(outcome.taken, 3u);
  EXPECT_EQ(outcome.failed, 1u);
  EXPECT_TRUE(test::FileExists(dir.File("a.RLE")));
  EXPECT_FALSE(test::FileExists(dir.File("b.RLE")));
  EXPECT_TRUE(test::FileExists(dir.File("c.RLE")));
  EXPECT_EQ(host.statusTexts.back(), "3 files processed!");
  EXPECT_EQ(host.events[0], "file:" + dir.File("a.bmp"));
  EXPECT_EQ(host.events[1], "readback");
}

TEST_F(Batch, MzrFailureEndsTheBatchWithoutSummary) {
  host.settings.format = kFormatMzr;
  const BatchOutcome outcome = RunBatch(host, ThreeFilesSecondUnreadable());
  EXPECT_EQ(outcome.taken, 2u);
  EXPECT_TRUE(outcome.stoppedByFailure);
  EXPECT_TRUE(test::FileExists(dir.File("a.MZR")));
  EXPECT_FALSE(test::FileExists(dir.File("c.MZR")));
  EXPECT_EQ(host.statusTexts, (std::vector<std::string>{dir.File("a.MZR") + " converted!",
                                                        "Error while converting!"}));
}

TEST_F(Batch, CommandLinePolicyConvertsEveryFileOrStopsAtTheFirstFailure) {
  host.settings.format = kFormatMzr;
  const BatchOutcome all =
      RunBatch(host, ThreeFilesSecondUnreadable(), {.stopAfterMzrFailure = false});
  EXPECT_EQ(all.taken, 3u);
  EXPECT_EQ(all.failed, 1u);
  EXPECT_TRUE(test::FileExists(dir.File("c.MZR")));
  std::filesystem::remove(dir.File("c.MZR"));

  host.settings.format = kFormatRls;
  RecordingHost failFast;
  failFast.settings.format = kFormatRls;
  const BatchOutcome stopped =
      RunBatch(failFast, ThreeFilesSecondUnreadable(),
               {.stopAfterMzrFailure = false, .stopAfterAnyFailure = true});
  EXPECT_EQ(stopped.taken, 2u);
  EXPECT_TRUE(stopped.stoppedByFailure);
  EXPECT_FALSE(test::FileExists(dir.File("c.RLE")));
  EXPECT_NE(failFast.statusTexts.back(), "2 files processed!");
}

TEST_F(Batch, OneFileKeepsTheWritersStatus) {
  const std::vector<std::string> paths = ThreeFilesSecondUnreadable();
  host.settings.format = kFormatRle;
  RunBatch(host, std::span(paths).first(1));
  EXPECT_EQ(host.statusTexts,
            std::vector<std::string>{"SUCCESS!!  " + dir.File("a.RLE") + " converted!"});
}

TEST_F(Batch, NoFormatButtonSelectedMeansMzr) {
  const std::vector<std::string> paths = ThreeFilesSecondUnreadable();
  host.settings.format = -1;
  RunBatch(host, std::span(paths).first(1));
  EXPECT_TRUE(test::FileExists(dir.File("a.MZR")));
}

TEST_F(Batch, SettingsAreReadBackBeforeEveryFileEvenWhenInvalid) {
  const std::vector<std::string> paths = ThreeFilesSecondUnreadable();
  host.readBackResult = false;
  host.settings.format = kFormatRle;
  const BatchOutcome outcome = RunBatch(host, paths);
  EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "readback"), 3);
  EXPECT_EQ(outcome.taken, 3u);
  EXPECT_TRUE(test::FileExists(dir.File("c.RLE")));
}

TEST_F(Batch, LaterFileWinsTheSameOutputName) {
  test::WriteFile(dir.File("a.bmp"), MakeBmp(test::PictureOf(1, 1, [](int, int) { return 1; })));
  test::WriteFile(dir.File("a.dib"), MakeBmp(test::PictureOf(2, 1, [](int, int) { return 2; })));
  host.settings.format = kFormatMzr;
  RunBatch(host, std::vector<std::string>{dir.File("a.bmp"), dir.File("a.dib")});
  EXPECT_EQ(test::ReadFile(dir.File("a.MZR")).size(), 16404u + 2);
}

TEST_F(Batch, StopRequestEndsAfterTheCurrentFileWithSummary) {
  class StoppingHost : public RecordingHost {
   public:
    bool StopRequested() override { return true; }
  } stopping;
  stopping.settings.format = kFormatRle;
  const BatchOutcome outcome = RunBatch(stopping, ThreeFilesSecondUnreadable());
  EXPECT_EQ(outcome.taken, 1u);
  EXPECT_FALSE(test::FileExists(dir.File("c.RLE")));
}

class ListChooser : public FileChooser {
 public:
  std::optional<std::vector<std::string>> result;
  int calls = 0;
  std::optional<std::vector<std::string>> ChooseFiles() override {
    ++calls;
    return result;
  }
};

TEST_F(Batch, CancelledChooserChangesNothing) {
  ListChooser chooser;
  host.statusTexts.push_back("kept");
  const BatchOutcome outcome = OnConvertFile(host, chooser);
  EXPECT_EQ(chooser.calls, 1);
  EXPECT_EQ(outcome.taken, 0u);
  EXPECT_EQ(host.statusTexts, std::vector<std::string>{"kept"});
  EXPECT_TRUE(host.events.empty());
}

TEST_F(Batch, ChosenFilesAreConvertedInOrder) {
  ListChooser chooser;
  chooser.result = ThreeFilesSecondUnreadable();
  host.settings.format = kFormatRls;
  EXPECT_EQ(OnConvertFile(host, chooser).taken, 3u);
  std::vector<std::string> files;
  for (const std::string& event : host.events) {
    if (event.starts_with("file:")) {
      files.push_back(event.substr(5));
    }
  }
  EXPECT_EQ(files, *chooser.result);
}

}  // namespace
}  // namespace kav
