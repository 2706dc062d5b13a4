// Any bytes through the decoder of include/kav/kav_formats.h and rendering. Whenever the header
// passes, every row and segment is decoded whether or not the rest of the file is sound, as
// for a file that changed after it was opened: nothing may be read or written out of bounds.
// In a sound file each segment decoded on its own is that part of its row, and the colours
// and alpha of a row are its indices through the table. Every such file is also drawn at a
// few places, clipped on every side, mirrored and not, into a small buffer; in a sound file
// exactly its visible pixels change. Every refusal is described in a line cut to fit.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "formats/render.h"
#include "kav/kav_formats.h"

namespace {

void Require(bool holds) {
  if (!holds) {
    __builtin_trap();
  }
}

void DecodeEveryRow(const kav_image& image, bool sound) {
  std::vector<std::uint8_t> scratch(image.width);
  std::vector<std::uint8_t> alpha(image.width);
  std::vector<std::uint16_t> rgb(image.width);
  std::array<std::uint16_t, KAV_TABLE_ENTRIES> colours{};
  const unsigned table = kav_plain_table(&image);
  Require(kav_read_table(&image, table, colours.data()) == 1);
  std::array<std::uint8_t, KAV_SEGMENT_WIDTH> segment{};
  for (std::uint32_t r = image.height; r-- > 0;) {
    const std::uint8_t* row = kav_row_indices(&image, r, scratch.data());
    const std::vector<std::uint8_t> indices(row, row + image.width);
    for (std::uint32_t s = 0; s * KAV_SEGMENT_WIDTH < image.width; ++s) {
      const std::size_t count = kav_segment_indices(&image, r, s, segment.data());
      const auto first = static_cast<std::ptrdiff_t>(s * KAV_SEGMENT_WIDTH);
      Require(!sound || std::equal(segment.begin(), segment.begin() + static_cast<long>(count),
                                   indices.begin() + first));
    }
    Require(kav_row_rgb565(&image, r, table, rgb.data(), alpha.data()) == 1);
    for (std::size_t x = 0; x < indices.size(); ++x) {
      Require(!sound || (rgb[x] == colours[indices[x]] &&
                         (alpha[x] == 0) == (indices[x] == kav_transparent_index(&image))));
    }
  }
  Require(kav_row_indices(&image, image.height, scratch.data()) == nullptr);
}

// Columns kDrawWidth to kDrawPitch - 1 of each row lie outside the buffer and must keep the
// canary too.
constexpr int kDrawWidth = 40, kDrawHeight = 24;
constexpr std::int64_t kDrawPitch = 44;
constexpr std::uint16_t kCanary = 0xA5C3;

// Whether `buffer`, after drawing `image` at (x, y), holds each visible pixel's colour and the
// canary everywhere else.
bool DrawnAsIndices(const kav_image& image, const std::vector<std::uint16_t>& buffer,
                    std::int64_t x, std::int64_t y, bool flip) {
  std::array<std::uint16_t, KAV_TABLE_ENTRIES> colours{};
  kav_read_table(&image, kav_plain_table(&image), colours.data());
  std::vector<std::uint8_t> scratch(image.width);
  for (std::int64_t line = 0; line < kDrawHeight; ++line) {
    const std::int64_t r = line - y;
    const std::uint8_t* row =
        r >= 0 && r < image.height
            ? kav_row_indices(&image, static_cast<std::uint32_t>(r), scratch.data())
            : nullptr;
    for (std::int64_t column = 0; column < kDrawPitch; ++column) {
      const std::int64_t c = flip ? x + image.width - 1 - column : column - x;
      const bool drawn = row != nullptr && column < kDrawWidth && c >= 0 && c < image.width &&
                         row[c] != kav_transparent_index(&image);
      if (buffer[static_cast<std::size_t>(line * kDrawPitch + column)] !=
          (drawn ? colours[row[c]] : kCanary)) {
        return false;
      }
    }
  }
  return true;
}

void DrawAtAFewPlaces(const kav_image& image, bool sound) {
  const int width = image.width, height = image.height;
  const std::array<std::pair<int, int>, 4> places{{{0, 0},
                                                   {-width / 2, -height / 2},
                                                   {kDrawWidth - width / 2, kDrawHeight - 3},
                                                   {1 - width, 3}}};
  for (const auto& [x, y] : places) {
    for (const unsigned flags : {0u, unsigned{KAV_DRAW_FLIP_X}}) {
      std::vector<std::uint16_t> buffer(kDrawPitch * kDrawHeight, kCanary);
      Require(kav_draw_rgb565(&image, kav_plain_table(&image), buffer.data(), kDrawPitch,
                              kDrawWidth, kDrawHeight, x, y, flags) == 1);
      Require(!sound || DrawnAsIndices(image, buffer, x, y, flags != 0));
      std::vector<std::uint32_t> rgba(kDrawPitch * kDrawHeight);
      Require(kav_draw_rgba8888(&image, image.table_count - 1, rgba.data(), kDrawPitch, kDrawWidth,
                                kDrawHeight, x, y, flags | KAV_DRAW_SWAP_BYTES) == 1);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kav_image image;
  kav_error error{};
  const kav_reason opened = kav_open(&image, data, size, &error);
  Require(opened == KAV_OK || (error.reason == opened && error.offset <= size));
  if (opened != KAV_OK) {
    std::array<char, 64> line{};
    const std::size_t length = kav_error_describe(&image, &error, line.data(), line.size());
    Require(std::strlen(line.data()) == std::min(length, line.size() - 1));
  }
  if (kav_open_header(&image, data, size, nullptr) != KAV_OK) {
    Require(opened != KAV_OK);
    return 0;
  }
  DecodeEveryRow(image, opened == KAV_OK);
  DrawAtAFewPlaces(image, opened == KAV_OK);
  if (opened == KAV_OK) {
    kav::ContactSheet sheet(image);
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(sheet.Width()) * kav::kRgbaBytes);
    sheet.RenderRow(sheet.Height() / 2, rgba);
  }
  return 0;
}
