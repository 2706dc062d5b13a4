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

std::uint8_t Byte(std::uint32_t value) {
  return static_cast<std::uint8_t>(value);
}

struct Picture {
  std::vector<std::uint8_t> bytes;
  std::uint32_t width = 0, height = 0;
  RgbaPixels View() const { return {bytes, width, height}; }
  Rgb24 ColourAt(std::size_t i) const {
    return MakeRgb24(bytes[4 * i], bytes[4 * i + 1], bytes[4 * i + 2]);
  }
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

// The pictures as frames, each with a buffer for its indices.
struct Frames {
  explicit Frames(const std::vector<const Picture*>& pictures) {
    for (const Picture* picture : pictures) {
      pixels.push_back(picture->View());
      indices.emplace_back(picture->bytes.size() / 4);
    }
    spans.assign(indices.begin(), indices.end());
  }
  Frames(const Frames&) = delete;
  Frames& operator=(const Frames&) = delete;

  std::optional<RgbPalette> Reduce(const ReductionSettings& settings) {
    return ReduceColours(pixels, settings, spans);
  }
  bool Diffuse(const RgbPalette& palette, std::optional<std::uint8_t> transparentIndex) {
    return DiffuseOntoPalette(pixels, palette, {transparentIndex, 128}, spans);
  }

  std::vector<RgbaPixels> pixels;
  std::vector<std::vector<std::uint8_t>> indices;
  std::vector<std::span<std::uint8_t>> spans;
};

double Distance(Rgb24 x, Rgb24 y) {
  return std::sqrt(SquaredDistance(OkLabOf(x), OkLabOf(y)));
}

// 4096 colours, transparent (alpha 40 or 0) along diagonal bands when T is set.
TEST(ReduceColours, CountSortedPaletteAndTransparentIndex) {
  struct Case {
    std::optional<std::uint8_t> transparentIndex;
    std::uint16_t capacity;
    std::uint16_t count;  // reaching past the last colour, and past T below it
  };
  for (const Case c : {Case{255, 255, 255}, Case{0, 255, 256}, Case{std::nullopt, 256, 256}}) {
    SCOPED_TRACE(c.capacity + 1000 * c.transparentIndex.value_or(7));
    const Picture picture = Draw(64, 64, [&c](std::uint32_t x, std::uint32_t y) {
      const bool hole = c.transparentIndex && (x + y) % 16 < 3;
      return Pixel{Byte(x * 4), Byte(y * 4), Byte((x + y) * 2), Byte(hole ? 40 * (x % 2) : 255)};
    });
    Frames frames({&picture});
    const std::optional<RgbPalette> palette =
        frames.Reduce({.capacity = c.capacity, .transparency = {c.transparentIndex, 128}});
    ASSERT_TRUE(palette);
    EXPECT_EQ(palette->count, c.count);
    std::vector<Rgb24> colours(palette->colours.begin(), palette->colours.begin() + c.count);
    if (c.transparentIndex) {
      EXPECT_EQ(palette->colours[*c.transparentIndex], 0U);
      if (*c.transparentIndex < colours.size()) {
        colours.erase(colours.begin() + *c.transparentIndex);
      }
    }
    EXPECT_EQ(colours.size(), c.capacity);
    EXPECT_TRUE(std::ranges::adjacent_find(colours, std::greater_equal<>()) == colours.end());
    double worst = 0, total = 0;
    for (std::size_t i = 0; i < frames.indices[0].size(); ++i) {
      const std::uint8_t index = frames.indices[0][i];
      ASSERT_EQ(picture.bytes[4 * i + 3] < 128, index == c.transparentIndex) << i;
      const double distance = Distance(picture.ColourAt(i), palette->colours[index]);
      total += index == c.transparentIndex ? 0 : distance;
      worst = std::max(worst, index == c.transparentIndex ? 0 : distance);
    }
    EXPECT_LT(total / 4096, 0.015);  // near its source: 0.0094 to 0.0126 here
    EXPECT_LT(worst, 0.15);          // black, in OKLab's steep dark end, is the worst
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
  Frames frames({&picture});
  const std::optional<RgbPalette> palette =
      frames.Reduce({.capacity = 255, .transparency = {0, 128}});
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->count, 7);
  EXPECT_EQ(std::vector<Rgb24>(palette->colours.begin(), palette->colours.begin() + 8),
            (std::vector<Rgb24>{0, 0x000001, 0x0000FF, 0x00FF00, 0x102030, 0xFF0000, 0xFFFFFF, 0}));
  EXPECT_EQ(frames.indices[0], (std::vector<std::uint8_t>{5, 3, 2, 0, 4, 6, 1, 0}));
}

// Black, grey 200 and grey 220, then transparent pixels (given grey 220's colour inside
// libimagequant, for error diffusion), reduced to two colours: the two greys share an entry
// of equal weight, 210, as long as the transparent pixels weigh nothing.
TEST(ReduceColours, TransparentPixelsWeighNothing) {
  const Picture picture = Draw(256, 1, [](std::uint32_t x, std::uint32_t) {
    const std::uint8_t grey = x == 0 ? 0 : x == 1 ? 200 : 220;
    return Pixel{grey, grey, grey, Byte(x < 3 ? 255 : 0)};
  });
  Frames frames({&picture});
  const std::optional<RgbPalette> palette =
      frames.Reduce({.capacity = 2, .transparency = {255, 128}});
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
  Frames frames({&reds, &blues});
  const std::optional<RgbPalette> palette = frames.Reduce({.capacity = 16, .transparency = {}});
  ASSERT_TRUE(palette);
  EXPECT_LE(palette->count, 16);
  for (std::size_t frame = 0; frame < 2; ++frame) {
    const Picture& picture = frame == 0 ? reds : blues;
    for (std::size_t i = 0; i < frames.indices[frame].size(); ++i) {
      const Rgb24 colour = palette->colours[frames.indices[frame][i]];
      ASSERT_LT(Distance(picture.ColourAt(i), colour), 0.05) << i;
    }
  }
  // Ordered dithering maps each frame onto the same palette by the nearest-colour rule.
  const std::optional<RgbPalette> again =
      frames.Reduce({.capacity = 16, .transparency = {}, .dither = Dither::kOrdered});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->colours, palette->colours);
  std::optional<PaletteMapper> mapper = PaletteMapper::Make(*palette, {});
  std::vector<std::uint8_t> ordered(frames.indices[1].size());
  ASSERT_TRUE(mapper && mapper->MapOrdered(blues.View(), ordered));
  EXPECT_EQ(frames.indices[1], ordered);
}

TEST(ReduceColours, RefusesWhatDoesNotFit) {
  const Picture picture = Draw(4, 4, [](std::uint32_t x, std::uint32_t y) {
    return Pixel{Byte(x * 60), Byte(y * 60), 0, 255};
  });
  Frames frames({&picture});
  EXPECT_FALSE(frames.Reduce({.capacity = 256, .transparency = {0, 128}}));
  EXPECT_FALSE(frames.Reduce({.capacity = 1, .transparency = {}}));
  frames.spans[0] = frames.spans[0].first(15);
  EXPECT_FALSE(frames.Reduce({}));
}

// Exact colours diffuse no error: each takes its own entry, the first of equal ones; red is T
// and takes another entry (last in the serpentine order, so its error reaches no one).
TEST(DiffuseOntoPalette, KeepsThePalettesOwnOrder) {
  RgbPalette palette{{0xFFFFFF, 0x000000, 0xFF0000, 0x000000, 0x00FF00}, 5};
  const std::array<Pixel, 6> pixels{Pixel{0, 255, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255},
                                    Pixel{255, 0, 0, 255}, {9, 9, 9, 0},         {0, 255, 0, 255}};
  const Picture picture =
      Draw(3, 2, [&pixels](std::uint32_t x, std::uint32_t y) { return pixels[y * 3 + x]; });
  Frames frames({&picture});
  const std::vector<std::uint8_t>& indices = frames.indices[0];
  ASSERT_TRUE(frames.Diffuse(palette, 2));
  EXPECT_EQ(indices, (std::vector<std::uint8_t>{4, 0, 1, indices[3], 2, 4}));
  EXPECT_NE(indices[3], 2);
  palette.count = 3;  // white, black and T: black's copy and green are past the count
  ASSERT_TRUE(frames.Diffuse(palette, 2));
  EXPECT_TRUE(std::ranges::all_of(indices, [](std::uint8_t i) { return i <= 2; }));
  EXPECT_EQ(indices[4], 2);
  palette.count = 1;  // white alone: it takes every opaque pixel
  ASSERT_TRUE(frames.Diffuse(palette, 2));
  EXPECT_EQ(indices, (std::vector<std::uint8_t>{0, 0, 0, 0, 2, 0}));
  EXPECT_FALSE(frames.Diffuse(palette, 0));  // only T is left
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
  Frames frames({&picture});
  RgbPalette fixed{{}, 200};
  for (std::uint32_t i = 0; i < fixed.count; ++i) {
    fixed.colours[i] = MakeRgb24(i * 37 % 256, i * 91 % 256, i * 13 % 256);
  }
  for (const Dither dither : {Dither::kNone, Dither::kDiffusion}) {
    const std::optional<RgbPalette> palette =
        frames.Reduce({.capacity = 255, .transparency = {255, 128}, .dither = dither});
    EXPECT_TRUE(palette);
    keep(palette.value_or(RgbPalette{}), frames.indices[0]);
  }
  EXPECT_TRUE(frames.Diffuse(fixed, 255));
  keep(fixed, frames.indices[0]);
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
