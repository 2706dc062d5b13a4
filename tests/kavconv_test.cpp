// kavconv end to end, as processes in a temporary folder (in this process where allocation
// failures are injected): convert, info and render on sound, damaged and huge files, and on a
// failing or hostile system. Nothing partial is ever seen; an older output stays whole.

#include <fcntl.h>
#include <grp.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "cli/kavconv.h"
#include "input/read_picture.h"
#include "platform/memory_budget.h"
#include "platform/standard_descriptors.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::Bytes;
using Rgba = std::array<std::uint8_t, 4>;

struct Png {
  std::uint32_t width = 0, height = 0;
  Bytes rgba;
  Rgba At(std::uint32_t x, std::uint32_t y) const {
    const std::size_t at = (std::size_t{y} * width + x) * 4;
    return {rgba.at(at), rgba.at(at + 1), rgba.at(at + 2), rgba.at(at + 3)};
  }
};

// 5 x 3, indices 0 to 4 and 255, with strong distinct colours.
test::BmpPicture Palette5() {
  test::BmpPicture spec =
      test::PictureOf(5, 3, [](int x, int y) { return y == 1 && x == 2 ? 255 : (x + y) % 5; });
  spec.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {200, 100, 50}, {13, 77, 201}};
  return spec;
}

// Runs kavconv in a fresh folder; file names in the tests are relative to it.
class Kavconv : public ::testing::Test {
 protected:
  test::TempDir dir;
  test::TempDir scratch;  // kavconv's stdout and stderr

  test::ProcessRun Kav(const std::vector<std::string>& arguments,
                       const std::function<bool()>& prepare = {}) {
    return test::RunKavconv(arguments, scratch, [&] {
      return chdir(dir.path().c_str()) == 0 && (!prepare || prepare());
    });
  }

  // kavconv run in this process with its `failing`-th block request failing.
  static test::ProcessRun InProcess(std::uint64_t failing,
                                    const std::vector<std::string>& arguments) {
    std::vector<const char*> argv{"kavconv"};
    for (const std::string& argument : arguments) {
      argv.push_back(argument.c_str());
    }
    std::ostringstream out, err;
    test::AllocationFaults::FailNth(failing);
    const int status = RunKavconv(static_cast<int>(argv.size()), argv.data(), out, err);
    test::AllocationFaults::Clear();
    return {status, out.str(), err.str()};
  }

  // A picture without runs, so that every format needs about a byte per pixel.
  std::string Picture(const std::string& name, int width = 5, int height = 3, int seed = 0) {
    test::WriteFile(dir.File(name),
                    test::MakeBmp(test::PictureOf(width, height, [seed](int x, int y) {
                      return (x * 7 + y * 13 + seed) % 240;
                    })));
    return name;
  }

  // `spec` in FORMAT.bmp converted to `format` with the `extra` options; the output's name.
  std::string Converted(const std::string& format, const std::vector<std::string>& extra = {},
                        const test::BmpPicture& spec = Palette5()) {
    test::WriteFile(dir.File(format + ".bmp"), test::MakeBmp(spec));
    std::vector<std::string> arguments{"convert", "-q", "-f", format, format + ".bmp"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    EXPECT_EQ(Kav(arguments).status, 0);
    return format + (format == "mzr" ? ".MZR" : ".RLE");
  }

  Bytes Read(const std::string& name) const { return test::ReadFile(dir.File(name)); }

  bool IsWholeFile(const std::string& name, std::uint16_t width, std::uint16_t height) const {
    const std::optional<kav_image> image = test::Open(Read(name));  // its fields only
    return image && image->width == width && image->height == height;
  }

  Png ReadPng(const std::string& name) const {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    EXPECT_NE(png_image_begin_read_from_file(&image, dir.File(name).c_str()), 0) << name;
    image.format = PNG_FORMAT_RGBA;
    Png png{image.width, image.height, Bytes(PNG_IMAGE_SIZE(image))};
    EXPECT_NE(png_image_finish_read(&image, nullptr, png.rgba.data(), 0, nullptr), 0) << name;
    return png;
  }

  bool Exists(const std::string& name) const { return std::filesystem::exists(dir.File(name)); }

  // The exit status, a space and what went to stderr.
  static std::string Err(const test::ProcessRun& r) {
    return std::to_string(r.status) + " " + r.err;
  }
};

class KavconvTools : public Kavconv {};

TEST_F(Kavconv, ConvertsWithTheGivenSettingsOrTheDialogsDefaults) {
  const test::ProcessRun run =
      Kav({"convert", "--format", "mzr", "--start", "3", "--end", "4", "--transparent", "5",
           "--no-remapping", Picture("a.bmp"), Picture("b.bmp")});
  EXPECT_EQ(run.out, "a.MZR converted!\nb.MZR converted!\n2 files processed!\n");
  EXPECT_EQ(Err(run), "0 ");
  EXPECT_EQ(test::Slice(Read("a.MZR"), 12, 20), (Bytes{0, 0, 3, 0, 4, 0, 5, 0}));
  EXPECT_TRUE(IsWholeFile("a.MZR", 5, 3));
  EXPECT_EQ(Kav({"convert", "-f", "mzr", "a.bmp"}).status, 0);
  EXPECT_EQ(test::Slice(Read("a.MZR"), 12, 20), (Bytes{1, 0, 240, 0, 255, 0, 0, 0}));
  EXPECT_EQ(Kav({"convert", "a.bmp"}).out, "SUCCESS!!  a.RLE converted!\n");
  EXPECT_EQ(Read("a.RLE").at(1), 'L');
  EXPECT_EQ(Kav({"convert", "-f", "RLS", "a.bmp"}).status, 0);
  EXPECT_EQ(Read("a.RLE").at(1), 'S');
}

TEST_F(Kavconv, FailuresGoToStderrAndTheRestIsConverted) {
  test::WriteFile(dir.File("b.bmp"), {'x'});
  const test::ProcessRun run =
      Kav({"convert", "-f", "mzr", Picture("a.bmp"), "b.bmp", Picture("c.bmp")});
  EXPECT_EQ(Err(run), "1 kavconv: b.bmp: This is not a BMP file\n");
  EXPECT_EQ(run.out,
            "a.MZR converted!\nError while converting!\nc.MZR converted!\n3 files processed!\n");
  // A failure shown in the status line alone gets its error line too, even with -q.
  const test::ProcessRun quiet =
      Kav({"convert", "-q", "a.bmp", "missing.bmp", Picture("empty.bmp", 0, 3)});
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(Err(quiet),
            "1 kavconv: missing.bmp: Cannot open this file: No such file or directory\n"
            "kavconv: empty.bmp: Error: this image has no pixels!\n");
  // --fail-fast starts no new file after a failure; one running in parallel is abandoned.
  for (const std::string jobs : {"1", "2"}) {
    const test::ProcessRun failFast = Kav({"convert", "--fail-fast", "-j", jobs, "b.bmp", "c.bmp"});
    EXPECT_EQ(Err(failFast) + failFast.out,
              "1 kavconv: b.bmp: This is not a BMP file\nError while loading BMP file!\n");
    EXPECT_FALSE(Exists("c.RLE"));
  }
  // The status line after a failed read names the kind the file was taken for.
  test::WriteFile(dir.File("d.png"), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0});
  const test::ProcessRun png = Kav({"convert", "d.png", "c.bmp"});
  EXPECT_EQ(Err(png) + png.out,
            "1 kavconv: d.png: This PNG file is corrupt\nError while loading PNG file!\n"
            "SUCCESS!!  c.RLE converted!\n2 files processed!\n");
}

TEST_F(Kavconv, UsageErrorsConvertNothing) {
  Picture("a.bmp");
  // An unknown option or subcommand is named, with the closest known one two edits away at
  // most, a swap of neighbours counting as one edit.
  for (const auto& [arguments, line] :
       std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"convert", "--start", "256", "a.bmp"}, "--start: Value 256 not in range 0 to 255"},
           {{"convert", "--end", "-1", "a.bmp"}, "--end: Value -1 not in range 0 to 255"},
           {{"convert", "--transparent", "x", "a.bmp"},
            "--transparent: Value x not in range 0 to 255"},
           {{"convert", "--alpha-threshold", "0", "a.bmp"},
            "--alpha-threshold: Value 0 not in range 1 to 255"},
           {{"convert", "--alpha-threshold", "256", "a.bmp"},
            "--alpha-threshold: Value 256 not in range 1 to 255"},
           {{"convert", "--format", "png", "a.bmp"}, "--format: png not in {mzr,rle,rls}"},
           {{"convert", "--format", "1", "a.bmp"}, "--format: 1 not in {mzr,rle,rls}"},
           {{"convert", "--dither", "fs", "a.bmp"}, "--dither: fs not in {none,ordered,diffusion}"},
           {{"convert", "--palette", "a.bmp", "--keep-indices", "a.bmp"},
            "--palette gives pictures new indices: it cannot be used with --keep-indices"},
           {{"convert"}, "FILE is required"},
           {{"convert", "-o", "", "a.bmp"}, "--output: an empty path names no file"},
           {{"render", "a.bmp", "-o", ""}, "--output: an empty path names no file"},
           {{"unknown", "a.bmp"}, "unknown subcommand unknown"},
           {{"covnert", "a.bmp"}, "unknown subcommand covnert; did you mean convert?"},
           {{"rendr", "a.bmp"}, "unknown subcommand rendr; did you mean render?"},
           {{"--verison"}, "unknown option --verison; did you mean --version?"},
           {{"convert", "--fromat=rle", "a.bmp"},
            "The following argument was not expected: --fromat=rle; did you mean --format?"},
           {{"convert", "--ofrmta", "rle", "a.bmp"},
            "The following argument was not expected: --ofrmta; did you mean --format?"},
           {{"convert", "--c-prfix", "x", "a.bmp"},
            "The following argument was not expected: --c-prfix; did you mean --c-prefix?"},
           {{"convert", "--fomrtx", "a.bmp"}, "The following argument was not expected: --fomrtx"},
           {{"render", "--tabel", "2", "a.bmp"}, "unknown option --tabel; did you mean --table?"},
           {{"info", "--josn", "a.bmp"},
            "The following argument was not expected: --josn; did you mean --json?"},
           {{}, "A subcommand is required"}}) {
    const test::ProcessRun run = Kav(arguments);
    EXPECT_EQ(std::to_string(run.status) + " " + run.err,
              "2 kavconv: " + line + "\nRun with --help for more information.\n")
        << ::testing::PrintToString(arguments);
  }
  EXPECT_EQ(test::ListFolder(dir.path()), std::vector<std::string>{"a.bmp"});
  const test::ProcessRun version = Kav({"--version"});
  EXPECT_EQ(Err(version) + version.out, "0 1.0.0.1\n");
}

// Five colours, the last a twin of the second, written as each kind of palette file.
struct PaletteFileText {
  std::string name;
  Bytes bytes;
};
std::vector<PaletteFileText> FivePaletteFiles() {
  const std::string gimp = "GIMP Palette\n0 0 0\n250 10 10\n10 10 250\n10 250 10\n250 10 10\n";
  const std::string jasc =
      "JASC-PAL\r\n0100\r\n5\r\n0 0 0\r\n250 10 10\r\n10 10 250\r\n"
      "10 250 10\r\n250 10 10\r\n";
  const std::string hex = "000000\n#FA0A0A\n0a0afa\n0afa0a\nfa0a0a\n";
  Bytes act(772);
  const std::vector<std::uint8_t> colours{0,   0,  0,   250, 10,  10, 10, 10,
                                          250, 10, 250, 10,  250, 10, 10};
  std::ranges::copy(colours, act.begin());
  act[769] = 5;
  act[770] = act[771] = 0xFF;
  test::BmpPicture picture = test::PictureOf(1, 1, [](int, int) { return 0; });
  picture.palette = {{0, 0, 0}, {250, 10, 10}, {10, 10, 250}, {10, 250, 10}, {250, 10, 10}};
  picture.coloursUsed = 5;
  return {{"p.gpl", {gimp.begin(), gimp.end()}},
          {"p.pal", {jasc.begin(), jasc.end()}},
          {"p.hex", {hex.begin(), hex.end()}},
          {"p.act", act},
          {"p.bmp", test::MakeBmp(picture)}};
}

// A PNG of `width` x `height` RGBA pixels at `path`.
void WriteRgbaPng(const std::string& path, std::uint32_t width, std::uint32_t height,
                  const Bytes& rgba) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGBA;
  ASSERT_NE(png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr), 0);
}

// 32 x 32 pixels of 1024 distinct opaque colours.
Bytes ThousandColours() {
  Bytes rgba;
  for (unsigned i = 0; i < 1024; ++i) {
    rgba.insert(rgba.end(),
                {static_cast<std::uint8_t>(i % 32 * 8), static_cast<std::uint8_t>(i / 32 * 8),
                 static_cast<std::uint8_t>(i * 5 % 256), 255});
  }
  return rgba;
}

TEST_F(Kavconv, EveryKindOfPaletteFileGivesEveryPixelItsNearestEntryNeverT) {
  // Palette5's entries red, green, blue, (200, 100, 50), (13, 77, 201) and, at index 255,
  // black, worked out by hand in OKLab: red and the brown go to the first of the two reds.
  const Bytes rle{1, 3, 2, 1, 2, 3, 2, 0, 2, 1, 2, 1, 2, 1, 3};
  // MZR's transparent colour 1 is never taken: the twin red 4 instead.
  const Bytes mzr{4, 3, 2, 4, 2, 3, 2, 0, 2, 4, 2, 4, 2, 4, 3};
  const Bytes table{0, 0, 0x41, 0xF8, 0x5F, 0x08, 0xC1, 0x0F, 0x41, 0xF8};  // RGB565, then black
  for (const auto& [name, bytes] : FivePaletteFiles()) {
    test::WriteFile(dir.File(name), bytes);
    const Bytes file = Read(Converted("rle", {"--palette", name}));
    EXPECT_EQ(test::Decode(file), rle) << name;
    Bytes expectedTable = table;
    expectedTable.resize(512);
    EXPECT_EQ(test::Slice(file, 10, 10 + 512), expectedTable) << name;
    EXPECT_EQ(test::Decode(Read(Converted("mzr", {"--palette", name, "--transparent", "1"}))), mzr)
        << name;
  }
  // Ordered dithering of a palette picture's grey 99, just darker than the midpoint of black
  // and white in OKLab: 99 + (M - 31.5) / 2 is 100 or more where M is 34 or more.
  test::BmpPicture grey = test::PictureOf(8, 2, [](int, int) { return 0; });
  grey.palette = {{99, 99, 99}};
  test::WriteFile(dir.File("bw.gpl"),
                  {'G', 'I', 'M',  'P', ' ', 'P', 'a', 'l', 'e', 't', 't', 'e', '\n', '0', ' ', '0',
                   ' ', '0', '\n', '2', '5', '5', ' ', '2', '5', '5', ' ', '2', '5',  '5', '\n'});
  EXPECT_EQ(
      test::Decode(Read(Converted("rle", {"--palette", "bw.gpl", "--dither", "ordered"}, grey))),
      (Bytes{0, 0, 0, 1, 0, 1, 0, 1, 1, 0, 1, 0, 1, 0, 1, 0}));
  EXPECT_EQ(test::Decode(Read(Converted("rle", {"--palette", "bw.gpl"}, grey))), Bytes(16, 0));
  // A red entry dithered stays nearest the first red, never the blue.
  grey.palette = {{255, 0, 0}};
  EXPECT_EQ(
      test::Decode(Read(Converted("rle", {"--palette", "p.gpl", "--dither", "ordered"}, grey))),
      Bytes(16, 1));
  // Truecolour pixels alike; a transparent one takes T, an opaque one of any alpha its nearest.
  WriteRgbaPng(dir.File("t.png"), 3, 1, {255, 0, 0, 255, 0, 0, 250, 0, 0, 0, 250, 200});
  ASSERT_EQ(Kav({"convert", "-q", "--palette", "p.gpl", "t.png"}).status, 0);
  EXPECT_EQ(test::Decode(Read("t.RLE")), (Bytes{1, 255, 2}));
}

TEST_F(Kavconv, UnreadablePaletteFileConvertsNothing) {
  Picture("a.bmp");
  test::WriteFile(dir.File("bad.gpl"),
                  {'G', 'I', 'M', 'P', ' ', 'P', 'a', 'l', 'e', 't', 't', 'e', '\n', 'x'});
  test::WriteFile(dir.File("one.hex"), {'f', 'f', '0', '0', '0', '0'});
  WriteRgbaPng(dir.File("true.png"), 32, 32, ThousandColours());
  const std::vector<std::vector<std::string>> cases{
      {"--palette", "bad.gpl"},
      {"--palette", "missing.gpl"},
      {"--palette", "true.png"},              // a truecolour picture holds no palette
      {"--palette", "one.hex", "-f", "mzr"},  // its one entry is T, the transparent colour 0
  };
  for (std::vector<std::string> arguments : cases) {
    const std::string palette = arguments[1];
    arguments.insert(arguments.begin(), "convert");
    arguments.push_back("a.bmp");
    EXPECT_EQ(Err(Kav(arguments)),
              "1 kavconv: " + palette + ": This palette file cannot be read\n");
  }
  EXPECT_FALSE(Exists("a.RLE") || Exists("a.MZR"));
  EXPECT_EQ(
      Kav({"convert", "-q", "-f", "mzr", "--transparent", "1", "--palette", "one.hex", "a.bmp"})
          .status,
      0);
}

// Pictures, and the frames of an animation together (511 colours over two frames), are
// reduced, told once each, with the same bytes at any job count.
TEST_F(Kavconv, ManyColoursAreReducedToTheCapacityTheSameAtAnyJobCount) {
  WriteRgbaPng(dir.File("a.png"), 32, 32, ThousandColours());
  WriteRgbaPng(dir.File("b.png"), 32, 32, ThousandColours());
  std::filesystem::copy_file(KAV_GIF_DIR "/many-colours.gif", dir.File("m.gif"));
  const test::ProcessRun run = Kav({"convert", "a.png", "m.gif", "b.png"});
  EXPECT_EQ(Err(run),
            "0 kavconv: a.png: 1024 colours reduced to 255\n"
            "kavconv: m.gif: 511 colours reduced to 255\n"
            "kavconv: b.png: 1024 colours reduced to 255\n");
  const Bytes reduced = Read("a.RLE");
  const Bytes frame = Read("m_1.RLE");
  // The palette sorted as an exact one, T (255) black and set aside.
  const Bytes table = test::Slice(reduced, 10, 10 + 512);
  for (std::size_t i = 1; i < 255; ++i) {
    EXPECT_LE(test::Le16(table, 2 * i - 2) >> 11, test::Le16(table, 2 * i) >> 11) << i;  // red
  }
  EXPECT_EQ(test::Le16(table, 510), 0);
  const Bytes indices = test::Decode(reduced);
  EXPECT_GT(std::set(indices.begin(), indices.end()).size(), 200U);
  EXPECT_EQ(std::ranges::count(indices, 255), 0);
  for (const std::string jobs : {"1", "4"}) {
    std::filesystem::create_directory(dir.File(jobs));
    EXPECT_EQ(
        Err(Kav({"convert", "-q", "-j", jobs, "--output-dir", jobs, "a.png", "m.gif", "b.png"})),
        "0 ");
    EXPECT_EQ(Read(jobs + "/a.RLE"), reduced);
    EXPECT_EQ(Read(jobs + "/m_1.RLE"), frame);
    EXPECT_EQ(Read(jobs + "/b.RLE"), reduced);
  }
  // MZR drawing no colour transparent, and no pixel transparent: 256 fit.
  EXPECT_EQ(Err(Kav({"convert", "-f", "mzr", "--no-remapping", "a.png"})),
            "0 kavconv: a.png: 1024 colours reduced to 256\n");
  // Dithering reaches the reduction, and frames onto a fixed palette. Diffusion leaves the
  // frames' colours, 16 levels apart, as they are once reduced (libimagequant's way with a
  // picture of edges alone): it shows onto two colours only.
  test::WriteFile(dir.File("two.hex"),
                  {'0', '0', '0', '0', '0', '0', '\n', 'f', 'f', 'f', 'f', 'f', 'f', '\n'});
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"a.png"}, {"m.gif"}, {"--palette", "two.hex", "m.gif"}}) {
    const auto converted = [&](const std::string& dither) {
      std::vector<std::string> arguments{"convert", "-q", "--dither", dither, "-o", dither};
      arguments.insert(arguments.end(), options.begin(), options.end());
      EXPECT_EQ(Kav(arguments).status, 0) << dither;
      return Read(options.back() == "a.png" ? dither : dither + "_1");
    };
    const Bytes plain = converted("none");
    EXPECT_NE(converted("ordered"), plain) << options.size();
    EXPECT_EQ(converted("diffusion") != plain, options.back() == "a.png" || options.size() > 1);
  }
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
  ASSERT_EQ(Kav({"convert", "-q", Picture("a.bmp")}).status, 0);
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"convert", "a.bmp"}, {"info", "a.RLE"}, {"render", "a.RLE", "-o", "-"}}) {
    const test::ProcessRun run = Kav(arguments, [] {
      const int full = open("/dev/full", O_WRONLY);
      return full >= 0 && dup2(full, STDOUT_FILENO) == STDOUT_FILENO;
    });
    EXPECT_EQ(Err(run), "1 kavconv: write error: No space left on device\n") << arguments[0];
  }
}

TEST_F(Kavconv, ClosedPipeEndsTheBatchWithOneLineAndNoTemporaryFile) {
  std::vector<std::string> arguments{"convert", "-j", "1"};
  for (int i = 0; i < 40; ++i) {
    arguments.push_back(Picture("s" + std::to_string(i + 10) + ".bmp", 60, 40, i));
  }
  // One at a time: the first status line fails, and no later file is started.
  EXPECT_EQ(Err(Kav(arguments, test::StdoutToClosedPipe)), "1 kavconv: write error: Broken pipe\n");
  EXPECT_TRUE(IsWholeFile("s10.RLE", 60, 40) && !Exists("s11.RLE"));
  // Two at a time: a file begun beside the first is finished or abandoned, never left half.
  arguments[2] = "2";
  EXPECT_EQ(Err(Kav(arguments, test::StdoutToClosedPipe)), "1 kavconv: write error: Broken pipe\n");
  for (const std::string& name : test::ListFolder(dir.path())) {
    EXPECT_TRUE(name.starts_with('s') && (name.ends_with(".bmp") || IsWholeFile(name, 60, 40)))
        << name;
  }
}

TEST_F(Kavconv, PicturesShareOneMemoryBudgetAndOneThatCanNeverFitFailsAtOnce) {
  // Each picture takes 1024 + 600 x 500 bytes: two never fit in 500 KiB together.
  std::vector<std::string> arguments{"convert", "-q", "-j", "4", "--memory-limit", "500K"};
  for (int i = 0; i < 8; ++i) {
    arguments.push_back(dir.File(Picture("s" + std::to_string(i) + ".bmp", 600, 500, i)));
  }
  EXPECT_EQ(Err(InProcess(0, arguments)), "0 ");
  EXPECT_EQ(PictureMemory().PeakReserved(), 1024u + 600u * 500u);
  // Headers that ask for 400 MB (a 1080-byte RLE8 file) and 4 GB (a PNG), refused before a
  // byte of them is decoded.
  test::WriteFile(
      dir.File("bomb.bmp"),
      test::MakeBmp({.width = 20000, .height = 20000, .compression = 1, .stored = Bytes{0, 1}}));
  Bytes png = test::ReadFile(KAV_MALFORMED_DIR "/png-base.png");
  const Bytes ihdr = test::PngChunk(  // 65535 x 65535, the rest as it was
      "IHDR", test::With(test::Slice(png, 16, 29), {{0, 4, 0xFFFF0000}, {4, 4, 0xFFFF0000}}));
  std::copy(ihdr.begin(), ihdr.end(), png.begin() + 8);
  test::WriteFile(dir.File("bomb.png"), png);
  const test::ProcessRun bombs = Kav({"convert", "-q", "bomb.bmp", "bomb.png"},
                                     [] { return setenv("KAV_MEMORY_LIMIT", "100M", 1) == 0; });
  EXPECT_EQ(Err(bombs), "1 kavconv: bomb.bmp: Out of memory\nkavconv: bomb.png: Out of memory\n");
}

TEST_F(Kavconv, FileSizeLimitFailsOnlyTheOutputsThatDoNotFit) {
  // The small pictures' outputs fit below the limit, the large one's (over 100 KiB in every
  // format) does not; it had no output before in RLS and an older one in MZR and RLE.
  Picture("a.bmp", 5, 3);
  Picture("b.bmp", 400, 300);
  Picture("c.bmp", 7, 2);
  for (const auto& [format, extension, files] :
       {std::tuple<std::string, std::string, std::size_t>{"rls", "RLE", 5},
        {"mzr", "MZR", 8},
        {"rle", "RLE", 9}}) {
    SCOPED_TRACE(format);
    const Bytes older = format == "rls" ? Bytes{} : Bytes{9, 9, 9};
    if (!older.empty()) {
      test::WriteFile(dir.File("b." + extension), older);
    }
    const test::ProcessRun run =
        Kav({"convert", "-q", "-f", format, "a.bmp", "b.bmp", "c.bmp"}, [] {
          const rlimit limit{32 * 1024, 32 * 1024};
          return setrlimit(RLIMIT_FSIZE, &limit) == 0;
        });
    EXPECT_EQ(Err(run), "1 kavconv: b.bmp: Cannot write output file: File too large\n");
    EXPECT_EQ(Exists("b." + extension), !older.empty());
    EXPECT_EQ(Read("b." + extension), older);
    EXPECT_TRUE(IsWholeFile("a." + extension, 5, 3));
    EXPECT_TRUE(IsWholeFile("c." + extension, 7, 2));
    EXPECT_EQ(test::ListFolder(dir.path()).size(), files);  // no temporary file
  }
}

TEST_F(Kavconv, ReadOnlyFolderRefusesTheOutputAndKeepsTheOlderOne) {
  Picture("a.bmp");
  for (const std::string format : {"mzr", "rle", "rls"}) {
    SCOPED_TRACE(format);
    const std::string older = dir.File(format == "mzr" ? "a.MZR" : "a.RLE");
    test::WriteFile(older, {9, 9, 9});
    // Only the folder stands in the way: an output is never written in place.
    ASSERT_EQ(chmod(older.c_str(), 0666) | chmod(dir.path().c_str(), 0555), 0);
    // The super-user writes in any folder whatever its permission bits.
    const test::ProcessRun run = Kav({"convert", "-q", "-f", format, "a.bmp"}, [] {
      constexpr uid_t kNobody = 65534;
      return geteuid() != 0 || (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 &&
                                setuid(kNobody) == 0 && geteuid() == kNobody);
    });
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    if (run.status == test::kCannotPrepare) {
      GTEST_SKIP() << "cannot run as an ordinary user here";
    }
    EXPECT_EQ(Err(run), "1 kavconv: a.bmp: Cannot create output file: Permission denied\n");
    EXPECT_EQ(test::ReadFile(older), (Bytes{9, 9, 9}));
  }
  EXPECT_EQ(test::ListFolder(dir.path()), (std::vector<std::string>{"a.MZR", "a.RLE", "a.bmp"}));
}

TEST_F(Kavconv, RefusedOutputsSayWhyAndNoInputIsReplaced) {
  // a.RLE is the user's link to b.bmp, an input of the same batch; a FIFO stands where the
  // output of f.bmp would go.
  std::filesystem::create_symlink("b.bmp", dir.File("a.RLE"));
  ASSERT_EQ(mkfifo(dir.File("f.RLE").c_str(), 0644), 0);
  const Bytes b = Read(Picture("b.bmp", 7, 2));
  for (const std::string jobs : {"1", "2"}) {
    const test::ProcessRun run =
        Kav({"convert", "-q", "-j", jobs, Picture("a.bmp"), "b.bmp", Picture("f.bmp")});
    EXPECT_EQ(Err(run),
              "1 kavconv: a.bmp: Cannot create output file: it is an input of this batch\n"
              "kavconv: f.bmp: Cannot create output file: not a regular file\n");
    EXPECT_EQ(Read("b.bmp"), b);
    EXPECT_TRUE(IsWholeFile("b.RLE", 7, 2));
  }
}

TEST_F(Kavconv, TwoProcessesWritingOneOutputLeaveOneWholeFile) {
  // a.bmp and a.dib both give a.RLE; each process converts its own source over and over
  // while this one keeps reading the output.
  ASSERT_EQ(Kav({"convert", "-q", Picture("a.dib", 200, 150, 2)}).status, 0);
  const Bytes fromDib = Read("a.RLE");
  ASSERT_EQ(Kav({"convert", "-q", Picture("a.bmp", 300, 200, 1)}).status, 0);
  const Bytes fromBmp = Read("a.RLE");
  std::array<pid_t, 2> children{};
  for (std::size_t i = 0; i < 2; ++i) {
    std::vector<std::string> batch{"convert", "-q", "-j", "1"};
    batch.insert(batch.end(), 40, dir.File(i == 0 ? "a.bmp" : "a.dib"));
    children[i] = test::StartKavconv(batch, "/dev/null", "/dev/null");
  }
  int reads = 0, mixed = 0;
  for (int running = 2; running > 0; ++reads) {
    for (pid_t& child : children) {
      int status = 0;
      if (child > 0 && waitpid(child, &status, WNOHANG) == child) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        child = 0;
        --running;
      }
    }
    const Bytes seen = Read("a.RLE");
    mixed += seen != fromBmp && seen != fromDib ? 1 : 0;
  }
  EXPECT_EQ(mixed, 0) << "of " << reads << " reads";
  EXPECT_EQ(test::ListFolder(dir.path()), (std::vector<std::string>{"a.RLE", "a.bmp", "a.dib"}));
}

TEST_F(KavconvTools, InfoAcceptsWhatTheWritersMake) {
  const test::BmpPicture wide =
      test::PictureOf(300, 7, [](int x, int y) { return (x / 40 + y) % 3 == 0 ? 255 : x % 251; });
  for (const std::string format : {"mzr", "rle", "rls"}) {
    const test::ProcessRun run = Kav({"info", Converted(format, {}, wide)});
    EXPECT_TRUE(run.status == 0 && run.out.find(", 300 x 7 pixels, ") != std::string::npos &&
                run.out.find(", structure valid\n") != std::string::npos)
        << run.out << run.err;
  }
  std::istringstream lines(Kav({"info", "--json", "mzr.MZR", "rls.RLE"}).out);
  std::string mzr, rls;
  std::getline(std::getline(lines, mzr), rls);
  EXPECT_EQ(nlohmann::json::parse(mzr)["format"], "MZR");
  EXPECT_EQ(nlohmann::json::parse(mzr)["tables"].size(), 32u);
  EXPECT_EQ(nlohmann::json::parse(mzr)["header"]["startColor"], 240);
  EXPECT_EQ(nlohmann::json::parse(rls)["format"], "RLS");
  EXPECT_EQ(nlohmann::json::parse(rls)["header"]["segmentCount"], 3);
  EXPECT_EQ(nlohmann::json::parse(rls)["valid"], true);
}

TEST_F(KavconvTools, InfoAndRenderGiveOnePreciseLinePerDamagedFile) {
  // Rows 1, 255, 255 and all 255, coded 01 FF 02 and FF FF from 4126; the count 02 made 0.
  const Bytes small =
      test::Encode(test::PictureOf(3, 2, [](int x, int y) { return y == 0 && x == 0 ? 1 : 255; }),
                   FileKind::kRle);
  test::WriteFile(dir.File("bad.RLE"), test::With(small, {{4128, 1, 0}}));
  const std::string reason = "run count 0 of index 255 at column 1 of row 0 is not 1 to 128\n";
  const test::ProcessRun json = Kav({"info", "--json", "bad.RLE"});
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(nlohmann::json::parse(json.out)["valid"], false);
  EXPECT_EQ(Err(Kav({"render", "bad.RLE", "-o", "z.png"})),
            "1 kavconv: bad.RLE: damaged file at offset 4128: " + reason);
  test::WriteFile(dir.File("bad.RLE"), test::With(small, {{1, 1, 'X'}}));
  EXPECT_EQ(Kav({"info", "bad.RLE"}).err, "kavconv: bad.RLE: not an MZR, RLE or RLS file\n");
  EXPECT_EQ(Kav({"render", "bad.RLE", "-o", "z.png"}).err,
            "kavconv: bad.RLE: not an MZR, RLE or RLS file\n");
  test::WriteFile(dir.File("bad.RLE"), test::With(small, {{4128, 1, 0}}));
  EXPECT_EQ(Err(Kav({"thumbnail", "-s", "8", "bad.RLE", "z.png"})),
            "1 kavconv: bad.RLE: damaged file at offset 4128: " + reason);
  // An MZR header allows a width of 0; such a file has nothing to show.
  test::WriteFile(dir.File("empty.MZR"),
                  test::Slice(test::With(Read(Converted("mzr")), {{8, 2, 0}}), 0, 16404));
  EXPECT_EQ(Err(Kav({"info", "empty.MZR"})), "1 kavconv: empty.MZR: no pixels\n");
  EXPECT_EQ(Err(Kav({"render", "empty.MZR", "-o", "z.png"})), "1 kavconv: empty.MZR: no pixels\n");
  EXPECT_EQ(Err(Kav({"thumbnail", "-s", "4", "empty.MZR", "z.png"})),
            "1 kavconv: empty.MZR: no pixels\n");
  EXPECT_EQ(nlohmann::json::parse(Kav({"info", "--json", "empty.MZR"}).out)["valid"], false);
  EXPECT_FALSE(Exists("z.png"));
}

TEST_F(KavconvTools, RenderGivesThePaletteColoursAndTransparency) {
  // RLE table 0: the source colours in RGB565 precision, widened; index 255 transparent.
  ASSERT_EQ(Kav({"render", Converted("rle"), "-o", "a.png"}).status, 0);
  Png png = ReadPng("a.png");                       // its pixels read bounds-checked
  EXPECT_EQ(png.At(0, 0), (Rgba{255, 0, 0, 255}));  // full stays full
  EXPECT_EQ(png.At(3, 0), (Rgba{206, 101, 49, 255}));
  EXPECT_EQ(png.At(3, 1), (Rgba{8, 77, 206, 255}));
  EXPECT_EQ(png.At(2, 1)[3], 0);
  // MZR: the header's transparent colour while remapping is on; index 255 is a colour.
  ASSERT_EQ(Kav({"render", Converted("mzr", {"--transparent", "2"}), "-o", "b.png"}).status, 0);
  png = ReadPng("b.png");
  EXPECT_EQ(png.At(2, 0)[3], 0);  // index 2
  EXPECT_EQ(png.At(2, 1)[3], 255);
  EXPECT_EQ(png.At(0, 0), (Rgba{255, 0, 0, 255}));
  ASSERT_EQ(Kav({"render", Converted("mzr", {"--transparent", "255"}), "-o", "d.png"}).status, 0);
  EXPECT_EQ(ReadPng("d.png").At(2, 1)[3], 0);  // index 255, the last index there is
  const std::string plain = Converted("mzr", {"--transparent", "2", "--no-remapping"});
  ASSERT_EQ(Kav({"render", plain, "--table", "0", "-o", "c.png"}).status, 0);
  png = ReadPng("c.png");
  EXPECT_EQ(png.At(2, 0)[3], 255);
  // Level 0 keeps an eighth: red 255 becomes 31, 3 in five bits, widened to 24.
  EXPECT_EQ(png.At(0, 0), (Rgba{24, 0, 0, 255}));
}

// An RGBA sprite, a palette PNG whose index 0 is transparent and a 32-bit BMP with alpha,
// converted in every format and rendered: each transparent source pixel is transparent, each
// opaque one its colour in RGB565, widened (the top bits repeated below). With
// --keep-indices the palette PNG's indices are as stored: 0 an opaque colour, and the opaque
// 255s RLE's transparent index, as before.
TEST_F(KavconvTools, TransparentArtRendersAsItsSource) {
  const auto widened = [](const Colour& c) {
    const unsigned r = c.red >> 3, g = c.green >> 2, b = c.blue >> 3;
    return Rgba{static_cast<std::uint8_t>(r << 3 | r >> 2),
                static_cast<std::uint8_t>(g << 2 | g >> 4),
                static_cast<std::uint8_t>(b << 3 | b >> 2), 255};
  };
  for (const std::string file : {"sprite.pil.png", "indexed-trns0.pil.png", "sprite-rgba.im.bmp"}) {
    std::filesystem::copy_file(KAV_TRUECOLOUR_DIR "/" + file, dir.File(file));
    ReadResult source = ReadPicture(dir.File(file));
    ASSERT_TRUE(source);
    // Each source pixel's colour and alpha, and its index in a palette file.
    std::vector<Colour> pixels;
    std::vector<int> stored;
    for (std::uint32_t y = 0; y < source->height(); ++y) {
      for (std::uint32_t x = 0; x < source->width(); ++x) {
        if (source->IsTrueColour()) {
          const auto at = static_cast<std::ptrdiff_t>((y * source->width() + x) * 4);
          const auto p = source->Rgba().bytes.begin() + at;
          pixels.push_back({p[0], p[1], p[2], p[3]});
        } else {
          pixels.push_back(source->palette().entries[source->Row(y)[x]]);
          stored.push_back(source->Row(y)[x]);
        }
      }
    }
    for (const std::vector<std::string>& options : {std::vector<std::string>{"-f", "rle"},
                                                    {"-f", "rls"},
                                                    {"-f", "mzr"},
                                                    {"--keep-indices"}}) {
      SCOPED_TRACE(file + " " + options.back());
      std::vector<std::string> arguments{"convert", "-q", "-o", "out.bin", file};
      arguments.insert(arguments.end(), options.begin(), options.end());
      ASSERT_EQ(Kav(arguments).status, 0);
      ASSERT_EQ(Kav({"render", "out.bin", "-o", "out.png"}).status, 0);
      const Png png = ReadPng("out.png");
      ASSERT_EQ(png.width * png.height, pixels.size());
      const bool kept = options.back() == "--keep-indices" && !source->IsTrueColour();
      for (std::size_t i = 0; i < pixels.size(); ++i) {
        const Rgba shown = png.At(static_cast<std::uint32_t>(i % png.width),
                                  static_cast<std::uint32_t>(i / png.width));
        if (kept ? stored[i] == 255 : pixels[i].alpha < 128) {
          EXPECT_EQ(shown[3], 0) << i;
        } else {
          EXPECT_EQ(shown, widened(pixels[i])) << i;
        }
      }
    }
  }
}

// With --no-reduce a picture of more colours than fit is refused with its message and
// nothing written.
TEST_F(Kavconv, PictureOfTooManyColoursIsRefusedWithoutReduction) {
  std::filesystem::copy_file(KAV_TRUECOLOUR_DIR "/colours256.pil.png", dir.File("many.png"));
  EXPECT_EQ(Err(Kav({"convert", "-q", "--no-reduce", "many.png"})),
            "1 kavconv: many.png: This picture has more colours than the format holds\n");
  EXPECT_FALSE(Exists("many.RLE"));
  EXPECT_EQ(Err(Kav({"convert", "-q", "--no-reduce", "-f", "mzr", "--no-remapping", "many.png"})),
            "0 ");
  EXPECT_EQ(Err(Kav({"convert", "many.png"})), "0 kavconv: many.png: 256 colours reduced to 255\n");
  // The frames of an animation alike; with the format drawing no colour transparent, the
  // pixels no frame drew still set T aside.
  std::filesystem::copy_file(KAV_GIF_DIR "/many-colours.gif", dir.File("m.gif"));
  EXPECT_EQ(Err(Kav({"convert", "-q", "--no-reduce", "m.gif"})),
            "1 kavconv: m.gif: This picture has more colours than the format holds\n");
  EXPECT_FALSE(Exists("m_0.RLE") || Exists("m_1.RLE"));
  EXPECT_EQ(Err(Kav({"convert", "-f", "mzr", "--no-remapping", "m.gif"})),
            "0 kavconv: m.gif: 511 colours reduced to 255\n");
}

TEST_F(KavconvTools, RenderSheetAndTableLimits) {
  ASSERT_EQ(Kav({"render", Converted("rls"), "--sheet", "-o", "sheet.png"}).status, 0);
  const Png sheet = ReadPng("sheet.png");
  EXPECT_EQ(sheet.height, 4u + 14u + 3u + 4u);   // one row of tiles under their labels
  EXPECT_EQ(sheet.width, 4u + 8u * (14u + 4u));  // tiles at least as wide as a label
  EXPECT_EQ(Kav({"render", Converted("mzr"), "--table", "31", "-o", "x.png"}).status, 0);
  for (const auto& [file, table, text] :
       {std::tuple{"rls.RLE", "8", "--table must be 0 to 7 for RLE and RLS files"},
        {"rls.RLE", "-1", "--table must be 0 to 7 for RLE and RLS files"},
        {"mzr.MZR", "32", "--table must be 0 to 31 for MZR files"}}) {
    EXPECT_EQ(Err(Kav({"render", file, "--table", table, "-o", "y.png"})),
              "2 kavconv: " + std::string(file) + ": " + text + "\n");
  }
  EXPECT_FALSE(Exists("y.png"));
}

TEST_F(KavconvTools, RenderNeverReplacesItsSourceAndWritesToStdout) {
  const std::string rle = Converted("rle");
  const Bytes source = Read(rle);
  std::filesystem::create_hard_link(dir.File(rle), dir.File("linked.png"));
  for (const std::string output : {"rle.RLE", "./rle.RLE", "linked.png"}) {
    EXPECT_EQ(Err(Kav({"render", rle, "-o", output})),
              "1 kavconv: " + output + ": Cannot create output file: it is the file being drawn\n");
  }
  EXPECT_EQ(Err(Kav({"thumbnail", "-s", "8", rle, "linked.png"})),
            "1 kavconv: linked.png: Cannot create output file: it is the file being drawn\n");
  EXPECT_EQ(Read(rle), source);
  ASSERT_EQ(Kav({"render", rle, "-o", "a.png"}).status, 0);
  const test::ProcessRun piped = Kav({"render", rle, "-o", "-"});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(Bytes(piped.out.begin(), piped.out.end()), Read("a.png"));
  EXPECT_FALSE(Exists("-"));
  // A write failing part-way is one kavconv line with the system's cause, not libpng's own.
  const std::string noisy = Converted("mzr", {}, test::PictureOf(100, 100, [](int x, int y) {
                                        return (x * x * 7 + y * y * 13 + x * y) % 251;
                                      }));
  const test::ProcessRun limited = Kav({"render", noisy, "-o", "b.png"}, [] {
    const rlimit limit{2048, 2048};  // the stderr line fits, the PNG does not
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
  });
  EXPECT_EQ(Err(limited), "1 kavconv: b.png: Cannot write output file: File too large\n");
  EXPECT_FALSE(Exists("b.png"));
}

TEST_F(KavconvTools, ThumbnailFitsTheLongerSideToTheSizeAndKeepsTheAspect) {
  // Wide, a half rounded up, tall, a side of at least 1, and 1 x 1 scaled up.
  for (const auto& [format, width, height, size, thumbnailWidth, thumbnailHeight] :
       {std::tuple{"rle", 10, 4, "5", 5u, 2u},
        {"rls", 8, 3, "4", 4u, 2u},
        {"mzr", 3, 7, "4", 2u, 4u},
        {"rle", 100, 1, "10", 10u, 1u},
        {"mzr", 1, 1, "16", 16u, 16u}}) {
    const std::string file =
        Converted(format, {}, test::PictureOf(width, height, [](int, int) { return 2; }));
    ASSERT_EQ(Err(Kav({"thumbnail", "-s", size, file, "t.png"})), "0 ");
    const Png png = ReadPng("t.png");
    EXPECT_EQ(png.width, thumbnailWidth);
    EXPECT_EQ(png.height, thumbnailHeight);
    // Index 2 of the test palette, (2, 253, 14), in RGB565 precision.
    EXPECT_EQ(png.At(png.width - 1, png.height - 1), (Rgba{0, 255, 8, 255}));
  }
  // Scaling up takes each pixel's nearest: red and blue side by side, twice as large.
  test::BmpPicture redBlue = test::PictureOf(2, 1, [](int x, int) { return x; });
  redBlue.palette = {{255, 0, 0}, {0, 0, 255}};
  ASSERT_EQ(Kav({"thumbnail", "--size", "4", Converted("rle", {}, redBlue), "t.png"}).status, 0);
  const Png png = ReadPng("t.png");
  EXPECT_EQ(png.At(1, 1), (Rgba{255, 0, 0, 255}));
  EXPECT_EQ(png.At(2, 0), (Rgba{0, 0, 255, 255}));
  EXPECT_EQ(Kav({"thumbnail", "-s", "0", "rle.RLE", "u.png"}).status, 2);
  EXPECT_EQ(Kav({"thumbnail", "-s", "4", "rle.RLE", ""}).status, 2);
}

TEST_F(KavconvTools, ThumbnailAveragesOverPremultipliedAlpha) {
  // R T B over R R T, T transparent and green, shrunk from 3 x 2 to 2 x 1: thumbnail column 0
  // covers picture column 0 whole and half of column 1, column 1 the rest, so each weighs
  // R 2, T 1, R 2, R 1 and T 1, B 2, R 1, T 2 out of 6. Alpha: 255 x 5/6 = 212.5 and
  // 255 x 3/6 = 127.5, rounded up; colour: the opaque pixels' alone, by weight.
  test::BmpPicture spec = test::PictureOf(3, 2, [](int, int) { return 0; });
  spec.pixels = {0, 255, 1, 0, 0, 255};
  spec.palette.resize(256);
  spec.palette[0] = {255, 0, 0};
  spec.palette[1] = {0, 0, 255};
  spec.palette[255] = {0, 255, 0};
  for (const std::string& file :
       {Converted("rle", {}, spec), Converted("mzr", {"--transparent", "255"}, spec)}) {
    ASSERT_EQ(Err(Kav({"thumbnail", "-s", "2", file, "t.png"})), "0 ");
    const Png png = ReadPng("t.png");
    ASSERT_EQ(png.width * png.height, 2u) << file;
    EXPECT_EQ(png.At(0, 0), (Rgba{255, 0, 0, 213})) << file;
    EXPECT_EQ(png.At(1, 0), (Rgba{85, 0, 170, 128})) << file;
  }
}

TEST_F(KavconvTools, InfoJudgesAHugeFileByItsHeaderAndGoesOn) {
  // 100 GB of which only "RL" is written: the header, all zeros, gives dataSize 0.
  test::WriteFile(dir.File("big.RLE"), {'R', 'L'});
  std::filesystem::resize_file(dir.File("big.RLE"), std::uintmax_t{100} << 30);
  const test::ProcessRun run = Kav({"info", "big.RLE", Converted("rle")});
  EXPECT_EQ(Err(run),
            "1 kavconv: big.RLE: damaged RLE file at offset 4118: the file is 107374182400 bytes "
            "long, but dataSize 0 gives a length of 4118 (4118 + dataSize)\n");
  EXPECT_TRUE(run.out.starts_with("rle.RLE: RLE, 5 x 3 pixels, ")) << run.out;
  // Not a byte of a missing file could be read: its error has no offset.
  EXPECT_EQ(Kav({"info", "--json", "missing"}).out,
            R"({"file":"missing","format":"unknown","valid":false,"error":{"offset":null,)"
            R"("reason":"Cannot open this file: No such file or directory"}})"
            "\n");
}

TEST_F(KavconvTools, FailedAllocationIsOutOfMemoryAndTheNextFileIsDone) {
  const std::string rle = dir.File(Converted("rle"));
  const std::string mzr = dir.File(Converted("mzr"));
  // The mapping of the first file; the RLE writer's first block, after the reader's.
  const test::ProcessRun info = InProcess(1, {"info", rle, mzr});
  const test::ProcessRun render = InProcess(1, {"render", rle, "-o", dir.File("a.png")});
  const test::ProcessRun convert = InProcess(2, {"convert", "-q", dir.File("rle.bmp")});
  EXPECT_EQ(Err(info), "1 kavconv: " + rle + ": Out of memory\n");
  EXPECT_TRUE(info.out.starts_with(mzr + ": MZR, 5 x 3 pixels, ")) << info.out;
  EXPECT_EQ(Err(render), "1 kavconv: " + rle + ": Out of memory\n");
  EXPECT_FALSE(Exists("a.png"));
  EXPECT_EQ(Err(convert), "1 kavconv: " + dir.File("rle.bmp") + ": Error allocating memory!\n");
}

TEST_F(KavconvTools, ControlCharactersInNamesArePrintedEscaped) {
  // Sets the terminal's title, clears it and turns it red; then DEL, the C1 control NEL, a
  // byte that is not UTF-8, NEL as a lone byte (as Latin-1 terminals read it), the
  // bidirectional controls RLO and LRI, and a backslash.
  const std::string name =
      "a\x1B]0;PWNED\a\x1B[2J\x1B[31mred\x7F\xC2\x85\xFF\x85\xE2\x80\xAE\xE2\x81\xA6\\";
  const std::string shown =
      "a\\x1B]0;PWNED\\x07\\x1B[2J\\x1B[31mred\\x7F\\xC2\\x85\xFF\\x85\\xE2\\x80\\xAE"
      "\\xE2\\x81\\xA6\\";
  test::WriteFile(dir.File(name + ".bmp"), test::MakeBmp(Palette5()));
  const test::ProcessRun convert = Kav({"convert", name + ".bmp", name + ".gif"});
  EXPECT_EQ(convert.out,
            "SUCCESS!!  " + shown +
                ".RLE converted!\nError while loading BMP file!\n2 files processed!\n");
  EXPECT_EQ(convert.err,
            "kavconv: " + shown + ".gif: Cannot open this file: No such file or directory\n");
  EXPECT_TRUE(Kav({"info", name + ".RLE"}).out.starts_with(shown + ".RLE: RLE, 5 x 3 "));
  // Each control character as \u00XX; the bytes that are not UTF-8 kept in "fileHex".
  EXPECT_TRUE(
      Kav({"info", "--json", name + ".RLE"})
          .out.starts_with(
              R"({"file":"a\u001b]0;PWNED\u0007\u001b[2J\u001b[31mred\u007f\u0085)"
              "\xEF\xBF\xBD\xEF\xBF\xBD"
              R"(\u202e\u2066\\.RLE","fileHex":"611b5d303b50574e4544071b5b324a1b5b33316d7265647fc2)"
              R"(85ff85e280aee281a65c2e524c45",)"));
}

}  // namespace
}  // namespace kav
