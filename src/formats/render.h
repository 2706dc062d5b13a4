#pragma once
// Pictures of converted files: any one colour table as RGBA rows, or every table side by side
// on a labelled contact sheet. Rows are decoded one at a time, so a picture of any size
// needs memory for one row only.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "color/rgb565.h"
#include "kav/kav_formats.h"

namespace kav {

inline constexpr std::size_t kRgbaBytes = 4;

// Red, green, blue and alpha 255, each channel widened by repeating its top bits, so black
// stays 0 and white becomes 255.
std::array<std::uint8_t, kRgbaBytes> ToRgba(Rgb565 colour);

// The rows of an opened file through its colour tables, as 4 bytes a pixel, with alpha 0 for
// the transparent index (kav_row_rgb565). Holds one row of colours and alpha.
class RgbaRows {
 public:
  explicit RgbaRows(const kav_image& image);
  // Row `y` through table `table` into the first width * 4 bytes of `rgba`.
  void Render(std::uint32_t y, unsigned table, std::span<std::uint8_t> rgba);

 private:
  const kav_image& image_;
  std::vector<std::uint16_t> colours_;
  std::vector<std::uint8_t> alpha_;
};

// Every table of an image in a grid of 8 columns (MZR: one row per palette group), each
// tile with its number above it.
class ContactSheet {
 public:
  explicit ContactSheet(const kav_image& image);
  std::uint64_t Width() const;
  std::uint64_t Height() const;
  // Row `y` of the sheet as Width() * 4 bytes into `rgba`.
  void RenderRow(std::uint64_t y, std::span<std::uint8_t> rgba);

 private:
  const kav_image& image_;
  RgbaRows imageRows_;
  std::size_t columns_;
  std::size_t rows_;
  std::uint32_t tileWidth_;
};

}  // namespace kav
