#include "input/picture.h"

#include <utility>

namespace kav {

Palette OpaquePalette(const RgbPalette& colours) {
  Palette palette;
  palette.count = colours.count;
  for (std::size_t i = 0; i < colours.count; ++i) {
    const Rgb24 colour = colours.colours[i];
    palette.entries[i] = {.red = static_cast<std::uint8_t>(colour >> 16),
                          .green = static_cast<std::uint8_t>(colour >> 8),
                          .blue = static_cast<std::uint8_t>(colour)};
  }
  return palette;
}

std::optional<Picture> Picture::Of(InputKind kind, std::uint32_t width, std::uint32_t height,
                                   const Palette& palette, MemoryBlock block,
                                   const RowLayout& layout) {
  // Below 2^32 rows of strides below 2^32 bytes keep every product inside 64 bits.
  if (layout.stride < width || layout.stride > UINT32_MAX) {
    return std::nullopt;
  }
  const std::uint64_t rowsBytes = height == 0 ? 0 : (height - 1) * layout.stride + width;
  if (layout.offset > block.size() || rowsBytes > block.size() - layout.offset) {
    return std::nullopt;
  }
  Picture picture;
  picture.kind_ = kind;
  picture.width_ = width;
  picture.height_ = height;
  picture.palette_ = palette;
  picture.layout_ = layout;
  picture.rows_ =
      std::span<const std::uint8_t>(block.bytes())
          .subspan(static_cast<std::size_t>(layout.offset), static_cast<std::size_t>(rowsBytes));
  picture.block_ = std::move(block);
  return picture;
}

std::optional<Picture> Picture::OfRgba(InputKind kind, std::uint32_t width, std::uint32_t height,
                                       MemoryBlock block) {
  if (std::uint64_t{width} * kRgbaPixelBytes > UINT32_MAX) {
    return std::nullopt;
  }
  std::optional<Picture> picture =
      Of(kind, width * static_cast<std::uint32_t>(kRgbaPixelBytes), height, {}, std::move(block),
         {.offset = 0, .stride = std::uint64_t{width} * kRgbaPixelBytes, .bottomUp = false});
  if (picture) {
    picture->width_ = width;
    picture->trueColour_ = true;
  }
  return picture;
}

std::span<std::uint8_t> Picture::WritableRows() {
  if (block_.IsMapped() || rows_.empty()) {
    return {};
  }
  const auto offset = static_cast<std::size_t>(rows_.data() - block_.data());
  return block_.bytes().subspan(offset, rows_.size());
}

void Picture::Release() {
  rows_ = {};
  width_ = 0;
  height_ = 0;
  block_.Release();
}

void Picture::BecomeIndices(const Palette& palette) {
  trueColour_ = false;
  palette_ = palette;
  layout_ = {.offset = 0, .stride = width_, .bottomUp = false};
  rows_ = rows_.first(std::size_t{width_} * height_);
}

}  // namespace kav
