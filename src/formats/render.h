#pragma once
// Pictures of decoded files: any one colour table as RGBA rows, or every table side by side
// on a labelled contact sheet. Rows are produced one at a time, so a picture of any size
// needs memory for one row only.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "formats/decode.h"

namespace kav {

inline constexpr std::size_t kRgbaBytes = 4;

// The table shown when none is asked for: MZR table 4 (the plain palette), RLE/RLS table 0.
std::size_t DefaultTableOf(FileKind kind);

// The index drawn fully transparent: in MZR the header's transparent colour when remapping
// is on (none otherwise), in RLE and RLS index 255.
std::optional<std::uint8_t> TransparentIndexOf(const DecodedImage& image);

// Red, green, blue and alpha 255, each channel widened by repeating its top bits, so black
// stays 0 and white becomes 255.
std::array<std::uint8_t, kRgbaBytes> ToRgba(Rgb565 colour);

// One row of the image's palette indices through table `table`, as 4 bytes a pixel into
// `rgba`.
void RenderRow(const DecodedImage& image, std::size_t table, std::span<const std::uint8_t> row,
               std::span<std::uint8_t> rgba);

// Every table of an image in a grid of 8 columns (MZR: one row per palette group), each
// tile with its number above it; the image's rows come from `rows`.
class ContactSheet {
 public:
  ContactSheet(const DecodedImage& image, RowDecoder& rows);
  std::uint64_t Width() const;
  std::uint64_t Height() const;
  // Row `y` of the sheet as Width() * 4 bytes into `rgba`.
  void RenderRow(std::uint64_t y, std::span<std::uint8_t> rgba);

 private:
  const DecodedImage& image_;
  RowDecoder& imageRows_;
  std::size_t columns_;
  std::size_t rows_;
  std::uint32_t tileWidth_;
};

}  // namespace kav
