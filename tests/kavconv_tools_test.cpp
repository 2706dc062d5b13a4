// kavconv info and render end to end: every file the writers make is accepted, each kind of
// damage is one precise line, and rendered colours match the source palette.

#include <gtest/gtest.h>
#include <png.h>

#include <nlohmann/json.hpp>

#include "convert/batch.h"
#include "formats/mzr.h"
#include "formats/run_length.h"
#include "support/test_support.h"

namespace kav {
namespace {

using Bytes = std::vector<std::uint8_t>;

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

  test::ProcessRun Kav(const std::vector<std::string>& arguments) {
    return test::RunKavconv(arguments, dir);
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
    const std::string file = Converted(wide, format);
    const test::ProcessRun run = Kav({"info", file});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("300 x 7 pixels"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("structure valid"), std::string::npos);
  }
  const test::ProcessRun json = Kav({"info", "--json", dir.File("mzr.MZR"), dir.File("rls.RLE")});
  std::istringstream lines(json.out);
  std::string line;
  std::vector<nlohmann::json> objects;
  while (std::getline(lines, line)) {
    objects.push_back(nlohmann::json::parse(line));
  }
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0]["format"], "MZR");
  EXPECT_EQ(objects[0]["tables"].size(), 32u);
  EXPECT_EQ(objects[0]["header"]["endColor"], 255);
  EXPECT_EQ(objects[1]["format"], "RLS");
  EXPECT_EQ(objects[1]["header"]["segmentCount"], 3);
  EXPECT_EQ(objects[1]["valid"], true);
}

TEST_F(KavconvTools, InfoGivesOnePreciseLinePerDamagedFile) {
  const Bytes good = test::ReadFile(Converted(
      test::PictureOf(3, 2, [](int x, int y) { return y == 0 && x == 0 ? 1 : 255; }), "rle"));
  // The file: rows "01 FF 02" and "FF FF", offsets 8 and 11 from 4118.
  std::vector<std::pair<std::string, Bytes>> damaged;
  damaged.emplace_back("truncated", Bytes(good.begin(), good.end() - 1));
  Bytes badOffset = good;
  test::StoreLe32Into(badOffset, kRowTablesOffset + 4, 12);
  damaged.emplace_back("bad offset", badOffset);
  Bytes countZero = good;
  countZero[kRowTablesOffset + 8 + 2] = 0;
  damaged.emplace_back("count 0", countZero);
  Bytes countHigh = good;
  countHigh[kRowTablesOffset + 8 + 2] = 129;
  damaged.emplace_back("count over 128", countHigh);
  Bytes signature = good;
  signature[1] = 'X';
  damaged.emplace_back("wrong signature", signature);
  Bytes dataSize = good;
  test::StoreLe32Into(dataSize, kRlDataSizeOffset, 14);
  damaged.emplace_back("dataSize mismatch", dataSize);
  for (const auto& [name, bytes] : damaged) {
    test::WriteFile(dir.File("damaged.RLE"), bytes);
    const test::ProcessRun run = Kav({"info", dir.File("damaged.RLE")});
    EXPECT_EQ(run.status, 1) << name;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << name << ": " << run.err;
    EXPECT_NE(run.err.find(name == "wrong signature" ? "not an MZR, RLE or RLS file" : "at offset"),
              std::string::npos)
        << name << ": " << run.err;
    const test::ProcessRun json = Kav({"info", "--json", dir.File("damaged.RLE")});
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(nlohmann::json::parse(json.out)["valid"], false) << name;
  }
}

TEST_F(KavconvTools, InfoRefusesRunsAcrossSegments) {
  // A 130-wide row of 255 except its last pixel: runs of 128 and 1, then the pixel.
  const Bytes good = test::ReadFile(
      Converted(test::PictureOf(130, 1, [](int x, int) { return x == 129 ? 7 : 255; }), "rle"));
  Bytes across = good;
  const std::size_t codes = kRowTablesOffset + 8;
  ASSERT_EQ(across.size(), codes + 5);
  ASSERT_EQ(across[codes + 1], 128);
  ASSERT_EQ(across[codes + 3], 1);
  across[codes + 1] = 127;  // the first run stops one short, the second spans the boundary
  across[codes + 3] = 2;
  test::WriteFile(dir.File("across.RLE"), across);
  const test::ProcessRun run = Kav({"info", dir.File("across.RLE")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("crosses the segment boundary at column 128"), std::string::npos)
      << run.err;
}

TEST_F(KavconvTools, RenderRleTableZeroGivesTheSourceColours) {
  const test::BmpSpec spec = Palette5();
  const std::string file = Converted(spec, "rle");
  ASSERT_EQ(Kav({"render", file, "-o", dir.File("out.png")}).status, 0);
  const Png png = ReadPng(dir.File("out.png"));
  ASSERT_EQ(png.width, 5u);
  ASSERT_EQ(png.height, 3u);
  for (std::uint32_t y = 0; y < 3; ++y) {
    for (std::uint32_t x = 0; x < 5; ++x) {
      const std::uint8_t index = spec.pixels[y * 5 + x];
      const test::Rgb source = spec.palette[index];
      const auto pixel = png.At(x, y);
      EXPECT_EQ(PackRgb565(pixel[0], pixel[1], pixel[2]),
                PackRgb565(source.red, source.green, source.blue))
          << x << "," << y;
      EXPECT_EQ(pixel[3], index == 255 ? 0 : 255) << x << "," << y;
    }
  }
  EXPECT_EQ(png.At(0, 0),
            (std::array<std::uint8_t, 4>{255, 0, 0, 255}));  // full intensity stays full
}

TEST_F(KavconvTools, RenderMzrTransparencyFollowsTheHeader) {
  const test::BmpSpec spec = Palette5();
  const std::string remapped = Converted(spec, "mzr", {"--transparent", "2"});
  ASSERT_EQ(Kav({"render", remapped, "-o", dir.File("a.png")}).status, 0);
  Png png = ReadPng(dir.File("a.png"));
  EXPECT_EQ(png.At(2, 0)[3], 0);    // index 2 is transparent
  EXPECT_EQ(png.At(2, 1)[3], 255);  // index 255 is an ordinary colour in MZR
  EXPECT_EQ(png.At(0, 0), (std::array<std::uint8_t, 4>{255, 0, 0, 255}));

  const std::string plain = Converted(spec, "mzr", {"--transparent", "2", "--no-remapping"});
  ASSERT_EQ(Kav({"render", plain, "--table", "0", "-o", dir.File("b.png")}).status, 0);
  png = ReadPng(dir.File("b.png"));
  EXPECT_EQ(png.At(2, 0)[3], 255);
  // Level 0 keeps an eighth: red 255 becomes 31, 3 in five bits, widened to 24.
  EXPECT_EQ(png.At(0, 0), (std::array<std::uint8_t, 4>{24, 0, 0, 255}));
}

TEST_F(KavconvTools, RenderSheetAndTableLimits) {
  const std::string rle = Converted(Palette5(), "rls");
  ASSERT_EQ(Kav({"render", rle, "--sheet", "-o", dir.File("sheet.png")}).status, 0);
  const Png sheet = ReadPng(dir.File("sheet.png"));
  EXPECT_EQ(sheet.height, 4u + 14u + 3u + 4u);   // one row of tiles under their labels
  EXPECT_EQ(sheet.width, 4u + 8u * (14u + 4u));  // tiles at least as wide as a label

  EXPECT_EQ(Kav({"render", rle, "--table", "8", "-o", dir.File("x.png")}).status, 2);
  const std::string mzr = Converted(Palette5(), "mzr");
  EXPECT_EQ(Kav({"render", mzr, "--table", "31", "-o", dir.File("x.png")}).status, 0);
  EXPECT_EQ(Kav({"render", mzr, "--table", "32", "-o", dir.File("y.png")}).status, 2);
  EXPECT_FALSE(test::FileExists(dir.File("y.png")));
  test::WriteFile(dir.File("junk.RLE"), {'R', 'L', 0});
  EXPECT_EQ(Kav({"render", dir.File("junk.RLE"), "-o", dir.File("z.png")}).status, 1);
  EXPECT_FALSE(test::FileExists(dir.File("z.png")));
}

}  // namespace
}  // namespace kav
