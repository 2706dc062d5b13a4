// Truecolour and alpha inputs: the files of tests/data/truecolour (drawn by
// scripts/make-truecolour.py with ImageMagick, Pillow and by hand) read as the pictures they
// hold; the transparency rules and the exact palette worked out by hand.

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <string>
#include <vector>

#include "color/exact_palette.h"
#include "color/transparency.h"
#include "input/palette_picture.h"
#include "input/read_picture.h"
#include "support/test_support.h"

namespace kav {
namespace {

using Rgba = std::array<std::uint8_t, 4>;
using Pixels = std::vector<Rgba>;

const std::string kDir = KAV_TRUECOLOUR_DIR;

constexpr Rgba kClear{0, 0, 0, 0};
// The script's SPRITE, and as files without alpha or with black keyed hold it.
const Pixels kSprite{{255, 0, 0, 255},
                     {0, 255, 0, 255},
                     {0, 0, 255, 255},
                     kClear,
                     {255, 255, 255, 255},
                     {16, 32, 48, 127},
                     {16, 32, 48, 128},
                     {200, 100, 50, 255},
                     {255, 0, 0, 255},
                     {1, 2, 3, 255},
                     kClear,
                     {128, 128, 128, 255}};
const Pixels kSpriteOpaque{{255, 0, 0, 255},  {0, 255, 0, 255},     {0, 0, 255, 255},
                           {0, 0, 0, 255},    {255, 255, 255, 255}, {16, 32, 48, 255},
                           {16, 32, 48, 255}, {200, 100, 50, 255},  {255, 0, 0, 255},
                           {1, 2, 3, 255},    {0, 0, 0, 255},       {128, 128, 128, 255}};
const Pixels kSpriteKeyed{{255, 0, 0, 255},
                          {0, 255, 0, 255},
                          {0, 0, 255, 255},
                          kClear,
                          {255, 255, 255, 255},
                          {16, 32, 48, 255},
                          {16, 32, 48, 255},
                          {200, 100, 50, 255},
                          {255, 0, 0, 255},
                          {1, 2, 3, 255},
                          kClear,
                          {128, 128, 128, 255}};
// GREY: levels and alphas.
const Pixels kGrey{{0, 0, 0, 255},       {50, 50, 50, 0},      {100, 100, 100, 127},
                   {150, 150, 150, 128}, {200, 200, 200, 255}, {250, 250, 250, 255},
                   {25, 25, 25, 0},      {75, 75, 75, 255},    {125, 125, 125, 255},
                   {175, 175, 175, 255}, {225, 225, 225, 255}, {255, 255, 255, 255}};
// EXACT16 through 5-6-5 bits, and through 5-5-5, where green 130 and 65 become 15 and 7 of
// 31, widened as (v x 255 + 15) / 31 to 123 and 58.
const Pixels kExact565{{255, 0, 0, 255},    {0, 130, 0, 255}, {0, 0, 132, 255},
                       {66, 65, 255, 255},  {0, 0, 0, 255},   {255, 255, 255, 255},
                       {132, 130, 66, 255}, {255, 65, 0, 255}};
const Pixels kExact555{{255, 0, 0, 255},    {0, 132, 0, 255}, {0, 0, 132, 255},
                       {66, 66, 255, 255},  {0, 0, 0, 255},   {255, 255, 255, 255},
                       {132, 132, 66, 255}, {255, 66, 0, 255}};
const Pixels kExact4444{{255, 0, 0, 255},    {0, 136, 0, 119}, {0, 0, 68, 136},
                        {17, 34, 51, 0},     {0, 0, 0, 255},   {255, 255, 255, 255},
                        {136, 136, 68, 255}, {255, 68, 0, 255}};
// 10-bit channels v of 1023 widened as (v x 255 + 511) / 1023: red 1023, 512, 100, 0; green
// 1023 - red; blue red / 2.
const Pixels kTenBits{
    {255, 0, 127, 255}, {128, 127, 64, 255}, {25, 230, 12, 255}, {0, 255, 0, 255}};

// 16-bit keys compared on the whole sample: 0x12FF is not 0x1234, 0x1001 not 0x1000.
const Pixels kGrey16Keyed{{18, 18, 18, 0}, {18, 18, 18, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}};
const Pixels kRgb16Keyed{{16, 32, 48, 0}, {16, 32, 48, 255}};

Pixels PixelsOf(const Picture& picture) {
  const RgbaPixels rgba = picture.Rgba();
  Pixels pixels(rgba.PixelCount());
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    std::copy_n(rgba.bytes.begin() + static_cast<std::ptrdiff_t>(i * 4), 4, pixels[i].begin());
  }
  return pixels;
}

TEST(TrueColourInputs, EachFileReadsAsThePictureItHolds) {
  const std::vector<std::pair<const char*, const Pixels*>> cases{
      {"sprite.pil.png", &kSprite},
      {"sprite.im.png", &kSprite},
      {"sprite16.im.png", &kSprite},  // each sample's high byte, never rounded up
      {"sprite-rgb.pil.png", &kSpriteOpaque},
      {"sprite-rgb16.im.png", &kSpriteOpaque},
      {"sprite-rgb-trns.pil.png", &kSpriteKeyed},
      {"grey-alpha.pil.png", &kGrey},
      {"sprite.pil.bmp", &kSpriteOpaque},
      {"sprite-rgba.pil.bmp", &kSpriteOpaque},  // no alpha mask: opaque
      {"sprite.im.bmp", &kSpriteOpaque},
      {"sprite-rgba.im.bmp", &kSprite},
      {"sprite-v5-rgb.bmp", &kSprite},
      {"sprite-alphabitfields.bmp", &kSprite},
      {"sprite-zero-alpha.bmp", &kSpriteOpaque},  // every alpha 0: opaque
      {"exact16-565.im.bmp", &kExact565},
      {"exact16-555.im.bmp", &kExact555},
      {"exact16-555-rgb.bmp", &kExact555},
      {"exact16-4444.im.bmp", &kExact4444},
      {"ten-bits.bmp", &kTenBits},
      {"grey16-key.png", &kGrey16Keyed},
      {"rgb16-key.png", &kRgb16Keyed},
  };
  for (const auto& [file, expected] : cases) {
    SCOPED_TRACE(file);
    ReadResult read = ReadPicture(kDir + "/" + file);
    ASSERT_TRUE(read && read->IsTrueColour());
    EXPECT_EQ(PixelsOf(*read), *expected);
  }
}

}  // namespace
}  // namespace kav
