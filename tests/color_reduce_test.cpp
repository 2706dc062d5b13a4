// Reduction and error diffusion through libimagequant: the palette's count, order and place
// around T, frames sharing one palette, a fixed palette's own order, and the same bytes on
// any thread beside any number of others.

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

#include "color/nearest_colour.h"
#include "color/palette_mapper.h"
#include "color/reduce.h"

namespace kav {
namespace {

using Pixel = std::array<std::uint8_t, 4>;

struct Picture {
  std::vector<std::uint8_t> bytes;
  std::uint32_t width = 0, height = 0;
  RgbaPixels View() const { return {bytes, width, height}; }
  Rgb24 ColourAt(std::size_t i) const {
    return MakeRgb24(bytes[4 * i], bytes[4 * i + 1], bytes[4 * i + 2]);
  }
  std::uint8_t AlphaAt(std::size_t i) const { return bytes[4 * i + 3]; }
};

Picture Draw(std::uint32_t width, std::uint32_t height,
             const std::function<Pixel(std::uint32_t, std::uint32_t)>& pixel) {
  Picture picture{{}, width, height};
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const Pixel p = pixel(x, y);
      picture.bytes.insert(picture.bytes.end(), p.begin(), p.end());
    }
  }
  return picture;
}

std::uint8_t Byte(std::uint32_t value) {
  return static_cast<std::uint8_t>(value);
}

// 4096 colours, transparent (alpha 40 or 0) along a diagonal band when `withHoles`.
Picture ManyColours(bool withHoles) {
  return Draw(64, 64, [withHoles](std::uint32_t x, std::uint32_t y) {
    const bool hole = withHoles && (x + y) % 16 < 3;
    return Pixel{Byte(x * 4), Byte(y * 4), Byte((x + y) * 2), Byte(hole ? 40 * (x % 2) : 255)};
  });
}

std::optional<RgbPalette> Reduce(const std::vector<const Picture*>& pictures,
                                 const ReductionSettings& settings,
                                 std::vector<std::vector<std::uint8_t>>& indices) {
  std::vector<RgbaPixels> frames;
  std::vector<std::span<std::uint8_t>> spans;
  indices.clear();
  for (const Picture* picture : pictures) {
    indices.emplace_back(picture->bytes.size() / 4);
  }
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    frames.push_back(pictures[i]->View());
    spans.push_back(indices[i]);
  }
  return ReduceColours(frames, settings, spans);
}

double Distance(Rgb24 x, Rgb24 y) {
  return std::sqrt(SquaredDistance(OkLabOf(x), OkLabOf(y)));
}

TEST(ReduceColours, CountSortedPaletteAndTransparentIndex) {
  struct Case {
    std::optional<std::uint8_t> transparentIndex;
    std::uint16_t capacity;
    std::uint16_t count;  // reaching past the last colour, and past T below it
  };
  for (const Case c : {Case{255, 255, 255}, Case{0, 255, 256}, Case{std::nullopt, 256, 256}}) {
    SCOPED_TRACE(c.capacity + 1000 * c.transparentIndex.value_or(7));
    const Picture picture = ManyColours(c.transparentIndex.has_value());
    std::vector<std::vector<std::uint8_t>> indices;
    const std::optional<RgbPalette> palette = Reduce(
        {&picture}, {.capacity = c.capacity, .transparency = {c.transparentIndex, 128}}, indices);
    ASSERT_TRUE(palette);
    EXPECT_EQ(palette->count, c.count);
    std::vector<Rgb24> colours;
    for (std::size_t i = 0; i < palette->count; ++i) {
      if (i != c.transparentIndex) {
        colours.push_back(palette->colours[i]);
      }
    }
    EXPECT_EQ(colours.size(), c.capacity);
    EXPECT_TRUE(std::ranges::adjacent_find(colours, std::greater_equal<>()) == colours.end());
    if (c.transparentIndex) {
      EXPECT_EQ(palette->colours[*c.transparentIndex], 0U);
    }
    double worst = 0, total = 0;
    int opaque = 0;
    for (std::size_t i = 0; i < indices[0].size(); ++i) {
      const std::uint8_t index = indices[0][i];
      if (picture.AlphaAt(i) < 128) {
        ASSERT_EQ(index, c.transparentIndex) << i;
        continue;
      }
      ASSERT_NE(index, c.transparentIndex) << i;
      const double d = Distance(picture.ColourAt(i), palette->colours[index]);
      total += d, ++opaque;
      worst = std::max(worst, d);
    }
    EXPECT_LT(total / opaque, 0.015);  // near its source: 0.0115 to 0.0126 here
    EXPECT_LT(worst, 0.15);            // black, in OKLab's steep dark end, is the worst
  }
}

// Six colours fit: libimagequant gives them back exactly, sorted after T (index 0). The
// transparent pixels' magenta (alpha 0 and 127) is no colour of the picture.
TEST(ReduceColours, ColoursThatFitComeBackExactAndSorted) {
  const std::array<Pixel, 8> pixels{
      Pixel{255, 0, 0, 255},  {0, 255, 0, 255},     {0, 0, 255, 255}, {255, 0, 255, 0},
      Pixel{16, 32, 48, 255}, {255, 255, 255, 255}, {0, 0, 1, 255},   {255, 0, 255, 127}};
  const Picture picture =
      Draw(4, 2, [&pixels](std::uint32_t x, std::uint32_t y) { return pixels[y * 4 + x]; });
  std::vector<std::vector<std::uint8_t>> indices;
  const std::optional<RgbPalette> palette =
      Reduce({&picture}, {.capacity = 255, .transparency = {0, 128}}, indices);
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->count, 7);
  EXPECT_EQ(std::vector<Rgb24>(palette->colours.begin(), palette->colours.begin() + 8),
            (std::vector<Rgb24>{0, 0x000001, 0x0000FF, 0x00FF00, 0x102030, 0xFF0000, 0xFFFFFF, 0}));
  EXPECT_EQ(indices[0], (std::vector<std::uint8_t>{5, 3, 2, 0, 4, 6, 1, 0}));
}

// Black, grey 200 and grey 220, then transparent pixels (given grey 220's colour inside
// libimagequant, for error diffusion), reduced to two colours: the two greys share an entry
// of equal weight, about 210, as long as the transparent pixels weigh nothing.
TEST(ReduceColours, TransparentPixelsWeighNothing) {
  const Picture picture = Draw(256, 1, [](std::uint32_t x, std::uint32_t) {
    const std::uint8_t grey = x == 0 ? 0 : x == 1 ? 200 : 220;
    return Pixel{grey, grey, grey, Byte(x < 3 ? 255 : 0)};
  });
  std::vector<std::vector<std::uint8_t>> indices;
  const std::optional<RgbPalette> palette =
      Reduce({&picture}, {.capacity = 2, .transparency = {255, 128}}, indices);
  ASSERT_TRUE(palette);
  ASSERT_EQ(palette->count, 2);
  EXPECT_EQ(palette->colours[0], 0U);
  EXPECT_NEAR(palette->colours[1] & 0xFF, 210, 4);
}

TEST(ReduceColours, FramesShareOnePalette) {
  const Picture reds = Draw(64, 4, [](std::uint32_t x, std::uint32_t y) {
    return Pixel{Byte(128 + x * 2), Byte(y), 0, 255};
  });
  const Picture blues = Draw(32, 8, [](std::uint32_t x, std::uint32_t y) {
    return Pixel{0, Byte(y), Byte(128 + x * 4), 255};
  });
  std::vector<std::vector<std::uint8_t>> indices;
  const std::optional<RgbPalette> palette =
      Reduce({&reds, &blues}, {.capacity = 16, .transparency = {}}, indices);
  ASSERT_TRUE(palette);
  EXPECT_LE(palette->count, 16);
  for (const auto& [picture, frame] :
       {std::pair{&reds, &indices[0]}, std::pair{&blues, &indices[1]}}) {
    for (std::size_t i = 0; i < frame->size(); ++i) {
      ASSERT_LT(Distance(picture->ColourAt(i), palette->colours[(*frame)[i]]), 0.05) << i;
    }
  }
  // Ordered dithering maps each frame onto the same palette by the nearest-colour rule.
  const std::optional<RgbPalette> again = Reduce(
      {&reds, &blues}, {.capacity = 16, .transparency = {}, .dither = Dither::kOrdered}, indices);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->colours, palette->colours);
  std::optional<PaletteMapper> mapper = PaletteMapper::Make(*palette, {});
  std::vector<std::uint8_t> ordered(indices[1].size());
  ASSERT_TRUE(mapper && mapper->MapOrdered(blues.View(), ordered));
  EXPECT_EQ(indices[1], ordered);
}

TEST(ReduceColours, RefusesWhatDoesNotFit) {
  const Picture picture = ManyColours(false);
  std::vector<std::vector<std::uint8_t>> indices;
  EXPECT_FALSE(Reduce({&picture}, {.capacity = 256, .transparency = {0, 128}}, indices));
  EXPECT_FALSE(Reduce({&picture}, {.capacity = 1, .transparency = {}}, indices));
  std::vector<std::uint8_t> tooShort(picture.bytes.size() / 4 - 1);
  const std::array<RgbaPixels, 1> frames{picture.View()};
  const std::array<std::span<std::uint8_t>, 1> spans{tooShort};
  EXPECT_FALSE(ReduceColours(frames, {}, spans));
}

// Exact colours diffuse no error: each takes its own entry, the first of equal ones; red is T
// and takes another entry (last in the serpentine order, so its error reaches no one).
TEST(DiffuseOntoPalette, KeepsThePalettesOwnOrder) {
  RgbPalette palette;
  palette.colours = {0xFFFFFF, 0x000000, 0xFF0000, 0x000000, 0x00FF00};
  palette.count = 5;
  const Picture picture = Draw(3, 2, [](std::uint32_t x, std::uint32_t y) {
    const std::array<Pixel, 6> pixels{Pixel{0, 255, 0, 255}, {255, 255, 255, 255},
                                      {0, 0, 0, 255},        Pixel{255, 0, 0, 255},
                                      {9, 9, 9, 0},          {0, 255, 0, 255}};
    return pixels[y * 3 + x];
  });
  std::vector<std::uint8_t> indices(6);
  const std::array<RgbaPixels, 1> frames{picture.View()};
  const std::array<std::span<std::uint8_t>, 1> spans{indices};
  ASSERT_TRUE(DiffuseOntoPalette(frames, palette, {2, 128}, spans));
  EXPECT_EQ(std::vector<std::uint8_t>(indices.begin() + 1, indices.end()),
            (std::vector<std::uint8_t>{0, 1, /* red */ indices[3], 2, 4}));
  EXPECT_EQ(indices[0], 4);
  EXPECT_NE(indices[3], 2);
  palette.count = 3;  // white, black and T: black's copy and green are past the count
  ASSERT_TRUE(DiffuseOntoPalette(frames, palette, {2, 128}, spans));
  EXPECT_TRUE(std::ranges::all_of(indices, [](std::uint8_t i) { return i <= 2; }));
  EXPECT_EQ(indices[4], 2);
  palette.count = 1;  // white alone: it takes every opaque pixel
  ASSERT_TRUE(DiffuseOntoPalette(frames, palette, {2, 128}, spans));
  EXPECT_EQ(indices, (std::vector<std::uint8_t>{0, 0, 0, 0, 2, 0}));
  EXPECT_FALSE(DiffuseOntoPalette(frames, palette, {0, 128}, spans));  // only T is left
}

// What the conversion needs from libimagequant: the reduced palette and indices with and
// without diffusion, and diffusion onto a fixed palette.
std::vector<std::uint8_t> AllResults(const Picture& picture) {
  std::vector<std::uint8_t> bytes;
  const auto keep = [&bytes](const RgbPalette& palette, const std::vector<std::uint8_t>& indices) {
    for (const Rgb24 colour : palette.colours) {
      bytes.insert(bytes.end(), {Byte(colour >> 16), Byte(colour >> 8), Byte(colour)});
    }
    bytes.insert(bytes.end(), indices.begin(), indices.end());
  };
  for (const bool diffusion : {false, true}) {
    std::vector<std::vector<std::uint8_t>> indices;
    const std::optional<RgbPalette> palette =
        Reduce({&picture},
               {.capacity = 255,
                .transparency = {255, 128},
                .dither = diffusion ? Dither::kDiffusion : Dither::kNone},
               indices);
    if (!palette) {
      return {};
    }
    keep(*palette, indices[0]);
  }
  RgbPalette fixed;
  fixed.count = 200;
  for (std::uint32_t i = 0; i < fixed.count; ++i) {
    fixed.colours[i] = MakeRgb24(i * 37 % 256, i * 91 % 256, i * 13 % 256);
  }
  std::vector<std::uint8_t> indices(picture.bytes.size() / 4);
  const std::array<RgbaPixels, 1> frames{picture.View()};
  const std::array<std::span<std::uint8_t>, 1> spans{indices};
  if (!DiffuseOntoPalette(frames, fixed, {255, 128}, spans)) {
    return {};
  }
  keep(fixed, indices);
  return bytes;
}

std::size_t ThreadsOfThisProcess() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

// libimagequant shares its loops among OpenMP threads, as many as the calling thread allows,
// and their number can change its sums: each call must run on its caller's thread alone (an
// OpenMP team would stay parked beside its thread afterwards), and every thread, run beside
// any number of others, gets the same bytes.
TEST(ReduceColours, SameBytesOnAnyThreadBesideAnyNumberOfOthers) {
  const Picture picture = Draw(128, 96, [](std::uint32_t x, std::uint32_t y) {
    const std::uint32_t wave = (x * x + 3 * y * y + x * y) % 97;
    return Pixel{Byte(x * 2 + wave), Byte(y * 2 + wave / 2), Byte(x + y + wave),
                 Byte((x * 7 + y * 3) % 29 == 0 ? 0 : 255)};
  });
  omp_set_num_threads(1);
  const std::vector<std::uint8_t> alone = AllResults(picture);
  ASSERT_FALSE(alone.empty());
  std::jthread([&picture] {
    omp_set_num_threads(4);
    const std::size_t before = ThreadsOfThisProcess();
    AllResults(picture);
    EXPECT_EQ(ThreadsOfThisProcess(), before);
  }).join();
  std::array<std::vector<std::uint8_t>, 4> workers;
  {
    std::vector<std::jthread> threads;
    for (std::vector<std::uint8_t>& result : workers) {
      threads.emplace_back([&result, &picture] {
        omp_set_num_threads(4);
        result = AllResults(picture);
      });
    }
  }
  for (const std::vector<std::uint8_t>& result : workers) {
    EXPECT_TRUE(result == alone);
  }
}

}  // namespace
}  // namespace kav
