// Any bytes through the decoder of include/kav/kav_formats.h, rendering and thumbnails. Whenever
// the header passes, every row and segment is decoded, and a thumbnail drawn (as kavconv
// thumbnail draws it while the rest is checked), whether or not the rest of the file is
// sound, as for a file that changed after it was opened: nothing may be read or written out
// of bounds.
// In a sound file each segment decoded on its own is that part of its row, and the colours
// and alpha of a row are its indices through the table.

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "formats/render.h"
#include "formats/thumbnail.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kav_image image;
  kav_error error{};
  const kav_reason opened = kav_open(&image, data, size, &error);
  Require(opened == KAV_OK || (error.reason == opened && error.offset <= size));
  if (kav_open_header(&image, data, size, nullptr) != KAV_OK) {
    Require(opened != KAV_OK);
    return 0;
  }
  DecodeEveryRow(image, opened == KAV_OK);
  // Smaller or larger than the picture, by the file's length.
  const kav::ThumbnailSize fitted =
      kav::FitThumbnail(image.width, image.height, static_cast<std::uint32_t>(size % 61 + 1));
  if (fitted.width != 0) {
    const std::vector<std::uint8_t> thumbnail =
        kav::DrawThumbnail(image, kav_plain_table(&image), fitted, 1);
    Require(thumbnail.size() == std::size_t{fitted.width} * fitted.height * kav::kRgbaBytes);
  }
  if (opened == KAV_OK) {
    kav::ContactSheet sheet(image);
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(sheet.Width()) * kav::kRgbaBytes);
    sheet.RenderRow(sheet.Height() / 2, rgba);
  }
  return 0;
}
