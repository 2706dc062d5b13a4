#include "color/exact_palette.h"

#include <bit>
#include <cstring>

namespace kav {
namespace {

constexpr std::size_t kColours = std::size_t{1} << 24;
constexpr std::size_t kWordBits = 64;
constexpr std::size_t kAlphaByte = 3;

// A pixel's four bytes as one value, to tell a pixel like the one before it at once.
std::uint32_t PixelAt(std::span<const std::uint8_t> bytes, std::size_t pixel) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.subspan(pixel * kRgbaPixelBytes, kRgbaPixelBytes).data(),
              kRgbaPixelBytes);
  return value;
}

Rgb24 ColourAt(std::span<const std::uint8_t> bytes, std::size_t pixel) {
  const std::span<const std::uint8_t> p = bytes.subspan(pixel * kRgbaPixelBytes, kRgbaPixelBytes);
  return MakeRgb24(p[0], p[1], p[2]);
}

std::uint8_t AlphaAt(std::span<const std::uint8_t> bytes, std::size_t pixel) {
  return bytes[pixel * kRgbaPixelBytes + kAlphaByte];
}

bool HoldsFrame(const RgbaPixels& frame) {
  return frame.bytes.size() / kRgbaPixelBytes == frame.PixelCount() &&
         frame.bytes.size() % kRgbaPixelBytes == 0;
}

}  // namespace

ExactPalette::ExactPalette(const TransparencyRules& rules)
    : rules_(rules), seen_(kColours / kWordBits), ranks_(kColours / kWordBits) {}

void ExactPalette::Gather(const RgbaPixels& frame) {
  if (!HoldsFrame(frame)) {
    return;
  }
  const std::span<const std::uint8_t> bytes = frame.bytes;
  std::optional<std::uint32_t> previous;
  for (std::size_t pixel = 0; pixel < frame.PixelCount(); ++pixel) {
    const std::uint32_t value = PixelAt(bytes, pixel);
    if (value == previous) {
      continue;
    }
    previous = value;
    if (rules_.IsTransparent(AlphaAt(bytes, pixel))) {
      sawTransparent_ = true;
      continue;
    }
    const Rgb24 colour = ColourAt(bytes, pixel);
    seen_[colour / kWordBits] |= std::uint64_t{1} << (colour % kWordBits);
  }
}

PaletteChoice ExactPalette::Choose() {
  std::size_t count = 0;
  for (std::size_t word = 0; word < seen_.size(); ++word) {
    ranks_[word] = static_cast<std::uint16_t>(std::min<std::size_t>(count, UINT16_MAX));
    count += static_cast<std::size_t>(std::popcount(seen_[word]));
  }
  colourCount_ = count;
  const bool setAside = rules_.formatDrawsTransparent || sawTransparent_;
  const std::size_t capacity = setAside ? kPaletteEntries - 1 : kPaletteEntries;
  if (count > capacity) {
    return PaletteChoice::kTooManyColours;
  }
  const std::uint8_t t = rules_.transparentIndex;
  for (std::size_t rank = 0; rank < count; ++rank) {
    entryOfRank_[rank] = static_cast<std::uint8_t>(setAside && rank >= t ? rank + 1 : rank);
  }
  palette_ = {};
  for (std::size_t word = 0, rank = 0; word < seen_.size(); ++word) {
    for (std::uint64_t bits = seen_[word]; bits != 0; bits &= bits - 1, ++rank) {
      const auto colour =
          static_cast<Rgb24>(word * kWordBits + static_cast<std::size_t>(std::countr_zero(bits)));
      palette_.colours[entryOfRank_[rank]] = colour;
    }
  }
  // The count reaches past the last colour (and T, where T lies below it).
  palette_.count = static_cast<std::uint16_t>(count == 0 ? 0 : entryOfRank_[count - 1] + 1U);
  transparency_ = {.index = setAside ? std::optional(t) : std::nullopt,
                   .alphaThreshold = rules_.alphaThreshold};
  return PaletteChoice::kExact;
}

std::uint8_t ExactPalette::EntryOf(Rgb24 colour) const {
  const std::size_t word = colour / kWordBits;
  const std::uint64_t below = seen_[word] & ((std::uint64_t{1} << (colour % kWordBits)) - 1);
  return entryOfRank_[ranks_[word] + static_cast<std::size_t>(std::popcount(below))];
}

bool ExactPalette::Map(const RgbaPixels& frame, std::span<std::uint8_t> indices) const {
  if (!HoldsFrame(frame) || indices.size() != frame.PixelCount()) {
    return false;
  }
  const std::span<const std::uint8_t> bytes = frame.bytes;
  std::optional<std::uint32_t> previous;
  std::uint8_t entry = 0;
  for (std::size_t pixel = 0; pixel < indices.size(); ++pixel) {
    const std::uint32_t value = PixelAt(bytes, pixel);
    if (value != previous) {
      previous = value;
      entry = transparency_.IsTransparent(AlphaAt(bytes, pixel)) ? *transparency_.index
                                                                 : EntryOf(ColourAt(bytes, pixel));
    }
    indices[pixel] = entry;
  }
  return true;
}

}  // namespace kav
