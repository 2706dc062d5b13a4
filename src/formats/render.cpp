#include "formats/render.h"

#include <algorithm>
#include <string>

namespace kav {
namespace {

constexpr std::size_t kSheetColumns = 8;
constexpr std::uint32_t kGap = 4;         // around and between tiles
constexpr std::uint32_t kGlyphWidth = 3;  // digits are drawn from a 3 x 5 font...
constexpr std::uint32_t kGlyphHeight = 5;
constexpr std::uint32_t kGlyphScale = 2;  // ...at twice the size
constexpr std::uint32_t kLabelHeight = kGlyphHeight * kGlyphScale + kGap;
// Tiles are at least as wide as a two-digit label, so narrow images keep readable numbers.
constexpr std::uint32_t kMinTileWidth = (2 * (kGlyphWidth + 1) - 1) * kGlyphScale;
constexpr std::array<std::uint8_t, kRgbaBytes> kSheetBackground{48, 48, 48, 255};
constexpr std::array<std::uint8_t, kRgbaBytes> kLabelColour{240, 240, 240, 255};

// Each digit is five rows of three bits, the leftmost pixel in the highest bit.
constexpr std::array<std::array<std::uint8_t, kGlyphHeight>, 10> kDigits{{
    {7, 5, 5, 5, 7},  // 0
    {2, 6, 2, 2, 7},  // 1
    {7, 1, 7, 4, 7},  // 2
    {7, 1, 7, 1, 7},  // 3
    {5, 5, 7, 1, 1},  // 4
    {7, 4, 7, 1, 7},  // 5
    {7, 4, 7, 5, 7},  // 6
    {7, 1, 1, 1, 1},  // 7
    {7, 5, 7, 5, 7},  // 8
    {7, 5, 7, 1, 7},  // 9
}};

unsigned Widen5(unsigned value) {
  return value << 3 | value >> 2;
}
unsigned Widen6(unsigned value) {
  return value << 2 | value >> 4;
}

void Put(std::span<std::uint8_t> rgba, std::uint64_t x,
         const std::array<std::uint8_t, kRgbaBytes>& colour) {
  std::copy(colour.begin(), colour.end(),
            rgba.begin() + static_cast<std::ptrdiff_t>(x * kRgbaBytes));
}

// Whether the label `number`, drawn from column 0 of its band, covers pixel (x, y).
bool LabelCovers(std::size_t number, std::uint64_t x, std::uint64_t y) {
  const std::string digits = std::to_string(number);
  const std::uint64_t glyphX = x / kGlyphScale;
  const std::uint64_t glyphY = y / kGlyphScale;
  const std::uint64_t cell = glyphX / (kGlyphWidth + 1);  // one blank column between digits
  const std::uint64_t column = glyphX % (kGlyphWidth + 1);
  if (glyphY >= kGlyphHeight || cell >= digits.size() || column >= kGlyphWidth) {
    return false;
  }
  const auto& glyph = kDigits[static_cast<std::size_t>(digits[cell] - '0')];
  return (glyph[glyphY] >> (kGlyphWidth - 1 - column) & 1) != 0;
}

}  // namespace

std::array<std::uint8_t, kRgbaBytes> ToRgba(Rgb565 colour) {
  return {static_cast<std::uint8_t>(Widen5(RedOf(colour))),
          static_cast<std::uint8_t>(Widen6(GreenOf(colour))),
          static_cast<std::uint8_t>(Widen5(BlueOf(colour))), 255};
}

RgbaRows::RgbaRows(const kav_image& image)
    : image_(image), colours_(image.width), alpha_(image.width) {}

void RgbaRows::Render(std::uint32_t y, unsigned table, std::span<std::uint8_t> rgba) {
  if (kav_row_rgb565(&image_, y, table, colours_.data(), alpha_.data()) == 0) {
    return;
  }
  for (std::size_t x = 0; x < colours_.size() && (x + 1) * kRgbaBytes <= rgba.size(); ++x) {
    std::array<std::uint8_t, kRgbaBytes> pixel = ToRgba(colours_[x]);
    pixel[3] = alpha_[x];
    Put(rgba, x, pixel);
  }
}

ContactSheet::ContactSheet(const kav_image& image)
    : image_(image),
      imageRows_(image),
      columns_(std::min<std::size_t>(kSheetColumns, image.table_count)),
      rows_((image.table_count + kSheetColumns - 1) / kSheetColumns),
      tileWidth_(std::max<std::uint32_t>(image.width, kMinTileWidth)) {}

std::uint64_t ContactSheet::Width() const {
  return kGap + columns_ * (std::uint64_t{tileWidth_} + kGap);
}

std::uint64_t ContactSheet::Height() const {
  return kGap + rows_ * (kLabelHeight + std::uint64_t{image_.height} + kGap);
}

void ContactSheet::RenderRow(std::uint64_t y, std::span<std::uint8_t> rgba) {
  const std::uint64_t width = Width();
  for (std::uint64_t x = 0; x < width && (x + 1) * kRgbaBytes <= rgba.size(); ++x) {
    Put(rgba, x, kSheetBackground);
  }
  const std::uint64_t band = kLabelHeight + image_.height + kGap;
  if (y < kGap || rows_ == 0) {
    return;
  }
  const std::uint64_t sheetRow = (y - kGap) / band;
  const std::uint64_t inBand = (y - kGap) % band;
  for (std::size_t column = 0; column < columns_; ++column) {
    const std::size_t table = static_cast<std::size_t>(sheetRow) * kSheetColumns + column;
    if (sheetRow >= rows_ || table >= image_.table_count) {
      break;
    }
    const std::uint64_t left = kGap + column * (std::uint64_t{tileWidth_} + kGap);
    const std::span<std::uint8_t> tile = rgba.subspan(static_cast<std::size_t>(left * kRgbaBytes));
    if (inBand < kLabelHeight) {
      for (std::uint64_t x = 0; x < tileWidth_; ++x) {
        if (LabelCovers(table, x, inBand)) {
          Put(tile, x, kLabelColour);
        }
      }
    } else if (inBand < kLabelHeight + image_.height) {
      imageRows_.Render(static_cast<std::uint32_t>(inBand - kLabelHeight),
                        static_cast<unsigned>(table), tile);
    }
  }
}

}  // namespace kav
