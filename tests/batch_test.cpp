// The conversion batch: output names, the choice of writer, when it stops and the summary,
// and the parallel batch giving what the sequential one gives.

#include "convert/batch.h"

#include <gtest/gtest.h>

#include <random>

#include "cli/progress_bar.h"
#include "convert/output_path.h"
#include "convert/parallel_batch.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::FileExists;
using test::RecordingHost;

TEST(OutputPath, ReplacesOrAddsTheExtension) {
  const std::string folder = "/" + std::string(600, 'f');  // long paths are kept whole
  const std::vector<std::array<std::string, 3>> cases{
      {"/art/hero.bmp", "RLE", "/art/hero.RLE"},
      {"/art/Tree.Old.BMP", "MZR", "/art/Tree.Old.MZR"},
      {"hero.bmp", "MZR", "hero.MZR"},
      {"/art/hero.", "MZR", "/art/hero.MZR"},
      {"/Art.Dir/Hero.b", "RLE", "/Art.Dir/Hero.RLE"},
      {"/art/hero", "MZR", "/art/hero.MZR"},
      {"/art.v2/hero", "MZR", "/art.v2/hero.MZR"},
      {"/art/.hero", "RLE", "/art/.hero.RLE"},
      {"hero", "RLE", "hero.RLE"},
      {folder + "/hero.bmp", "MZR", folder + "/hero.MZR"}};
  for (const auto& [source, extension, output] : cases) {
    EXPECT_EQ(MakeOutputPath(source, extension), output);
  }
  const std::vector<std::string_view> extensions{
      ExtensionForFormat(kFormatRle), ExtensionForFormat(kFormatRls),
      ExtensionForFormat(kFormatMzr), ExtensionForFormat(-1), ExtensionForFormat(3)};
  EXPECT_EQ(extensions, (std::vector<std::string_view>{"RLE", "RLE", "MZR", "MZR", "MZR"}));
}

class Batch : public ::testing::Test {
 protected:
  test::TempDir dir;
  RecordingHost host;

  // Three files of which the second is not a BMP.
  std::vector<std::string> ThreeFilesSecondUnreadable() {
    const test::Bytes bmp = test::MakeBmp(test::PictureOf(4, 2, [](int x, int) { return x; }));
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
  EXPECT_FALSE(FileExists(dir.File("b.RLE")));
  const auto converted = [this](const std::string& name) {
    return "status:SUCCESS!!  " + dir.File(name + ".RLE") + " converted!";
  };
  EXPECT_EQ(
      host.events,
      (std::vector<std::string>{
          "file:" + dir.File("a.bmp"), "readback", converted("a"), "file:" + dir.File("b.bmp"),
          "readback", "message:This is not a BMP file", "status:Error while loading BMP file!",
          "file:" + dir.File("c.bmp"), "readback", converted("c"), "status:3 files processed!"}));
}

TEST_F(Batch, MzrFailureEndsTheBatchWithoutSummary) {
  host.settings.format = kFormatMzr;
  const BatchOutcome outcome = RunBatch(host, ThreeFilesSecondUnreadable());
  EXPECT_EQ(outcome.taken, 2u);
  EXPECT_TRUE(outcome.stoppedByFailure);
  EXPECT_FALSE(FileExists(dir.File("c.MZR")));
  EXPECT_EQ(host.statusTexts, (std::vector<std::string>{dir.File("a.MZR") + " converted!",
                                                        "Error while converting!"}));
}

TEST_F(Batch, OneFileKeepsTheWritersStatusAndFormatMinusOneIsMzr) {
  const std::vector<std::string> paths = ThreeFilesSecondUnreadable();
  for (const std::int32_t format : {kFormatRls, -1}) {
    RecordingHost one;
    one.settings.format = format;
    RunBatch(one, std::span(paths).first(1));
    const std::string output = dir.File(format == -1 ? "a.MZR" : "a.RLE");
    EXPECT_EQ(one.statusTexts, std::vector<std::string>{(format == -1 ? "" : "SUCCESS!!  ") +
                                                        output + " converted!"});
    EXPECT_EQ(test::ReadFile(output).at(1), format == -1 ? 'A' : 'S');  // KAV8BMP or RS
  }
}

TEST_F(Batch, SettingsAreReadBackBeforeEveryFileEvenWhenInvalid) {
  host.readBackResult = false;
  const BatchOutcome outcome = RunBatch(host, ThreeFilesSecondUnreadable());
  EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "readback"), 3);
  EXPECT_EQ(outcome.taken, 3u);
  EXPECT_TRUE(FileExists(dir.File("c.RLE")));
}

TEST_F(Batch, LaterFileWinsTheSameOutputName) {
  test::WriteFile(dir.File("a.bmp"),
                  test::MakeBmp(test::PictureOf(1, 1, [](int, int) { return 1; })));
  test::WriteFile(dir.File("a.dib"),
                  test::MakeBmp(test::PictureOf(2, 1, [](int, int) { return 2; })));
  host.settings.format = kFormatMzr;
  RunBatch(host, std::vector<std::string>{dir.File("a.bmp"), dir.File("a.dib")});
  EXPECT_EQ(test::ReadFile(dir.File("a.MZR")).size(), kMzrRowsOffset + 2);
}

struct BatchRecord {
  BatchOutcome outcome;
  std::vector<std::string> events;  // read backs left out: the parallel batch reads back once
  std::map<std::string, test::Bytes> outputs;
  std::vector<std::size_t> progress;
};

// 200 inputs: varied pictures, some broken files, and pairs such as n.bmp and n.dib that
// name the same output, converted with `jobs` at once.
BatchRecord ConvertMany(std::int32_t format, unsigned jobs) {
  test::TempDir dir;
  std::mt19937 random(20261206);
  std::vector<std::string> paths;
  for (int i = 0; i < 200; ++i) {
    paths.push_back(dir.File("f" + std::to_string(i % 170) + (i < 170 ? ".bmp" : ".dib")));
    const unsigned seed = static_cast<unsigned>(random());
    const auto pixel = [seed](int x, int y) {
      const unsigned h = (seed ^ static_cast<unsigned>(x * 31 + y * 7)) % 11;
      return h < 6 ? 255 : h < 8 ? 250 : static_cast<int>(h * 13);
    };
    const auto width = static_cast<std::int32_t>(1 + seed % 300);
    const auto height = static_cast<std::int32_t>(1 + seed / 300 % 20);
    test::WriteFile(paths.back(), i % 23 == 5
                                      ? test::Bytes{'B', 'M', 0}
                                      : test::MakeBmp(test::PictureOf(width, height, pixel)));
  }
  RecordingHost host;
  host.settings.format = format;
  BatchRecord record;
  record.outcome = RunParallelBatch(host, paths,
                                    {.jobs = jobs,
                                     .policy = {.stopAfterMzrFailure = false},
                                     .onProgress = [&](std::size_t done, std::size_t total) {
                                       EXPECT_EQ(total, 200u);
                                       record.progress.push_back(done);
                                     }});
  const std::string prefix = dir.path().string();
  for (std::string event : host.events) {
    for (std::size_t at = event.find(prefix); at != std::string::npos; at = event.find(prefix)) {
      event.replace(at, prefix.size(), "DIR");
    }
    if (event != "readback") {
      record.events.push_back(event);
    }
  }
  for (const std::string& name : test::ListFolder(dir.path())) {
    if (!name.ends_with(".bmp") && !name.ends_with(".dib")) {
      record.outputs[name] = test::ReadFile(dir.File(name));
    }
  }
  return record;
}

TEST(ParallelBatch, SameFilesAndLinesAsSequential) {
  for (const std::int32_t format : {kFormatMzr, kFormatRls}) {
    SCOPED_TRACE(format);
    const BatchRecord sequential = ConvertMany(format, 1);
    const BatchRecord parallel = ConvertMany(format, 4);
    EXPECT_EQ(parallel.outcome.taken, 200u);
    EXPECT_EQ(parallel.outcome.failed, 9u);
    EXPECT_EQ(sequential.outcome.failed, 9u);
    // Inputs 51, 74, 97, 120, 143 and 166 are broken and have no twin: 164 outputs.
    EXPECT_EQ(parallel.outputs.size(), 164u);
    EXPECT_TRUE(parallel.outputs == sequential.outputs);
    EXPECT_EQ(parallel.events, sequential.events);
    EXPECT_EQ(parallel.events.back(), "status:200 files processed!");
    EXPECT_TRUE(std::is_sorted(parallel.progress.begin(), parallel.progress.end()));
    EXPECT_EQ(parallel.progress.back(), 200u);
  }
  EXPECT_EQ(ProgressBar::Render(50, 200, 2.0, 120),
            "[######..................] 50/200 files  2.0 s  25.0 files/s");
  EXPECT_EQ(ProgressBar::Render(200, 200, 4.0, 120),
            "[########################] 200/200 files  4.0 s  50.0 files/s");
  EXPECT_EQ(ProgressBar::Render(0, 10, 0.0, 20).size(), 19u);  // never wraps
}

}  // namespace
}  // namespace kav
