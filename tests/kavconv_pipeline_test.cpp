// kavconv convert in a build: folders walked, outputs placed with -o and --output-dir, partial
// rebuilds with -u, C headers that compilers accept, and --watch.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "cli/kavconv.h"
#include "convert/inputs.h"
#include "formats/c_header.h"
#include "support/test_support.h"

namespace kav {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool WaitFor(const std::function<bool()>& condition) {
  for (int tries = 0; tries < 500 && !condition(); ++tries) {
    std::this_thread::sleep_for(20ms);
  }
  return condition();
}

// kavconv convert ARGUMENTS in this process.
int Convert(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  std::vector<const char*> argv{"kavconv", "convert"};
  for (const std::string& argument : arguments) {
    argv.push_back(argument.c_str());
  }
  return RunKavconv(static_cast<int>(argv.size()), argv.data(), out, err);
}

// Lines written on another thread, read here as they come; each line is handed to `onLine`
// on the writer's thread first. After Close() every write fails, as on a pipe whose reader
// has gone.
class SharedText final : public std::streambuf {
 public:
  explicit SharedText(std::function<void(const std::string&)> onLine = {})
      : onLine_(std::move(onLine)) {}
  std::string Text() const {
    const std::lock_guard lock(mutex_);
    return text_;
  }
  void Close() { closed_ = true; }

 protected:
  int_type overflow(int_type c) override {
    if (closed_ || traits_type::eq_int_type(c, traits_type::eof())) {
      return traits_type::eof();
    }
    std::string line;
    {
      const std::lock_guard lock(mutex_);
      text_ += traits_type::to_char_type(c);
      line = c == '\n' ? text_.substr(text_.rfind('\n', text_.size() - 2) + 1) : "";
    }
    if (!line.empty() && onLine_) {
      onLine_(line);
    }
    return c;
  }

 private:
  std::function<void(const std::string&)> onLine_;
  mutable std::mutex mutex_;
  std::string text_;
  std::atomic<bool> closed_{false};
};

// kavconv convert --watch in this process, on a thread of its own, until End() closes its
// output and `wake` makes a change whose line then fails.
class WatchRun {
 public:
  WatchRun(std::vector<std::string> arguments, std::function<void()> wake,
           std::function<void(const std::string&)> onLine)
      : out(std::move(onLine)), wake_(std::move(wake)) {
    arguments.insert(arguments.begin(), "--watch");
    thread_ = std::jthread([this, arguments] {
      std::ostream outStream(&out), errStream(&err);
      status_ = Convert(arguments, outStream, errStream);
    });
  }
  int End() {
    out.Close();
    wake_();
    if (!WaitFor([this] { return status_ != kRunning; })) {
      std::fprintf(stderr, "The watch did not end:\n%s%s", out.Text().c_str(), err.Text().c_str());
      std::_Exit(1);  // a thread still watching cannot be left behind
    }
    return status_;
  }

  SharedText out, err;

 private:
  static constexpr int kRunning = -1;
  std::function<void()> wake_;
  std::atomic<int> status_{kRunning};
  std::jthread thread_;
};

class Pipeline : public ::testing::Test {
 protected:
  test::TempDir dir;

  // A BMP of `width` x `height` at `name` under the folder, its folders made.
  std::string Picture(const std::string& name, int width = 3, int height = 2) {
    fs::create_directories(fs::path(dir.File(name)).parent_path());
    test::WriteFile(dir.File(name), test::MakeBmp(test::PictureOf(width, height, [](int x, int y) {
                      return (x * 5 + y) % 256;
                    })));
    return dir.File(name);
  }
  std::uint16_t WidthOf(const std::string& name) {
    const test::Bytes file = test::ReadFile(dir.File(name));
    const std::optional<kav_image> image = test::Open(file);
    return image ? static_cast<std::uint16_t>(image->width) : 0;
  }
  // kavconv in this process; every mention of the folder in its lines written as "D".
  test::ProcessRun Kav(const std::vector<std::string>& arguments) {
    std::ostringstream out, err;
    const int status = Convert(arguments, out, err);
    return {status, Short(out.str()), Short(err.str())};
  }
  std::string Short(const std::string& text) const { return Replaced(text, dir.path(), "D"); }
  static std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
      text.replace(at, from.size(), to);
    }
    return text;
  }
  std::string Text(const std::string& name) const {
    const test::Bytes bytes = test::ReadFile(dir.File(name));
    return Short(std::string(bytes.begin(), bytes.end()));
  }
};

TEST_F(Pipeline, FolderWalkTakesPicturesInByteOrderAndPassesOverHiddenAndLinkedFolders) {
  for (const char* name : {"b.bmp", "A.PNG", ".h.bmp", "notes.txt", "sub/c.Bmp", "sub/deeper/d.bmp",
                           ".hidden/x.bmp", "a.b/f.bmp", "folder.bmp/e.bmp", "x.bmpx", "g.DIB",
                           "h.Gif", "i.ase", "j.ASEPRITE", "k.gi", "l.asepritex"}) {
    Picture(name);
  }
  fs::create_directory_symlink(".", dir.File("loop"));
  fs::create_symlink("sub/c.Bmp", dir.File("link.bmp"));
  fs::create_symlink("nowhere", dir.File("dangling.bmp"));
  const FolderWalk walk = WalkFolder(dir.path());
  EXPECT_EQ(walk.pictures,
            (std::vector<std::string>{"A.PNG", "a.b/f.bmp", "b.bmp", "folder.bmp/e.bmp", "g.DIB",
                                      "h.Gif", "i.ase", "j.ASEPRITE", "link.bmp", "sub/c.Bmp",
                                      "sub/deeper/d.bmp"}));
  std::vector<std::string> folders = walk.folders;
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (std::vector<std::string>{"", "a.b", "folder.bmp", "sub", "sub/deeper"}));
  fs::create_directories(dir.File("empty/.hidden"));
  Picture("empty/.hidden/x.bmp");
  const test::ProcessRun empty = Kav({dir.File("empty")});
  EXPECT_EQ(std::to_string(empty.status) + " " + empty.err,
            "0 kavconv: D/empty: no pictures here\n");
  // Each shell completes the same pictures for convert.
  for (const auto& [file, pattern] :
       {std::pair{"kavconv.bash", "_filedir '@(bmp|dib|png|gif|ase|aseprite)'"},
        {"_kavconv", "_files -g \"*.(#i)(bmp|dib|png|gif|ase|aseprite)(-.)\""},
        {"kavconv.fish",
         "__fish_complete_suffix .dib; __fish_complete_suffix .DIB; "
         "__fish_complete_suffix .png; __fish_complete_suffix .PNG; "
         "__fish_complete_suffix .gif; __fish_complete_suffix .GIF; "
         "__fish_complete_suffix .ase; __fish_complete_suffix .ASE; "
         "__fish_complete_suffix .aseprite; __fish_complete_suffix .Aseprite"}}) {
    const test::Bytes text = test::ReadFile(KAV_RES_DIR "/completions/" + std::string(file));
    EXPECT_NE(std::string(text.begin(), text.end()).find(pattern), std::string::npos) << file;
  }
}

TEST_F(Pipeline, OutputsGoWhereAskedAndTwoInputsOfOnePlacedOutputAreAUsageError) {
  Picture("one/hero.bmp", 1000, 1000);  // slow: a later file finishes first on another thread
  Picture("in/b.bmp", 3);
  Picture("in/sub/hero.bmp", 4);
  const auto run = [this](const std::string& jobs) {
    return Kav({"-j", jobs, "--output-dir", dir.File("out" + jobs), "--emit", "both", "-f", "mzr",
                dir.File("one/hero.bmp"), dir.File("in")});
  };
  const test::ProcessRun sequential = run("1");
  EXPECT_EQ(
      sequential.out,
      "D/out1/hero.MZR converted!\nD/out1/hero.MZR.h converted!\n"
      "D/out1/b.MZR converted!\nD/out1/b.MZR.h converted!\n"
      "D/out1/sub/hero.MZR converted!\nD/out1/sub/hero.MZR.h converted!\n3 files processed!\n");
  EXPECT_EQ(WidthOf("out1/hero.MZR"), 1000);
  EXPECT_EQ(WidthOf("out1/sub/hero.MZR"), 4);
  const test::ProcessRun parallel = run("4");
  EXPECT_EQ(parallel.out, Replaced(sequential.out, "out1", "out4"));
  for (const char* name : {"hero.MZR", "hero.MZR.h", "b.MZR.h", "sub/hero.MZR"}) {
    EXPECT_EQ(test::ReadFile(dir.File("out4/") + name), test::ReadFile(dir.File("out1/") + name))
        << name;
  }
  EXPECT_EQ(Kav({"-o", dir.File("o/deep/any.bin"), dir.File("one/hero.bmp")}).status, 0);
  EXPECT_EQ(WidthOf("o/deep/any.bin"), 1000);
  // Where kavconv places the outputs, two pictures of one output would lose one: nothing is
  // converted and no folder made. One picture named twice is no collision.
  Picture("ui/pic1.bmp");
  Picture("fonts/pic1.bmp");
  Picture("in/b.png");
  Picture("names/a-b.bmp");
  Picture("names/a_b.bmp");
  Picture("case/Hero.bmp");
  Picture("case/hero.bmp");
  for (const auto& [arguments, err] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--output-dir", "D/build", "--emit", "c", "D/ui", "D/fonts"},
            "kavconv: D/ui/pic1.bmp and D/fonts/pic1.bmp would both write D/build/pic1.RLE.h\n"},
           {{"--output-dir", "D/build", "D/ui/pic1.bmp", "D/fonts"},
            "kavconv: D/ui/pic1.bmp and D/fonts/pic1.bmp would both write D/build/pic1.RLE\n"},
           {{"D/in/b.png", "D/in"},
            "kavconv: D/in/b.png and D/in/b.bmp would both write D/in/b.RLE\n"},
           {{"-q", "--output-dir", "D/build", "D/ui", "D/ui/pic1.bmp"}, ""},
           // C names of one run must differ too, and beside their sources as well.
           {{"--output-dir", "D/build", "--emit", "both", "D/names"},
            "kavconv: D/names/a-b.bmp and D/names/a_b.bmp would both be named a_b_RLE\n"},
           {{"--emit", "c", "D/case/Hero.bmp", "D/ui", "D/case/hero.bmp"},
            "kavconv: D/case/Hero.bmp and D/case/hero.bmp would both be named HERO_RLE_SIZE\n"},
           {{"--emit", "c", "D/ui/pic1.bmp", "D/fonts/pic1.bmp"},
            "kavconv: D/ui/pic1.bmp and D/fonts/pic1.bmp would both be named pic1_RLE\n"},
           {{"-q", "--output-dir", "D/build", "--emit", "c", "D/ui", "D/names/a_b.bmp"}, ""}}) {
    std::vector<std::string> real;
    for (const std::string& argument : arguments) {
      real.push_back(argument.starts_with("D/") ? dir.File(argument.substr(2)) : argument);
    }
    const test::ProcessRun result = Kav(real);
    EXPECT_EQ(std::to_string(result.status) + " " + result.err, (err.empty() ? "0 " : "2 ") + err);
    EXPECT_EQ(fs::exists(dir.File("build")), err.empty()) << err;
    EXPECT_FALSE(fs::exists(dir.File("in/b.RLE")) || fs::exists(dir.File("case/Hero.RLE.h")));
    fs::remove_all(dir.File("build"));
  }
  const std::string hero = dir.File("one/hero.bmp");
  for (const auto& [usage, err] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"-o", dir.File("x"), dir.File("in")},
            "--output takes exactly one input file; for folders and several files use "
            "--output-dir"},
           {{"-o", dir.File("x"), hero, dir.File("in/b.bmp")}, "--output takes exactly one"},
           {{"--output-dir", "", dir.File("in/b.bmp")}, "--output-dir: an empty path"},
           {{"--output-dir", dir.File("od"), "-o", "../x", hero},
            "--output: with --output-dir, OUT is a path inside DIR"},
           {{"--output-dir", dir.File("od"), "-o", "/x", hero}, "--output: with --output-dir"},
           {{"--emit", "c", "--c-name", "x", dir.File("in")}, "--c-name takes exactly one"},
           {{"--c-name", "x", hero}, "--c-name needs --emit c or --emit both"},
           {{"--c-prefix", "x", hero}, "--c-prefix needs --emit c or --emit both"},
           {{"--emit", "c", "--c-name", "9x", hero}, "--c-name: 9x begins with a digit"},
           {{"--emit", "c", "--c-name", "_x", hero}, "--c-name: _x begins with _"},
           {{"--emit", "c", "--c-name", "a__b", hero}, "--c-name: a__b holds __"},
           {{"--emit", "c", "--c-name", "int", hero}, "--c-name: int is a keyword of C or C++"},
           {{"--emit", "c", "--c-name", "char8_t", hero}, "--c-name: char8_t is a keyword"},
           {{"--emit", "c", "--c-name", "typeof_unqual", hero}, "--c-name: typeof_unqual is a"},
           {{"--emit", "c", "--c-name", "", hero}, "--c-name: '' is empty"},
           {{"--emit", "c", "--c-name", "h\u00e9", hero},
            "--c-name: h\u00e9 holds a character other than an ASCII letter, digit or _"},
           {{"--emit", "c", "--c-prefix", "3d_", hero}, "--c-prefix: 3d_ begins with a digit"},
           {{"--emit", "c", "--c-prefix", "a-", hero}, "--c-prefix: a- holds a character"},
           {{"--watch", "--fail-fast", dir.File("in")}, "--fail-fast excludes --watch"}}) {
    const test::ProcessRun refused = Kav(usage);
    EXPECT_EQ(refused.status, 2) << refused.err;
    EXPECT_TRUE(refused.err.starts_with("kavconv: " + err)) << refused.err;
  }
  EXPECT_FALSE(fs::exists(dir.File("x")) || fs::exists(dir.File("in/b.RLE")) ||
               fs::exists(dir.File("one/hero.RLE.h")) || fs::exists(dir.File("od")));
}

TEST_F(Pipeline, FoldersAreMadeOnlyThroughLinksTheRulesFollow) {
  // In a shared folder, another user links "out" to a folder of the super-user's.
  if (geteuid() != 0) {
    GTEST_SKIP() << "planting another user's links needs the super-user";
  }
  const std::string out = dir.File("ks/out");
  fs::create_directories(dir.File("victim"));
  fs::create_directories(dir.File("ks"));
  ASSERT_EQ(chmod(dir.File("ks").c_str(), 01777) |
                symlink(dir.File("victim").c_str(), out.c_str()) |
                lchown(out.c_str(), 65534, 65534),
            0);
  const std::string picture = Picture("art/ui/a.bmp");
  const std::string refused = ": refusing to follow a link owned by another user\n";
  EXPECT_EQ(Kav({"-q", "--output-dir", out, dir.File("art")}).err,
            "kavconv: D/ks/out/ui: Cannot create this folder" + refused +
                "kavconv: D/art/ui/a.bmp: Cannot create output file" + refused);
  EXPECT_EQ(Kav({"-q", "-o", out + "/made/by/o/x.RLE", picture}).err,
            "kavconv: D/ks/out/made/by/o: Cannot create this folder" + refused +
                "kavconv: D/art/ui/a.bmp: Cannot create output file" + refused);
  EXPECT_TRUE(test::ListFolder(dir.File("victim")).empty());
  // The user's own link is followed, and the folders are made behind it.
  ASSERT_EQ(lchown(out.c_str(), 0, 0), 0);
  EXPECT_EQ(Kav({"-q", "--output-dir", out, dir.File("art")}).status, 0);
  EXPECT_EQ(WidthOf("victim/ui/a.RLE"), 3);
}

TEST_F(Pipeline, UpdateSkipsOnlyOutputsAsNewAsTheirSourceWrittenAlikeAndSound) {
  const std::string source = Picture("a.bmp");
  struct Step {
    std::vector<std::string> options;
    std::function<void()> change;  // made to an output first: older than the source, or damaged
    std::string out;
  };
  const auto older = [&](const char* output, std::chrono::nanoseconds by) {
    return [&, output, by] {
      fs::last_write_time(dir.File(output), fs::last_write_time(source) - by);
    };
  };
  const std::string palette = dir.File("p.hex");
  test::WriteFile(palette, {'0', '0', '0', '0', '0', '0'});
  const auto newer = [&](const char* file) {
    return [&, file] {
      fs::last_write_time(dir.File(file), fs::last_write_time(dir.File("a.RLE")) + 1ns);
    };
  };
  const auto cut = [&](const char* output, std::size_t to) {  // newer than the source
    return [&, output, to] {
      test::WriteFile(dir.File(output), test::Slice(test::ReadFile(dir.File(output)), 0, to));
    };
  };
  const std::string rle = "SUCCESS!!  D/a.RLE converted!\n";
  const std::string both = rle + "SUCCESS!!  D/a.RLE.h converted!\n";
  const std::string header = "SUCCESS!!  D/a.RLE.h converted!\n";
  // Each MZR setting in turn, so that each step differs from the last file in one alone.
  const std::vector<std::string> mzr{
      "-f", "mzr", "--start", "3", "--end", "9", "--transparent", "7", "--no-remapping"};
  const auto first = [&mzr](long count) { return std::vector(mzr.begin(), mzr.begin() + count); };
  const std::vector<Step> steps{
      // A palette file is an input of every output: one newer than an output remakes it.
      {{"--palette", palette}, older("p.hex", 1s), rle},
      {{"--palette", palette}, {}, "D/a.RLE is up to date\n"},
      {{"--palette", palette}, newer("p.hex"), rle},
      {{"--emit", "both"}, {}, both},
      {{"--emit", "both"}, older("a.RLE", 0ns), "D/a.RLE is up to date\nD/a.RLE.h is up to date\n"},
      {{"--emit", "both"}, older("a.RLE.h", 1ns), both},
      {{"--emit", "both"}, cut("a.RLE", 2), both},  // "RL" alone
      {{"--emit", "both"}, cut("a.RLE.h", 200), both},
      {{"-f", "rls"}, {}, rle},
      {{"-f", "rls", "--emit", "c"}, {}, header},
      {{"-f", "rls", "--emit", "c"}, {}, "D/a.RLE.h is up to date\n"},
      {{"-f", "rls", "--emit", "c", "--c-name", "art"}, {}, header},
      {first(2), {}, "D/a.MZR converted!\n"},
      {first(2), {}, "D/a.MZR is up to date\n"},
      {first(2), cut("a.MZR", 20), "D/a.MZR converted!\n"},  // a bare header
      {first(4), {}, "D/a.MZR converted!\n"},
      {first(6), {}, "D/a.MZR converted!\n"},
      {first(8), {}, "D/a.MZR converted!\n"},
      {first(9), {}, "D/a.MZR converted!\n"},
      {first(9), {}, "D/a.MZR is up to date\n"}};
  for (const Step& step : steps) {
    if (step.change) {
      step.change();
    }
    std::vector<std::string> arguments{"-u", source};
    arguments.insert(arguments.begin(), step.options.begin(), step.options.end());
    EXPECT_EQ(Kav(arguments).out, step.out) << ::testing::PrintToString(step.options);
  }
  EXPECT_EQ(Kav({"-u", source, source}).out, rle + "D/a.RLE is up to date\n2 files processed!\n");
}

// Each frame's output is one of the batch's outputs: it collides with another input's, -u
// judges it, and --frame names the plain one. What a file left out is said once.
TEST_F(Pipeline, EveryFrameOutputCountsForCollisionsAndUpdates) {
  fs::create_directories(dir.File("art"));
  fs::copy_file(KAV_GIF_DIR "/gif87a.gif", dir.File("art/hero.gif"));
  // Two frames of one file named alike (tags "walk!" and "walk?") collide as well.
  fs::copy_file(KAV_ASEPRITE_DIR "/names/tags-alike.aseprite", dir.File("art/tags.aseprite"));
  Picture("art/hero_1.bmp");
  const std::string alike =
      "kavconv: D/art/tags.aseprite and D/art/tags.aseprite would both write "
      "D/art/tags_walk__0.RLE\n";
  const test::ProcessRun collided = Kav({"-j", "2", dir.File("art")});
  EXPECT_EQ(collided.status, 2);
  EXPECT_EQ(
      collided.err,
      "kavconv: D/art/hero.gif and D/art/hero_1.bmp would both write D/art/hero_1.RLE\n" + alike);
  // Beside their sources too, where nothing else is planned.
  const test::ProcessRun beside = Kav({dir.File("art/hero_1.bmp"), dir.File("art/tags.aseprite")});
  EXPECT_EQ(std::pair(beside.status, beside.err), std::pair(2, alike));
  EXPECT_EQ(test::ListFolder(dir.File("art")),
            (std::vector<std::string>{"hero.gif", "hero_1.bmp", "tags.aseprite"}));
  fs::remove(dir.File("art/tags.aseprite"));
  fs::remove(dir.File("art/hero_1.bmp"));
  const std::string written =
      "SUCCESS!!  D/art/hero_0.RLE converted!\nSUCCESS!!  D/art/hero_1.RLE converted!\n";
  const std::string upToDate = "D/art/hero_0.RLE is up to date\nD/art/hero_1.RLE is up to date\n";
  struct Step {
    std::vector<std::string> options;
    std::function<void()> change;
    std::string out;
  };
  const std::vector<Step> steps{
      {{}, {}, written},
      {{"-u"}, {}, upToDate},
      {{"-u"}, [&] { fs::remove(dir.File("art/hero_1.RLE")); }, written},
      {{"-u", "--frame", "1"}, {}, "SUCCESS!!  D/art/hero.RLE converted!\n"},
      {{"-u", "--frame", "1"}, {}, "D/art/hero.RLE is up to date\n"},
  };
  for (const Step& step : steps) {
    if (step.change) {
      step.change();
    }
    std::vector<std::string> arguments = step.options;
    arguments.push_back(dir.File("art/hero.gif"));
    EXPECT_EQ(Kav(arguments).out, step.out) << ::testing::PrintToString(step.options);
  }
  // What a sprite left out is said once for the file, however many frames it has.
  fs::copy_file(KAV_ASEPRITE_DIR "/rgba.aseprite", dir.File("art/sprite.aseprite"));
  EXPECT_EQ(Kav({dir.File("art/sprite.aseprite")}).err,
            "kavconv: D/art/sprite.aseprite: tilemap layers and chunks of unknown kinds were "
            "skipped\n");
  EXPECT_EQ(Kav({"-q", dir.File("art/sprite.aseprite")}).err, "");
}

// Two same-named pictures in two folders, and a name that is no identifier as it stands, in
// one program: each array holds its own file's bytes.
TEST_F(Pipeline, CHeadersOfATreeCompileTogetherInEveryDialectAndHoldTheirFilesBytes) {
  Picture("art/ui/pic1.bmp", 300);
  Picture("art/fonts/pic1.bmp", 7, 9);
  Picture("art/9 lives-\u00e9.bmp", 5);
  ASSERT_EQ(Kav({"--emit", "both", "--output-dir", dir.File("out"), dir.File("art")}).status, 0);
  const std::string program =
      "#include <stdio.h>\n#include <string.h>\n#include \"ui/pic1.RLE.h\"\n"
      "#include \"fonts/pic1.RLE.h\"\n#include \"9 lives-\u00e9.RLE.h\"\n"
      "#if __cplusplus >= 201103L || __STDC_VERSION__ >= 201112L\n"
      "#define ALIGNED(array) (__alignof__(array) >= 4)\n#else\n#define ALIGNED(array) 1\n"
      "#endif\nstatic int differs(const char* path, const unsigned char* array, size_t size) {\n"
      "  static unsigned char bytes[1 << 16];\n  FILE* file = fopen(path, \"rb\");\n"
      "  size_t read = fread(bytes, 1, sizeof bytes, file);\n  fclose(file);\n"
      "  return read != size || memcmp(bytes, array, size) != 0;\n}\n"
      "int main(void) {\n"
      "  return sizeof ui_pic1_RLE != UI_PIC1_RLE_SIZE || !ALIGNED(ui_pic1_RLE) ||\n"
      "         !ALIGNED(fonts_pic1_RLE) || differs(\"ui/pic1.RLE\", ui_pic1_RLE, "
      "UI_PIC1_RLE_SIZE) ||\n"
      "         differs(\"fonts/pic1.RLE\", fonts_pic1_RLE, FONTS_PIC1_RLE_SIZE) ||\n"
      "         differs(\"9 lives-\u00e9.RLE\", kav_9_lives_RLE, KAV_9_LIVES_RLE_SIZE);\n}\n";
  test::WriteFile(dir.File("check.c"), test::Bytes(program.begin(), program.end()));
  fs::copy_file(dir.File("check.c"), dir.File("check.cpp"));
  const std::string flags =
      " -Wall -Wextra -pedantic -Werror -I" + dir.File("out") + " -o " + dir.File("check") + " ";
  const std::string run = " && cd " + dir.File("out") + " && " + dir.File("check");
  for (const char* compiler :
       {"cc -std=c89", "cc -std=c99", "cc -std=c11", "c++ -std=c++98", "c++ -std=c++11"}) {
    const std::string source = dir.File(compiler[1] == '+' ? "check.cpp" : "check.c");
    EXPECT_EQ(std::system((compiler + flags + source + run).c_str()), 0) << compiler;
  }
}

// Colour tables kept per palette give every file the bytes that tables built for it give:
// many files of one palette, palettes that differ in one late entry alone, and more palettes
// than are kept, taken in turn, converted two at a time.
TEST_F(Pipeline, PaletteTablesKeptGiveTheBytesOfTablesBuiltForEachFile) {
  constexpr int kFiles = 60;
  fs::create_directory(dir.File("in"));
  for (int i = 0; i < kFiles; ++i) {
    test::BmpPicture spec =
        test::PictureOf(9, 4, [i](int x, int y) { return (x * 31 + y * 7 + i) % 256; });
    for (int entry = 0; entry < 256; ++entry) {
      spec.palette.push_back({static_cast<std::uint8_t>(entry),
                              static_cast<std::uint8_t>(255 - entry),
                              static_cast<std::uint8_t>(entry * 7)});
    }
    const int palette = i % 3 == 0 ? 0 : i % 20;
    spec.palette[static_cast<std::size_t>(255 - palette)].blue ^= 0x80;
    test::WriteFile(dir.File("in/" + std::to_string(i) + ".bmp"), test::MakeBmp(spec));
  }
  for (const std::string format : {"mzr", "rle", "rls"}) {
    for (const std::string tables : {"kept", "built"}) {
      test::KeepPaletteTables(tables == "kept");
      EXPECT_EQ(Kav({"-q", "-j", "2", "-f", format, "--output-dir", dir.File(tables + format),
                     dir.File("in")})
                    .status,
                0);
    }
    test::KeepPaletteTables(true);
    const std::string extension = format == "mzr" ? ".MZR" : ".RLE";
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = "/" + std::to_string(i) + extension;
      EXPECT_EQ(test::ReadFile(dir.File("kept" + format + name)),
                test::ReadFile(dir.File("built" + format + name)))
          << format << name;
    }
  }
}

// A header's array and, upper-cased, its size macro and guard, wherever the output goes.
TEST_F(Pipeline, CNamesFollowTheOutputsPathAsUnreservedIdentifiers) {
  Picture("art/ui/pic1.bmp");
  Picture("art/_foo.bmp");
  Picture("art/3d.bmp");
  Picture("art/a--b \u00e9\u00e9.bmp");
  const auto names = [this](const std::string& header) {
    const std::string text = Text(header);
    const std::optional<CHeaderStart> start = ReadCHeaderStart(text, 0);
    const std::size_t size = text.find("\n\n#define ") + 10;
    return text.substr(8, text.find('\n') - 8) + " " +
           text.substr(size, text.find(' ', size) - size) + " " + (start ? start->name : "?");
  };
  for (const auto& [arguments, header, expected] :
       std::vector<std::tuple<std::vector<std::string>, std::string, std::string>>{
           {{"--output-dir", "D/out", "D/art"},
            "out/ui/pic1.RLE.h",
            "UI_PIC1_RLE_H UI_PIC1_RLE_SIZE ui_pic1_RLE"},
           {{"D/art"}, "art/ui/pic1.RLE.h", "UI_PIC1_RLE_H UI_PIC1_RLE_SIZE ui_pic1_RLE"},
           {{"D/art/ui/pic1.bmp"}, "art/ui/pic1.RLE.h", "PIC1_RLE_H PIC1_RLE_SIZE pic1_RLE"},
           {{"--output-dir", "D/out", "D/art/ui/pic1.bmp"},
            "out/pic1.RLE.h",
            "PIC1_RLE_H PIC1_RLE_SIZE pic1_RLE"},
           {{"--c-prefix", "game_", "-f", "mzr", "D/art"},
            "art/ui/pic1.MZR.h",
            "GAME_UI_PIC1_MZR_H GAME_UI_PIC1_MZR_SIZE game_ui_pic1_MZR"},
           {{"--c-prefix", "g", "D/art"}, "art/_foo.RLE.h", "G_FOO_RLE_H G_FOO_RLE_SIZE g_foo_RLE"},
           {{"D/art"}, "art/_foo.RLE.h", "KAV_FOO_RLE_H KAV_FOO_RLE_SIZE kav_foo_RLE"},
           {{"D/art"}, "art/3d.RLE.h", "KAV_3D_RLE_H KAV_3D_RLE_SIZE kav_3d_RLE"},
           {{"D/art"}, "art/a--b \u00e9\u00e9.RLE.h", "A_B_RLE_H A_B_RLE_SIZE a_b_RLE"},
           {{"-o", "D/while", "D/art/3d.bmp"}, "while.h", "WHILE_H WHILE_SIZE while_"},
           {{"-o", "D/xor_eq", "D/art/3d.bmp"}, "xor_eq.h", "XOR_EQ_H XOR_EQ_SIZE xor_eq_"},
           {{"-o", "D/while2", "D/art/3d.bmp"}, "while2.h", "WHILE2_H WHILE2_SIZE while2"},
           {{"--c-name", "hero", "--c-prefix", "g_", "D/art/3d.bmp"},
            "art/3d.RLE.h",
            "G_HERO_H G_HERO_SIZE g_hero"},
           {{"--output-dir", "D/out", "-o", "ui/x.MZR", "D/art/3d.bmp"},
            "out/ui/x.MZR.h",
            "UI_X_MZR_H UI_X_MZR_SIZE ui_x_MZR"}}) {
    std::vector<std::string> real{"-q", "--emit", "c"};
    for (const std::string& argument : arguments) {
      real.push_back(argument.starts_with("D/") ? dir.File(argument.substr(2)) : argument);
    }
    ASSERT_EQ(Kav(real).status, 0) << ::testing::PrintToString(arguments);
    EXPECT_EQ(names(header), expected) << ::testing::PrintToString(arguments);
  }
}

TEST_F(Pipeline, WatchLosesNothingToOverflowsRemovedFoldersOrFilesStillBeingWritten) {
  Picture("art/old.bmp");
  const std::string late = dir.File("art/f.bmp");
  // Each runs while the line before it is printed, that is while the watch is busy.
  const std::map<std::string, std::function<void()>> whilePrinting{
      {"old",
       [&] {  // events lost, as in an overflow
         test::LoseWatchEvents(1 << 30);
         Picture("art/a.bmp"), Picture("art/sub/b.bmp"), Picture("art/c.bmp");
       }},
      {"d", [&] { Picture("art/e.bmp"), Picture(late, 5), Picture("art/g.bmp"); }},
      {"e", [&] { test::WriteFile(late, test::Slice(test::ReadFile(late), 0, 100)); }},
      {"g", [&] { Picture(late, 5), Picture("art/new/deep/h.bmp"); }}};
  WatchRun watch(
      {"-f", "mzr", "--output-dir", dir.File("out"), dir.File("art")},
      [&] { Picture("art/wake.bmp"); },
      [&](const std::string& line) {
        for (const auto& [name, change] : whilePrinting) {
          if (line.ends_with("/" + name + ".MZR converted!\n")) {
            change();
          }
        }
      });
  EXPECT_TRUE(WaitFor([&] { return watch.out.Text().ends_with("sub/b.MZR converted!\n"); }));
  test::LoseWatchEvents(0);
  fs::remove_all(dir.File("art"));  // and made again
  Picture("art/d.bmp");
  EXPECT_TRUE(WaitFor([&] { return watch.out.Text().ends_with("/h.MZR converted!\n"); }));
  EXPECT_EQ(watch.End(), 1);
  EXPECT_EQ(Short(watch.out.Text()),
            "D/out/old.MZR converted!\nD/out/a.MZR converted!\nD/out/c.MZR converted!\n"
            "D/out/sub/b.MZR converted!\nD/out/d.MZR converted!\nD/out/e.MZR converted!\n"
            "D/out/g.MZR converted!\nD/out/f.MZR converted!\nD/out/new/deep/h.MZR converted!\n");
  EXPECT_EQ(WidthOf("out/f.MZR"), 5);
  EXPECT_EQ(Short(watch.err.Text()),
            "Watching for changes; press Ctrl-C to stop.\nkavconv: too many changes at once (the "
            "system's event queue overflowed); looking at every watched folder again\n");
}

TEST_F(Pipeline, WatchLimitIsNamedAndAClosedOutputEndsBeforeWatching) {
  Picture("art/old.bmp");
  test::RefuseFolderWatches(true);
  SharedText out, err;
  out.Close();
  std::ostream outStream(&out), errStream(&err);
  Convert({"--watch", dir.File("art")}, outStream, errStream);
  test::RefuseFolderWatches(false);
  EXPECT_EQ(Short(err.Text()),
            "kavconv: D/art: Cannot watch this folder: too many folders to watch (raise "
            "fs.inotify.max_user_watches)\n");
}

TEST_F(Pipeline, WatchConvertsWhatChangesAndEndsCleanlyOnInterrupt) {
  Picture("art/old.bmp");
  const pid_t child = test::StartKavconv({"convert", "--watch", "-f", "mzr", dir.File("art")},
                                         dir.File("out"), dir.File("err"));
  ASSERT_TRUE(
      WaitFor([&] { return Text("err") == "Watching for changes; press Ctrl-C to stop.\n"; }));
  Picture("art/.saving", 7);
  fs::rename(dir.File("art/.saving"), dir.File("art/new.bmp"));  // as editors save
  EXPECT_TRUE(WaitFor([&] { return Text("out").ends_with("D/art/new.MZR converted!\n"); }));
  kill(child, SIGINT);
  EXPECT_EQ(test::ExitStatusOf(child), 0);
  EXPECT_EQ(Text("out"), "D/art/old.MZR converted!\nD/art/new.MZR converted!\n");
  EXPECT_EQ(WidthOf("art/new.MZR"), 7);
  EXPECT_EQ(test::ListFolder(dir.File("art")),
            (std::vector<std::string>{"new.MZR", "new.bmp", "old.MZR", "old.bmp"}));
}

}  // namespace
}  // namespace kav
