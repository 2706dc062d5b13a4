#include "color/exact_palette.h"

#include <algorithm>
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

// The end of the run of pixels alike (all four bytes) that starts at `pixel`: sprites are
// mostly runs, and a run's colour is looked at once.
std::size_t RunEnd(std::span<const std::uint8_t> bytes, std::size_t pixel) {
  const std::size_t count = bytes.size() / kRgbaPixelBytes;
  const std::uint32_t value = PixelAt(bytes, pixel);
  std::size_t end = pixel + 1;
  while (end < count && PixelAt(bytes, end) == value) {
    ++end;
  }
  return end;
}

bool HoldsFrame(const RgbaPixels& frame) {
  return frame.bytes.size() / kRgbaPixelBytes == frame.PixelCount() &&
         frame.bytes.size() % kRgbaPixelBytes == 0;
}

// Fibonacci hashing: the top bits of the colour times 2^32 / phi spread neighbouring colours.
constexpr std::uint32_t kGoldenRatio = 0x9E3779B1U;
constexpr unsigned kSlotBits = 10;

}  // namespace

ExactPalette::ExactPalette(const TransparencyRules& rules)
    : rules_(rules), seen_(kColours / kWordBits) {
  static_assert(kSlots == std::size_t{1} << kSlotBits);
}

void ExactPalette::Gather(const RgbaPixels& frame) {
  if (!HoldsFrame(frame)) {
    return;
  }
  const std::span<const std::uint8_t> bytes = frame.bytes;
  for (std::size_t pixel = 0; pixel < frame.PixelCount(); pixel = RunEnd(bytes, pixel)) {
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
  for (const std::uint64_t word : seen_) {
    count += static_cast<std::size_t>(std::popcount(word));
  }
  colourCount_ = count;
  const bool setAside = rules_.formatDrawsTransparent || sawTransparent_;
  const std::size_t capacity = setAside ? kPaletteEntries - 1 : kPaletteEntries;
  if (count > capacity) {
    return PaletteChoice::kTooManyColours;
  }
  // The colours in ascending order, at the lowest entries other than T where it is set aside.
  const std::uint8_t t = rules_.transparentIndex;
  palette_ = {};
  std::size_t entry = 0;
  for (std::size_t word = 0; word < seen_.size(); ++word) {
    for (std::uint64_t bits = seen_[word]; bits != 0; bits &= bits - 1, ++entry) {
      entry += setAside && entry == t ? 1 : 0;
      const auto colour =
          static_cast<Rgb24>(word * kWordBits + static_cast<std::size_t>(std::countr_zero(bits)));
      palette_.colours[entry] = colour;
      Place(colour, static_cast<std::uint8_t>(entry));
    }
  }
  // The count reaches past the last colour (and T, where T lies below it).
  palette_.count = static_cast<std::uint16_t>(entry);
  transparency_ = {.index = setAside ? std::optional(t) : std::nullopt,
                   .alphaThreshold = rules_.alphaThreshold};
  return PaletteChoice::kExact;
}

std::size_t ExactPalette::SlotOf(Rgb24 colour) const {
  std::size_t slot = (colour * kGoldenRatio) >> (32 - kSlotBits);
  while (slotColours_[slot] != 0 && slotColours_[slot] != (colour | kTaken)) {
    slot = (slot + 1) % kSlots;
  }
  return slot;
}

void ExactPalette::Place(Rgb24 colour, std::uint8_t entry) {
  const std::size_t slot = SlotOf(colour);
  slotColours_[slot] = colour | kTaken;
  slotEntries_[slot] = entry;
}

std::uint8_t ExactPalette::EntryOf(Rgb24 colour) const {
  return slotEntries_[SlotOf(colour)];  // an empty slot's entry, 0, for a colour not gathered
}

bool ExactPalette::Map(const RgbaPixels& frame, std::span<std::uint8_t> indices) const {
  if (!HoldsFrame(frame) || indices.size() != frame.PixelCount()) {
    return false;
  }
  const std::span<const std::uint8_t> bytes = frame.bytes;
  for (std::size_t pixel = 0; pixel < indices.size();) {
    // The run is read before its indices are written, which lie before its pixels.
    const std::size_t end = RunEnd(bytes, pixel);
    const std::uint8_t entry = transparency_.IsTransparent(AlphaAt(bytes, pixel))
                                   ? *transparency_.index
                                   : EntryOf(ColourAt(bytes, pixel));
    std::fill(indices.begin() + static_cast<std::ptrdiff_t>(pixel),
              indices.begin() + static_cast<std::ptrdiff_t>(end), entry);
    pixel = end;
  }
  return true;
}

std::optional<std::uint8_t> StreamedExactPalette::NumberOf(Rgb24 colour) {
  std::size_t slot = (colour * kGoldenRatio) >> (32 - kSlotBits);
  while (slotColours_[slot] != 0 && slotColours_[slot] != (colour | kTaken)) {
    slot = (slot + 1) % kSlots;
  }
  if (slotColours_[slot] == 0) {
    if (numbers_ == kNumbers) {
      return std::nullopt;
    }
    slotColours_[slot] = colour | kTaken;
    slotNumbers_[slot] = static_cast<std::uint8_t>(numbers_);
    colours_[numbers_++] = colour;
  }
  return slotNumbers_[slot];
}

bool StreamedExactPalette::MapRow(std::span<const std::uint8_t> rgba,
                                  std::span<std::uint8_t> provisional) {
  if (rgba.size() != provisional.size() * kRgbaPixelBytes) {
    return false;
  }
  for (std::size_t pixel = 0; pixel < provisional.size();) {
    const std::size_t end = RunEnd(rgba, pixel);
    std::optional<std::uint8_t> number;
    if (rules_.IsTransparent(AlphaAt(rgba, pixel))) {
      if (!transparentNumber_ && numbers_ < kNumbers) {
        transparentNumber_ = static_cast<std::uint8_t>(numbers_++);
      }
      number = transparentNumber_;
    } else {
      number = NumberOf(ColourAt(rgba, pixel));
    }
    if (!number) {
      return false;
    }
    std::fill(provisional.begin() + static_cast<std::ptrdiff_t>(pixel),
              provisional.begin() + static_cast<std::ptrdiff_t>(end), *number);
    pixel = end;
  }
  return true;
}

PaletteChoice StreamedExactPalette::Choose() {
  const bool setAside = rules_.formatDrawsTransparent || transparentNumber_;
  const std::size_t count = numbers_ - (transparentNumber_ ? 1 : 0);
  if (count > (setAside ? kPaletteEntries - 1 : kPaletteEntries)) {
    return PaletteChoice::kTooManyColours;
  }
  // The numbers of the colours, in the order of their colours.
  std::array<std::uint8_t, kNumbers> byColour{};
  std::size_t sorted = 0;
  for (std::size_t number = 0; number < numbers_; ++number) {
    if (number != transparentNumber_) {
      byColour[sorted++] = static_cast<std::uint8_t>(number);
    }
  }
  std::sort(byColour.begin(), byColour.begin() + static_cast<std::ptrdiff_t>(sorted),
            [this](std::uint8_t a, std::uint8_t b) { return colours_[a] < colours_[b]; });
  const std::uint8_t t = rules_.transparentIndex;
  palette_ = {};
  std::size_t entry = 0;
  for (std::size_t rank = 0; rank < sorted; ++rank, ++entry) {
    entry += setAside && entry == t ? 1 : 0;
    palette_.colours[entry] = colours_[byColour[rank]];
    finalIndex_[byColour[rank]] = static_cast<std::uint8_t>(entry);
  }
  palette_.count = static_cast<std::uint16_t>(entry);
  if (transparentNumber_) {
    finalIndex_[*transparentNumber_] = t;
  }
  return PaletteChoice::kExact;
}

void StreamedExactPalette::Finish(std::span<std::uint8_t> indices) const {
  for (std::uint8_t& index : indices) {
    index = finalIndex_[index];
  }
}

}  // namespace kav
