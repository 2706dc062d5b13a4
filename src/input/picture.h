#pragma once
// Picture: what every reader gives, whatever the input was: a width, a height, and either a
// palette with one palette index per pixel, row by row from the top, or (from a truecolour
// input) 4 bytes a pixel, red, green, blue and alpha, top row first. The writers take palette
// pictures only: input/palette_picture.h turns a truecolour picture into one.
//
// The indices lie in one memory block that the picture owns, together with the picture
// memory reserved for it (platform/memory_budget.h), so both are given back when the picture
// goes. A reader lays the rows in the block as is cheapest for it: a large uncompressed 8-bit
// BMP in the common layout is a read-only mapping of the file itself, palette included, its
// rows padded to 4 bytes and stored bottom row first; Row() hides how they lie.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "color/palette.h"  // kPaletteEntries: indices are 8 bits
#include "platform/memory_block.h"

namespace kav {

// A palette entry. Alpha is 255 (opaque) unless the input gives the entry a transparency of
// its own.
struct Colour {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  std::uint8_t alpha = 255;
  bool operator==(const Colour&) const = default;
};

// The entries a picture's indices name: the input gives the first `count`, and the others are
// opaque black (an index may still name one).
struct Palette {
  std::array<Colour, kPaletteEntries> entries{};
  std::size_t count = 0;
};

// The entries of `colours`, opaque.
Palette OpaquePalette(const RgbPalette& colours);

// The kinds of input, told apart by their first bytes (input/read_picture.h).
enum class InputKind : std::uint8_t { kBmp, kPng, kGif, kAseprite };

// Where the stored rows lie in a picture's block.
struct RowLayout {
  std::uint64_t offset = 0;  // the first stored row
  std::uint64_t stride = 0;  // from one stored row to the next, at least the width
  bool bottomUp = false;     // the bottom row is stored first
};

class Picture {
 public:
  // The picture whose `height` rows of `width` indices lie in `block` as `layout` says, or
  // nullopt when the block is too short to hold them.
  static std::optional<Picture> Of(InputKind kind, std::uint32_t width, std::uint32_t height,
                                   const Palette& palette, MemoryBlock block,
                                   const RowLayout& layout);

  // The truecolour picture of `width` x `height` RGBA pixels, top row first and packed, that
  // `block` begins with, or nullopt when the block is too short to hold them.
  static std::optional<Picture> OfRgba(InputKind kind, std::uint32_t width, std::uint32_t height,
                                       MemoryBlock block);

  InputKind kind() const { return kind_; }
  bool IsTrueColour() const { return trueColour_; }
  // A truecolour picture's pixels.
  RgbaPixels Rgba() const { return {.bytes = rows_, .width = width_, .height = height_}; }
  // The stored rows (a truecolour picture's pixels), writable in place, or an empty span
  // when the block is a mapping.
  std::span<std::uint8_t> WritableRows();
  void SetPalette(const Palette& palette) { palette_ = palette; }
  // A truecolour picture whose block the caller has begun with its indices, width x height
  // bytes, top row first (written over its pixels as they were read), becomes that palette
  // picture, in the same block.
  void BecomeIndices(const Palette& palette);
  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }
  const Palette& palette() const { return palette_; }

  // Row `y` (below height()) counted from the top: its width() indices.
  std::span<const std::uint8_t> Row(std::uint32_t y) const {
    const std::uint32_t stored = layout_.bottomUp ? height_ - 1 - y : y;
    return rows_.subspan(static_cast<std::size_t>(stored * layout_.stride), width_);
  }
  // Whether the bottom row lies first in memory: a pass over every row that starts from the
  // bottom then reads memory upwards, as the processor's prefetcher expects.
  bool StoredBottomUp() const { return layout_.bottomUp; }

  // Whether the block is a mapping of the input file, which costs no copy.
  bool IsMapped() const { return block_.IsMapped(); }
  // Whether the mapped input file shrank while it was read: its vanished part reads as zeros.
  bool Damaged() const { return block_.Damaged(); }
  // Gives the block and its reserved memory back now; the picture has no rows afterwards.
  void Release();

 private:
  Picture() = default;

  InputKind kind_ = InputKind::kBmp;
  bool trueColour_ = false;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  Palette palette_;
  MemoryBlock block_;
  RowLayout layout_;
  std::span<const std::uint8_t> rows_;  // every stored row, inside block_
};

}  // namespace kav
