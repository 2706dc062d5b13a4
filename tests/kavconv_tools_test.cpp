// kavconv info and render end to end: every file the writers make is accepted, each kind of
// damage is one precise line, and rendered colours match the source palette.

#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/kavconv.h"
#include "formats/run_length.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::Bytes;

struct Png {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  Bytes rgba;
  std::array<std::uint8_t, 4> At(std::uint32_t x, std::uint32_t y) const {
    const std::size_t at = (std::size_t{y} * width + x) * 4;
    return {rgba.at(at), rgba.at(at + 1), rgba.at(at + 2), rgba.at(at + 3)};
  }
};

Png ReadPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Png png;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
    ADD_FAILURE() << "not a PNG: " << path;
    return png;
  }
  image.format = PNG_FORMAT_RGBA;
  png.width = image.width;
  png.height = image.height;
  png.rgba.resize(PNG_IMAGE_SIZE(image));
  EXPECT_NE(png_image_finish_read(&image, nullptr, png.rgba.data(), 0, nullptr), 0);
  return png;
}

// A 5 x 3 picture using indices 0 to 4 and 255, with a palette of strong distinct colours.
test::BmpSpec Palette5() {
  test::BmpSpec spec =
      test::PictureOf(5, 3, [](int x, int y) { return y == 1 && x == 2 ? 255 : (x + y) % 5; });
  spec.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {200, 100, 50}, {13, 77, 201}};
  spec.palette.resize(256);
  spec.palette[255] = {255, 0, 255};
  return spec;
}

class KavconvTools : public ::testing::Test {
 protected:
  test::TempDir dir;

  test::ProcessRun Kav(const std::vector<std::string>& arguments,
                       const std::function<bool()>& prepare = {}) {
    return test::RunKavconv(arguments, dir, prepare);
  }

  // kavconv run in this process, where allocation failures can be injected.
  static test::ProcessRun InProcess(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv{"kavconv"};
    for (const std::string& argument : arguments) {
      argv.push_back(argument.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunKavconv(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
  }

  // Converts `spec` to `format` with kavconv and returns the output path.
  std::string Converted(const test::BmpSpec& spec, const std::string& format,
                        const std::vector<std::string>& extra = {}) {
    const std::string source = dir.File(format + ".bmp");
    test::WriteFile(source, test::MakeBmp(spec));
    std::vector<std::string> arguments{"convert", "-q", "-f", format};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back(source);
    EXPECT_EQ(Kav(arguments).status, 0);
    return dir.File(format + (format == "mzr" ? ".MZR" : ".RLE"));
  }
};

TEST_F(KavconvTools, InfoAcceptsWhatTheWritersMake) {
  const test::BmpSpec wide =
      test::PictureOf(300, 7, [](int x, int y) { return (x / 40 + y) % 3 == 0 ? 255 : x % 251; });
  for (const std::string format : {"mzr", "rle", "rls"}) {
    const test::ProcessRun run = Kav({"info", Converted(wide, format)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("300 x 7 pixels"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("structure valid"), std::string::npos);
  }
  const test::ProcessRun json = Kav({"info", "--json", dir.File("mzr.MZR"), dir.File("rls.RLE")});
  std::istringstream lines(json.out);
  std::vector<nlohmann::json> objects;
  for (std::string line; std::getline(lines, line);) {
    objects.push_back(nlohmann::json::parse(line));
  }
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0]["format"], "MZR");
  EXPECT_EQ(objects[0]["tables"].size(), 32u);
  EXPECT_EQ(objects[0]["header"]["startColor"], 240);
  EXPECT_EQ(objects[0]["header"]["endColor"], 255);
  EXPECT_EQ(objects[1]["format"], "RLS");
  EXPECT_EQ(objects[1]["header"]["segmentCount"], 3);
  EXPECT_EQ(objects[1]["valid"], true);
}

TEST_F(KavconvTools, InfoAndRenderGiveOnePreciseLinePerDamagedFile) {
  // Rows 1, 255, 255 and all 255, coded 01 FF 02 and FF FF from 4126; the count 02 made 0.
  const std::string path = dir.File("damaged.RLE");
  const Bytes small =
      test::Encode(test::PictureOf(3, 2, [](int x, int y) { return y == 0 && x == 0 ? 1 : 255; }),
                   FileKind::kRle);
  test::WriteFile(path, test::With(small, {{4128, 1, 0}}));
  const std::string reason = "run count 0 of index 255 at column 1 of row 0 is not 1 to 128\n";
  const test::ProcessRun info = Kav({"info", path});
  EXPECT_EQ(info.status, 1);
  EXPECT_EQ(info.err, "kavconv: " + path + ": damaged RLE file at offset 4128: " + reason);
  const test::ProcessRun json = Kav({"info", "--json", path});
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(nlohmann::json::parse(json.out)["valid"], false);
  const test::ProcessRun render = Kav({"render", path, "-o", dir.File("z.png")});
  EXPECT_EQ(render.status, 1);
  EXPECT_EQ(render.err, "kavconv: " + path + ": damaged file at offset 4128: " + reason);
  test::WriteFile(path, test::With(small, {{1, 1, 'X'}}));
  EXPECT_EQ(Kav({"info", path}).err, "kavconv: " + path + ": not an MZR, RLE or RLS file\n");
  EXPECT_EQ(Kav({"render", path, "-o", dir.File("z.png")}).err,
            "kavconv: " + path + ": not an MZR, RLE or RLS file\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("z.png")));
}

TEST_F(KavconvTools, RenderGivesThePaletteColoursAndTransparency) {
  // RLE table 0: the source colours in RGB565 precision, index 255 transparent.
  const test::BmpSpec spec = Palette5();
  ASSERT_EQ(Kav({"render", Converted(spec, "rle"), "-o", dir.File("out.png")}).status, 0);
  Png png = ReadPng(dir.File("out.png"));
  ASSERT_EQ(png.width * png.height, 15u);
  for (std::uint32_t i = 0; i < 15; ++i) {
    const std::uint8_t index = spec.pixels[i];
    const test::Rgb source = spec.palette[index];
    const auto pixel = png.At(i % 5, i / 5);
    EXPECT_EQ(PackRgb565(pixel[0], pixel[1], pixel[2]),
              PackRgb565(source.red, source.green, source.blue));
    EXPECT_EQ(pixel[3], index == 255 ? 0 : 255) << i;
  }
  EXPECT_EQ(png.At(0, 0), (std::array<std::uint8_t, 4>{255, 0, 0, 255}));  // full stays full

  // MZR: the header's transparent colour while remapping is on; index 255 is a colour.
  ASSERT_EQ(Kav({"render", Converted(spec, "mzr", {"--transparent", "2"}), "-o", dir.File("a.png")})
                .status,
            0);
  png = ReadPng(dir.File("a.png"));
  EXPECT_EQ(png.At(2, 0)[3], 0);  // index 2
  EXPECT_EQ(png.At(2, 1)[3], 255);
  EXPECT_EQ(png.At(0, 0), (std::array<std::uint8_t, 4>{255, 0, 0, 255}));
  const std::string plain = Converted(spec, "mzr", {"--transparent", "2", "--no-remapping"});
  ASSERT_EQ(Kav({"render", plain, "--table", "0", "-o", dir.File("b.png")}).status, 0);
  png = ReadPng(dir.File("b.png"));
  EXPECT_EQ(png.At(2, 0)[3], 255);
  // Level 0 keeps an eighth: red 255 becomes 31, 3 in five bits, widened to 24.
  EXPECT_EQ(png.At(0, 0), (std::array<std::uint8_t, 4>{24, 0, 0, 255}));
}

TEST_F(KavconvTools, RenderSheetAndTableLimits) {
  const std::string rls = Converted(Palette5(), "rls");
  ASSERT_EQ(Kav({"render", rls, "--sheet", "-o", dir.File("sheet.png")}).status, 0);
  const Png sheet = ReadPng(dir.File("sheet.png"));
  EXPECT_EQ(sheet.height, 4u + 14u + 3u + 4u);   // one row of tiles under their labels
  EXPECT_EQ(sheet.width, 4u + 8u * (14u + 4u));  // tiles at least as wide as a label

  const std::string mzr = Converted(Palette5(), "mzr");
  EXPECT_EQ(Kav({"render", mzr, "--table", "31", "-o", dir.File("x.png")}).status, 0);
  const std::string rlsRange = ": --table must be 0 to 7 for RLE and RLS files\n";
  const std::string mzrRange = ": --table must be 0 to 31 for MZR files\n";
  for (const auto& [file, table, text] : {std::tuple{rls, "8", rlsRange},
                                          {rls, "-1", rlsRange},
                                          {mzr, "32", mzrRange},
                                          {mzr, "-1", mzrRange}}) {
    const test::ProcessRun run = Kav({"render", file, "--table", table, "-o", dir.File("y.png")});
    EXPECT_EQ(run.status, 2) << table;
    EXPECT_EQ(run.err, "kavconv: " + file + text);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("y.png")));
}

TEST_F(KavconvTools, RenderNeverReplacesItsSourceAndWritesToStdout) {
  const std::string rle = Converted(Palette5(), "rle");
  const Bytes source = test::ReadFile(rle);
  std::filesystem::create_hard_link(rle, dir.File("linked.png"));
  for (const std::string& output : {rle, dir.File("./rle.RLE"), dir.File("linked.png")}) {
    const test::ProcessRun run = Kav({"render", rle, "-o", output});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kavconv: " + output + ": Cannot create output file\n");
  }
  EXPECT_EQ(test::ReadFile(rle), source);
  ASSERT_EQ(Kav({"render", rle, "-o", dir.File("a.png")}).status, 0);
  const test::ProcessRun piped =
      Kav({"render", rle, "-o", "-"}, [this] { return chdir(dir.path().c_str()) == 0; });
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(Bytes(piped.out.begin(), piped.out.end()), test::ReadFile(dir.File("a.png")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("-")));
  // A write failing part-way is one kavconv line with the system's cause, not libpng's own.
  const std::string noisy =
      Converted(test::PictureOf(
                    100, 100, [](int x, int y) { return (x * x * 7 + y * y * 13 + x * y) % 251; }),
                "mzr");
  const test::ProcessRun limited = Kav({"render", noisy, "-o", dir.File("b.png")}, [] {
    const rlimit limit{2048, 2048};  // the stderr line fits, the PNG does not
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
  });
  EXPECT_EQ(limited.status, 1);
  EXPECT_EQ(limited.err,
            "kavconv: " + dir.File("b.png") + ": Cannot write output file: File too large\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("b.png")));
}

TEST_F(KavconvTools, InfoJudgesAHugeFileByItsHeaderAndGoesOn) {
  // 100 GB of which only "RL" is written: the header, all zeros, gives dataSize 0.
  const std::string big = dir.File("big.RLE");
  test::WriteFile(big, {'R', 'L'});
  std::filesystem::resize_file(big, std::uintmax_t{100} << 30);
  const std::string good = Converted(Palette5(), "rle");
  const test::ProcessRun run = Kav({"info", big, good});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "kavconv: " + big +
                         ": damaged RLE file at offset 4118: the file is 107374182400 bytes long, "
                         "but dataSize 0 gives a length of 4118 (4118 + dataSize)\n");
  EXPECT_TRUE(run.out.starts_with(good + ": RLE, 5 x 3 pixels, ")) << run.out;
  // Not a byte of a missing file could be read: its error has no offset.
  EXPECT_EQ(Kav({"info", "--json", dir.File("missing")}).out,
            R"({"file":")" + dir.File("missing") +
                R"(","format":"unknown","valid":false,"error":{"offset":null,"reason":"Cannot )"
                R"(open this file: No such file or directory"}})"
                "\n");
}

TEST_F(KavconvTools, FailedAllocationIsOutOfMemoryAndTheNextFileIsDone) {
  const std::string rle = Converted(Palette5(), "rle");
  const std::string mzr = Converted(Palette5(), "mzr");
  AllocationFaults::FailNth(1);  // the mapping of the first file
  const test::ProcessRun info = InProcess({"info", rle, mzr});
  AllocationFaults::FailNth(1);
  const test::ProcessRun render = InProcess({"render", rle, "-o", dir.File("a.png")});
  AllocationFaults::FailNth(2);  // the RLE writer's first block, after the reader's
  const test::ProcessRun convert = InProcess({"convert", "-q", dir.File("rle.bmp")});
  AllocationFaults::Clear();
  EXPECT_EQ(convert.status, 1);
  EXPECT_EQ(convert.err, "kavconv: " + dir.File("rle.bmp") + ": Error allocating memory!\n");
  EXPECT_EQ(info.status, 1);
  EXPECT_EQ(info.err, "kavconv: " + rle + ": Out of memory\n");
  EXPECT_TRUE(info.out.starts_with(mzr + ": MZR, 5 x 3 pixels, ")) << info.out;
  EXPECT_EQ(render.status, 1);
  EXPECT_EQ(render.err, "kavconv: " + rle + ": Out of memory\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("a.png")));
}

TEST_F(KavconvTools, ControlCharactersInNamesArePrintedEscaped) {
  // Sets the terminal's title, clears it and turns it red; then DEL, the C1 control NEL, a
  // byte that is not UTF-8 and a backslash.
  const std::string name = "a\x1B]0;PWNED\a\x1B[2J\x1B[31mred\x7F\xC2\x85\xFF\\";
  const std::string shown = "a\\x1B]0;PWNED\\x07\\x1B[2J\\x1B[31mred\\x7F\\xC2\\x85\xFF\\";
  test::WriteFile(dir.File(name + ".bmp"), test::MakeBmp(Palette5()));
  const auto inDir = [this] { return chdir(dir.path().c_str()) == 0; };
  const test::ProcessRun convert = Kav({"convert", name + ".bmp", name + ".gif"}, inDir);
  EXPECT_EQ(convert.out,
            "SUCCESS!!  " + shown +
                ".RLE converted!\nError while loading BMP file!\n2 files processed!\n");
  EXPECT_EQ(convert.err,
            "kavconv: " + shown + ".gif: Cannot open this file: No such file or directory\n");
  EXPECT_TRUE(Kav({"info", name + ".RLE"}, inDir).out.starts_with(shown + ".RLE: RLE, 5 x 3 "));
  // Each control character as \u00XX; the bytes that are not UTF-8 kept in "fileHex".
  EXPECT_TRUE(
      Kav({"info", "--json", name + ".RLE"}, inDir)
          .out.starts_with(
              R"({"file":"a\u001b]0;PWNED\u0007\u001b[2J\u001b[31mred\u007f\u0085)"
              "\xEF\xBF\xBD"
              R"(\\.RLE","fileHex":"611b5d303b50574e4544071b5b324a1b5b33316d7265647fc285ff5c2e524c45",)"));
}

}  // namespace
}  // namespace kav
