#include "photo_images.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace kav::bench {
namespace {

constexpr std::size_t kChannels = 3;
constexpr std::size_t kRgba = 4;
constexpr std::uint8_t kOpaque = 255;

// One channel's smooth field along a line: two waves of the given periods (in pixels).
std::vector<double> Waves(std::uint32_t length, double amplitude, double period, double phase) {
  std::vector<double> values(length);
  for (std::uint32_t i = 0; i < length; ++i) {
    const double t = 2 * std::numbers::pi * i;
    values[i] = amplitude * std::sin(t / period + phase) +
                amplitude / 3 * std::sin(t / (period / 7.3) + 2 * phase);
  }
  return values;
}

std::uint32_t Hash(std::uint32_t x, std::uint32_t y) {
  std::uint32_t h = x * 0x9E3779B1U ^ y * 0x85EBCA77U;
  h ^= h >> 15;
  h *= 0xC2B2AE3DU;
  return h ^ (h >> 13);
}

}  // namespace

RgbaPicture MakeBenchPhoto(std::uint32_t width, std::uint32_t height) {
  const std::uint32_t diagonal = width + height;
  std::array<std::vector<double>, kChannels> across, down, slant;
  for (std::size_t c = 0; c < kChannels; ++c) {
    const double phase = 1.7 * static_cast<double>(c);
    across[c] = Waves(width, 45, width / 1.9, phase);
    down[c] = Waves(height, 35, height / 1.3, phase + 0.5);
    slant[c] = Waves(diagonal, 25, diagonal / 5.1, phase + 1.1);
  }
  RgbaPicture picture{std::vector<std::uint8_t>(std::size_t{width} * height * kRgba), width,
                      height};
  std::uint8_t* out = picture.pixels.data();
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x, out += kRgba) {
      const std::uint32_t grain = Hash(x, y);
      const int light = static_cast<int>(grain % 7) - 3;  // brightness grain, -3..3
      for (std::size_t c = 0; c < kChannels; ++c) {
        const int tint = static_cast<int>((grain >> (8 + 4 * c)) % 3) - 1;  // colour grain
        const double smooth = 128 + across[c][x] + down[c][y] + slant[c][x + height - 1 - y];
        out[c] =
            static_cast<std::uint8_t>(std::clamp(static_cast<int>(smooth) + light + tint, 0, 255));
      }
      out[3] = kOpaque;
    }
  }
  return picture;
}

namespace {

void AppendToVector(png_structp png, png_bytep data, png_size_t length) {
  auto& out = *static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out.insert(out.end(), data, data + length);
}

struct ReadCursor {
  std::span<const std::uint8_t> bytes;
  std::size_t at = 0;
};

void ReadFromSpan(png_structp png, png_bytep data, png_size_t length) {
  auto& cursor = *static_cast<ReadCursor*>(png_get_io_ptr(png));
  if (length > cursor.bytes.size() - cursor.at) {
    png_error(png, "truncated");
  }
  std::copy_n(cursor.bytes.begin() + static_cast<std::ptrdiff_t>(cursor.at), length, data);
  cursor.at += length;
}

[[noreturn]] void OnError(png_structp png, png_const_charp /*message*/) {
  png_longjmp(png, 1);
}

// libpng's longjmp must pass over no destructor: everything with one belongs to the caller.
bool Encode(png_structp png, png_infop info, const RgbaPicture& picture,
            std::vector<std::uint8_t>& out) {
  if (setjmp(png_jmpbuf(png)) != 0) {
    return false;
  }
  png_set_write_fn(png, &out, AppendToVector, nullptr);
  png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    png_write_row(png, picture.pixels.data() + std::size_t{y} * picture.width * kRgba);
  }
  png_write_end(png, info);
  return true;
}

bool Decode(png_structp png, png_infop info, ReadCursor& cursor, RgbaPicture& picture) {
  if (setjmp(png_jmpbuf(png)) != 0) {
    return false;
  }
  png_set_read_fn(png, &cursor, ReadFromSpan);
  png_read_info(png, info);
  png_set_expand(png);  // palette to RGB, grey to 8 bits, tRNS to alpha
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  picture.width = png_get_image_width(png, info);
  picture.height = png_get_image_height(png, info);
  const std::size_t stride = std::size_t{picture.width} * kRgba;
  picture.pixels.resize(stride * picture.height);
  for (int pass = 0; pass < passes; ++pass) {
    for (std::uint32_t y = 0; y < picture.height; ++y) {
      png_read_row(png, picture.pixels.data() + stride * y, nullptr);
    }
  }
  png_read_end(png, nullptr);
  return true;
}

}  // namespace

std::vector<std::uint8_t> EncodeRgbaPng(const RgbaPicture& picture) {
  std::vector<std::uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  const bool written = info != nullptr && Encode(png, info, picture, out);
  png_destroy_write_struct(&png, &info);
  return written ? out : std::vector<std::uint8_t>{};
}

RgbaPicture DecodePngToRgba(std::span<const std::uint8_t> bytes) {
  RgbaPicture picture;
  ReadCursor cursor{bytes};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  const bool decoded = info != nullptr && Decode(png, info, cursor, picture);
  png_destroy_read_struct(&png, &info, nullptr);
  return decoded ? std::move(picture) : RgbaPicture{};
}

std::size_t DistinctColours(const RgbaPicture& picture) {
  std::vector<bool> seen(std::size_t{1} << 24);
  std::size_t distinct = 0;
  for (std::size_t at = 0; at + kRgba <= picture.pixels.size(); at += kRgba) {
    const std::size_t colour = std::size_t{picture.pixels[at]} << 16 |
                               std::size_t{picture.pixels[at + 1]} << 8 | picture.pixels[at + 2];
    if (!seen[colour]) {
      seen[colour] = true;
      ++distinct;
    }
  }
  return distinct;
}

}  // namespace kav::bench
