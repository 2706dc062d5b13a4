#pragma once
// A checked view of a loaded bitmap: the palette and every row, counted from the top of
// the picture, with all sizes proven to lie inside the block.

#include <cstdint>
#include <optional>
#include <span>

#include "input/bmp_reader.h"

namespace kav {

using PaletteBytes = std::span<const std::uint8_t, kBmpPaletteBytes>;

struct BitmapView {
  PaletteBytes palette;
  std::uint32_t width = 0;
  std::uint32_t rowCount = 0;  // the height without its sign
  std::uint64_t stride = 0;
  bool topDown = false;                // rows stored top row first (negative height)
  std::span<const std::uint8_t> rows;  // rowCount * stride bytes, as stored

  // Row `r` counted from the top of the picture: its `width` pixels, padding left out.
  std::span<const std::uint8_t> TopRow(std::uint32_t r) const {
    const std::uint32_t stored = topDown ? r : rowCount - 1 - r;
    return rows.subspan(static_cast<std::size_t>(stored * stride), width);
  }
};

// The view of `bitmap`, or nullopt when its width is negative or its block is shorter than
// the palette and rows that width and height call for.
std::optional<BitmapView> ViewBitmap(const LoadedBitmap& bitmap);

}  // namespace kav
