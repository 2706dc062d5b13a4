// The conversion batch: output names, the choice of writer, when it stops and the summary;
// the parallel batch gives what the sequential one gives.

#include "convert/batch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

#include "cli/progress_bar.h"
#include "convert/output_path.h"
#include "convert/parallel_batch.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::RecordingHost;

TEST(OutputPath, ReplacesOrAddsTheExtensionAndProgressFitsTheLine) {
  const std::string folder = "/" + std::string(600, 'f');  // long paths are kept whole
  for (const auto& [source, extension, output] : std::vector<std::array<std::string, 3>>{
           {"/art/Tree.Old.BMP", "MZR", "/art/Tree.Old.MZR"},
           {"hero.bmp", "RLE", "hero.RLE"},
           {"/art/hero.", "MZR", "/art/hero.MZR"},
           {"/Art.Dir/Hero.b", "RLE", "/Art.Dir/Hero.RLE"},
           {"/art.v2/hero", "MZR", "/art.v2/hero.MZR"},
           {"/art/.hero", "RLE", "/art/.hero.RLE"},
           {folder + "/hero.bmp", "MZR", folder + "/hero.MZR"}}) {
    EXPECT_EQ(MakeOutputPath(source, extension), output);
  }
  EXPECT_EQ(ProgressBar::Render(50, 200, 2.0, 120),
            "[######..................] 50/200 files  2.0 s  25.0 files/s");
  EXPECT_EQ(ProgressBar::Render(0, 10, 0.0, 20).size(), 19u);  // never wraps
}

// What `host` was told, `folder` written as DIR.
std::vector<std::string> Lines(const RecordingHost& host, const std::filesystem::path& folder) {
  std::vector<std::string> lines = host.events;
  for (std::string& line : lines) {
    for (std::size_t at = line.find(folder); at != std::string::npos; at = line.find(folder)) {
      line.replace(at, folder.native().size(), "DIR");
    }
  }
  return lines;
}

// The outputs in `folder`, each as its kind and width ("RLE 4").
std::map<std::string, std::string> Outputs(const std::filesystem::path& folder) {
  std::map<std::string, std::string> outputs;
  for (const std::string& name : test::ListFolder(folder)) {
    if (name.ends_with(".RLE") || name.ends_with(".MZR")) {
      const std::optional<kav_image> image = test::Open(test::ReadFile(folder / name));
      outputs[name] =
          image ? std::string(kav_kind_name(image->kind)) + " " + std::to_string(image->width)
                : "damaged";
    }
  }
  return outputs;
}

std::string Converted(const std::string& output) {
  return "status:SUCCESS!!  DIR/" + output + " converted!";
}

// Each file made in `dir` as a picture `width` x 1, or as no BMP for width 0; their paths.
std::vector<std::string> Inputs(const test::TempDir& dir,
                                const std::vector<std::pair<std::string, int>>& files) {
  std::vector<std::string> paths;
  for (const auto& [name, width] : files) {
    paths.push_back(dir.File(name));
    test::WriteFile(paths.back(), width == 0 ? test::Bytes{'n', 'o', 't'}
                                             : test::MakeBmp({.width = width, .height = 1}));
  }
  return paths;
}

// The sequential batch, with settings that fail validation (which stops no file): the
// format, the files, what the host is told and the outputs.
TEST(Batch, GoesOnOrStopsAfterAFailureAsTheFormatSays) {
  const std::vector<std::tuple<OutputFormat, std::vector<std::pair<std::string, int>>,
                               std::vector<std::string>, std::map<std::string, std::string>>>
      cases{{OutputFormat::kRle,
             {{"a.bmp", 4}, {"b.bmp", 0}, {"c.bmp", 3}},
             {"file:DIR/a.bmp", "readback", Converted("a.RLE"), "file:DIR/b.bmp", "readback",
              "message:This is not a BMP file", "status:Error while loading BMP file!",
              "file:DIR/c.bmp", "readback", Converted("c.RLE"), "status:3 files processed!"},
             {{"a.RLE", "RLE 4"}, {"c.RLE", "RLE 3"}}},
            // An MZR failure ends the batch, without summary.
            {OutputFormat::kMzr,
             {{"a.bmp", 4}, {"b.bmp", 0}, {"c.bmp", 3}},
             {"file:DIR/a.bmp", "readback", "status:DIR/a.MZR converted!", "file:DIR/b.bmp",
              "readback", "message:This is not a BMP file", "status:Error while converting!"},
             {{"a.MZR", "MZR 4"}}},
            // One file keeps the writer's status line.
            {OutputFormat::kMzr,
             {{"a.bmp", 4}},
             {"file:DIR/a.bmp", "readback", "status:DIR/a.MZR converted!"},
             {{"a.MZR", "MZR 4"}}}};
  for (const auto& [format, files, lines, outputs] : cases) {
    test::TempDir dir;
    RecordingHost host;
    host.settings.format = format;
    host.readBackResult = false;
    RunBatch(host, Inputs(dir, files));
    EXPECT_EQ(Lines(host, dir.path()), lines);
    EXPECT_EQ(Outputs(dir.path()), outputs);
  }
}

// Files that wait for points other files reach take, on every run, the course that real
// files take only sometimes. The inputs are in DIR, where l links to DIR itself; a file waits
// for its points before it starts: "commit 3" (file 3 asks to put its output in place), "end 4"
// (file 4 is converted or has failed).
TEST(ParallelBatch, StopsAndOrdersOutputsAsSequential) {
  const std::vector<std::string> failed{"message:This is not a BMP file",
                                        "status:Error while loading BMP file!"};
  const struct {
    unsigned jobs;
    bool failFast;
    std::vector<std::pair<std::string, int>> files;
    std::map<std::size_t, std::set<std::string>> waits;
    std::vector<std::string> lines;
    std::map<std::string, std::string> outputs;
    std::vector<std::pair<std::string, std::string>> links = {};  // the user's: at, to
  } cases[] = {
      // bad.bmp fails once c.bmp is at its commit point and the failure of worse.bmp has made
      // the batch abandon d.bmp: c.bmp is abandoned too, and only bad.bmp is reported.
      {4,
       true,
       {{"a.bmp", 3}, {"b.bmp", 4}, {"bad.bmp", 0}, {"c.bmp", 5}, {"worse.bmp", 0}, {"d.bmp", 6}},
       {{2, {"commit 3", "end 5"}}, {4, {"commit 5"}}},
       {"readback", "file:DIR/a.bmp", Converted("a.RLE"), "file:DIR/b.bmp", Converted("b.RLE"),
        "file:DIR/bad.bmp", failed[0], failed[1]},
       {{"a.RLE", "RLE 3"}, {"b.RLE", "RLE 4"}}},
      // pic.bmp follows pic.dib, which waits until the failure after them has made the batch
      // abandon later.bmp: both still count.
      {3,
       true,
       {{"pic.dib", 6}, {"pic.bmp", 5}, {"bad.bmp", 0}, {"later.bmp", 7}},
       {{0, {"end 3"}}, {2, {"commit 3"}}},
       {"readback", "file:DIR/pic.dib", Converted("pic.RLE"), "file:DIR/pic.bmp",
        Converted("pic.RLE"), "file:DIR/bad.bmp", failed[0], failed[1]},
       {{"pic.RLE", "RLE 5"}}},
      // One output through the linked folder l and the user's link b.RLE to a.RLE: l/b.bmp
      // follows a.bmp even though a.bmp waits until c.bmp, taken after l/b.bmp, has ended.
      {2,
       false,
       {{"a.bmp", 5}, {"l/b.bmp", 9}, {"c.bmp", 3}},
       {{0, {"end 2"}}},
       {"readback", "file:DIR/a.bmp", Converted("a.RLE"), "file:DIR/l/b.bmp", Converted("l/b.RLE"),
        "file:DIR/c.bmp", Converted("c.RLE"), "status:3 files processed!"},
       {{"a.RLE", "RLE 9"}, {"b.RLE", "RLE 9"}, {"c.RLE", "RLE 3"}},
       {{"b.RLE", "a.RLE"}}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.files[0].first);
    test::TempDir dir;
    std::filesystem::create_directory_symlink(".", dir.path() / "l");
    for (const auto& [at, to] : c.links) {
      std::filesystem::create_symlink(to, dir.path() / at);
    }
    const std::vector<std::string> paths = Inputs(dir, c.files);
    std::mutex mutex;
    std::condition_variable changed;
    std::set<std::string> reached;
    const auto reach = [&](const std::string& point) {
      const std::lock_guard lock(mutex);
      reached.insert(point);
      changed.notify_all();
    };
    const ConvertFileFunction convert = [&](const ConversionSettings& settings,
                                            const std::string& source, const std::string& output,
                                            const OutputWanted& stillWanted) {
      const auto index = static_cast<std::size_t>(std::ranges::find(paths, source) - paths.begin());
      if (c.waits.contains(index)) {
        std::unique_lock lock(mutex);
        // Only a batch that never lets the points be reached takes this long.
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] {
          return std::ranges::includes(reached, c.waits.at(index));
        })) << index;
      }
      const Conversion done = ConvertFile(settings, source, output, [&] {
        reach("commit " + std::to_string(index));
        return stillWanted();
      });
      reach("end " + std::to_string(index));
      return done;
    };
    RecordingHost host;
    RunParallelBatch(
        host, paths,
        {.jobs = c.jobs,
         .policy = {.stopAfterFormatFailure = false, .stopAfterAnyFailure = c.failFast},
         .onProgress = {},
         .convertFile = convert});
    EXPECT_EQ(Lines(host, dir.path()), c.lines);
    EXPECT_EQ(Outputs(dir.path()), c.outputs);
  }
}

}  // namespace
}  // namespace kav
