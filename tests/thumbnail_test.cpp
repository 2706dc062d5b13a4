// Thumbnails scaled down, against a reference written here that weighs every picture pixel by
// the area it shares with every thumbnail pixel; drawn in one band and in several.

#include "formats/thumbnail.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "formats/render.h"
#include "support/test_support.h"

namespace kav {
namespace {

using test::Bytes;

// The overlap of [a, a + aLength) and [b, b + bLength).
std::uint64_t Overlap(std::uint64_t a, std::uint64_t aLength, std::uint64_t b,
                      std::uint64_t bLength) {
  const std::uint64_t low = std::max(a, b);
  const std::uint64_t high = std::min(a + aLength, b + bLength);
  return high > low ? high - low : 0;
}

// Picture pixel (x, y) is the rectangle [x * tw, (x + 1) * tw) x [y * th, (y + 1) * th) and
// thumbnail pixel (u, v) is [u * w, (u + 1) * w) x [v * h, (v + 1) * h): both cover w * tw by
// h * th. Colours are summed premultiplied (an opaque pixel's colour, a transparent one's 0).
Bytes Reference(const Bytes& file, ThumbnailSize size) {
  const kav_image image = test::Open(file).value();
  const Bytes indices = test::Decode(file);
  std::array<std::uint16_t, KAV_TABLE_ENTRIES> colours{};
  kav_read_table(&image, kav_plain_table(&image), colours.data());
  const std::uint64_t w = image.width, h = image.height, tw = size.width, th = size.height;
  Bytes rgba;
  for (std::uint64_t v = 0; v < th; ++v) {
    for (std::uint64_t u = 0; u < tw; ++u) {
      std::array<std::uint64_t, 4> sums{};
      for (std::uint64_t y = 0; y < h; ++y) {
        for (std::uint64_t x = 0; x < w; ++x) {
          const std::uint8_t index = indices.at(y * w + x);
          const std::uint64_t weight =
              Overlap(x * tw, tw, u * w, w) * Overlap(y * th, th, v * h, h);
          if (index == kav_transparent_index(&image) || weight == 0) {
            continue;
          }
          const auto colour = ToRgba(colours[index]);
          for (std::size_t lane = 0; lane < 4; ++lane) {
            sums[lane] += colour[lane] * weight;
          }
        }
      }
      const std::uint64_t alpha = (2 * sums[3] + w * h) / (2 * w * h);
      for (std::size_t lane = 0; lane < 3; ++lane) {
        rgba.push_back(static_cast<std::uint8_t>(
            alpha == 0 ? 0 : (2 * 255 * sums[lane] + sums[3]) / (2 * sums[3])));
      }
      rgba.push_back(static_cast<std::uint8_t>(alpha));
    }
  }
  return rgba;
}

TEST(Thumbnail, ScaledDownIsTheAreaWeightedAverageInOneBandOrMany) {
  // Thumbnail pixels covering parts of picture pixels on both sides, rows straddling two
  // thumbnail rows, columns of more than 256 pixels (summed in pieces), many rows to a
  // thumbnail row, sides kept whole, and stripes of transparent pixels.
  for (const auto& [width, height, side] : {std::tuple{37, 23, 10u},
                                            {300, 7, 128},
                                            {5, 200, 17},
                                            {600, 3, 2},
                                            {40, 900, 3},
                                            {256, 300, 1},
                                            {64, 9, 48}}) {
    const Bytes file = test::Encode(test::PictureOf(width, height,
                                                    [](int x, int y) {
                                                      return (x / 16 + y / 4) % 3 == 0 ? 255
                                                             : (x * 7 + y * 13) % 11 == 0
                                                                 ? 255
                                                                 : (x * x + y * 3) % 40;
                                                    }),
                                    FileKind::kRle);
    const kav_image image = test::Open(file).value();
    const ThumbnailSize size = FitThumbnail(image.width, image.height, side);
    const Bytes expected = Reference(file, size);
    for (const unsigned threads : {1u, 3u}) {
      EXPECT_EQ(DrawThumbnail(image, 0, size, threads), expected)
          << width << " x " << height << " to " << side << ", " << threads << " bands";
    }
  }
}

}  // namespace
}  // namespace kav
