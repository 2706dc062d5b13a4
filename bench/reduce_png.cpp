// Colour reduction as a whole process, timed by bench/reduce_quality against pngquant, and the
// distance of a reduced picture from its source as the output formats show both.
//
//   kav_reduce_png reduce SOURCE.png OUT     reads SOURCE with libpng, reduces it to 255
//                                            colours beside T (as for RLE) without dithering,
//                                            writes the palette (256 x red, green, blue) and
//                                            the indices (a byte a pixel, rows top first)
//   kav_reduce_png distance SOURCE.png RESULT
//                                            prints the mean OKLab distance between SOURCE and
//                                            RESULT (a PNG, or an OUT of `reduce`), both taken
//                                            as RGB565 and widened as `kavconv render` does

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "color/nearest_colour.h"
#include "color/reduce.h"
#include "formats/render.h"
#include "photo_images.h"

namespace {

using kav::bench::RgbaPicture;

constexpr std::size_t kPaletteBytes = kav::kPaletteEntries * 3;
constexpr std::string_view kPngSignature = "\x89PNG";

std::vector<std::uint8_t> ReadAll(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

int Reduce(const char* source, const char* out) {
  const RgbaPicture picture = kav::bench::DecodePngToRgba(ReadAll(source));
  if (picture.pixels.empty()) {
    return 1;
  }
  std::vector<std::uint8_t> result(kPaletteBytes + picture.pixels.size() / 4);
  const kav::RgbaPixels frame{picture.pixels, picture.width, picture.height};
  const std::span<std::uint8_t> indices = std::span(result).subspan(kPaletteBytes);
  const std::optional<kav::RgbPalette> palette =
      kav::ReduceColours({&frame, 1}, {.capacity = 255, .transparency = {255, 128}}, {&indices, 1});
  if (!palette) {
    return 1;
  }
  for (std::size_t i = 0; i < kav::kPaletteEntries; ++i) {
    const kav::Rgb24 colour = palette->colours[i];
    result[3 * i] = static_cast<std::uint8_t>(colour >> 16);
    result[3 * i + 1] = static_cast<std::uint8_t>(colour >> 8);
    result[3 * i + 2] = static_cast<std::uint8_t>(colour);
  }
  std::ofstream file(out, std::ios::binary);
  file.write(reinterpret_cast<const char*>(result.data()),
             static_cast<std::streamsize>(result.size()));
  return file ? 0 : 1;
}

// A result of `reduce` as RGBA pixels the size of `source`.
RgbaPicture FromIndices(const std::vector<std::uint8_t>& result, const RgbaPicture& source) {
  RgbaPicture picture{{}, source.width, source.height};
  if (result.size() != kPaletteBytes + source.pixels.size() / 4) {
    return picture;
  }
  for (std::size_t i = kPaletteBytes; i < result.size(); ++i) {
    const std::size_t entry = 3 * std::size_t{result[i]};
    picture.pixels.insert(picture.pixels.end(),
                          {result[entry], result[entry + 1], result[entry + 2], 255});
  }
  return picture;
}

kav::Rgb24 AsRendered(const std::uint8_t* pixel) {
  const std::array<std::uint8_t, 4> widened =
      kav::ToRgba(kav::PackRgb565(pixel[0], pixel[1], pixel[2]));
  return kav::MakeRgb24(widened[0], widened[1], widened[2]);
}

int Distance(const char* sourcePath, const char* resultPath) {
  const RgbaPicture source = kav::bench::DecodePngToRgba(ReadAll(sourcePath));
  const std::vector<std::uint8_t> bytes = ReadAll(resultPath);
  const bool isPng =
      std::string_view(reinterpret_cast<const char*>(bytes.data()),
                       std::min(bytes.size(), kPngSignature.size())) == kPngSignature;
  const RgbaPicture result =
      isPng ? kav::bench::DecodePngToRgba(bytes) : FromIndices(bytes, source);
  if (source.pixels.empty() || result.pixels.size() != source.pixels.size()) {
    return 1;
  }
  double total = 0;
  for (std::size_t at = 0; at < source.pixels.size(); at += 4) {
    total += std::sqrt(kav::SquaredDistance(kav::OkLabOf(AsRendered(&source.pixels[at])),
                                            kav::OkLabOf(AsRendered(&result.pixels[at]))));
  }
  std::printf("%.6f\n", total / static_cast<double>(source.pixels.size() / 4));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view command = argc == 4 ? argv[1] : "";
  if (command == "reduce") {
    return Reduce(argv[2], argv[3]);
  }
  if (command == "distance") {
    return Distance(argv[2], argv[3]);
  }
  std::fprintf(stderr, "usage: %s reduce SOURCE.png OUT | distance SOURCE.png RESULT\n", argv[0]);
  return 2;
}
