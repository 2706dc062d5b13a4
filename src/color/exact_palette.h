#pragma once
// The exact palette of truecolour pictures: their distinct opaque colours (as 24-bit RGB)
// sorted by their value 0xRRGGBB ascending, at the lowest indices other than T where T is set
// aside; the other entries are black, and each pixel takes the entry that holds exactly its
// colour.
//
// T is set aside where the output draws it transparent or where some pixel is transparent;
// the palette then holds 255 colours, otherwise 256. The colours of several pictures (the
// frames of an animation) are gathered into one palette before any of them is mapped:
//
//   ExactPalette palette(rules);
//   for each frame: palette.Gather(frame);
//   if (palette.Choose() == PaletteChoice::kTooManyColours) ... (reduce instead)
//   for each frame: palette.Map(frame, indices);
//
// The colours seen are one bit each of all 2^24 (2 MiB); once chosen, each colour's entry is
// found in a small open-addressed table, so gathering and mapping cost a few operations a
// pixel (fewer where a pixel repeats the one before) whatever the picture holds. Map() may
// write each pixel's index over the first byte of its own 4 (in place, indices at the start
// of the frame's bytes), since a pixel is read before its index is written.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "color/palette.h"
#include "color/transparency.h"

namespace kav {

enum class PaletteChoice : std::uint8_t {
  kExact,           // every colour fits: Palette() holds them
  kTooManyColours,  // more distinct opaque colours than the palette holds
};

class ExactPalette {
 public:
  explicit ExactPalette(const TransparencyRules& rules);

  // Adds the colours of the opaque pixels of `frame`.
  void Gather(const RgbaPixels& frame);
  PaletteChoice Choose();

  // After Choose() gave kExact: the palette, and which pixels take T.
  const RgbPalette& Palette() const { return palette_; }
  Transparency TransparencyOf() const { return transparency_; }
  // Each pixel of `frame` (one gathered before Choose) to its entry in `indices`, transparent
  // pixels to T. false, with nothing written, when `indices` does not hold exactly the
  // frame's pixels.
  bool Map(const RgbaPixels& frame, std::span<std::uint8_t> indices) const;

  std::size_t ColourCount() const { return colourCount_; }

 private:
  std::size_t SlotOf(Rgb24 colour) const;
  void Place(Rgb24 colour, std::uint8_t entry);
  std::uint8_t EntryOf(Rgb24 colour) const;

  TransparencyRules rules_;
  // Slots of the table of chosen colours: four for each entry, so that a search meets an
  // empty slot within a few steps.
  static constexpr std::size_t kSlots = 4 * kPaletteEntries;
  static constexpr std::uint32_t kTaken = 1U << 24;  // marks a slot's colour as present

  std::vector<std::uint64_t> seen_;  // one bit a colour
  bool sawTransparent_ = false;
  std::size_t colourCount_ = 0;
  RgbPalette palette_;
  Transparency transparency_;
  std::array<std::uint32_t, kSlots> slotColours_{};  // colour | kTaken, or 0 for an empty slot
  std::array<std::uint8_t, kSlots> slotEntries_{};
};

// The same exact palette made while a picture's rows come, in one pass with no truecolour
// picture kept: each row is mapped at once to provisional indices (its colours numbered as
// they are first met, the transparent pixels given the number after those met before the
// first of them), which Finish() turns into the palette's indices. It gives up as soon as
// more colours are met than any palette holds, so that the caller can read the picture
// whole instead (for colour reduction).
class StreamedExactPalette {
 public:
  explicit StreamedExactPalette(const TransparencyRules& rules) : rules_(rules) {}

  // `rgba` (4 bytes a pixel) into `provisional`, one byte a pixel; false, with the row
  // unfinished, once more than 256 numbers are needed.
  bool MapRow(std::span<const std::uint8_t> rgba, std::span<std::uint8_t> provisional);
  // As ExactPalette::Choose, after every row; then Palette() and TransparencyOf() as there.
  PaletteChoice Choose();
  const RgbPalette& Palette() const { return palette_; }
  // The provisional indices of every row, in place, into the palette's.
  void Finish(std::span<std::uint8_t> indices) const;

 private:
  static constexpr std::size_t kSlots = 4 * kPaletteEntries;
  static constexpr std::uint32_t kTaken = 1U << 24;
  static constexpr std::size_t kNumbers = kPaletteEntries;

  std::optional<std::uint8_t> NumberOf(Rgb24 colour);

  TransparencyRules rules_;
  std::array<Rgb24, kNumbers> colours_{};  // by number
  std::size_t numbers_ = 0;                // numbers given
  std::optional<std::uint8_t> transparentNumber_;
  std::array<std::uint32_t, kSlots> slotColours_{};
  std::array<std::uint8_t, kSlots> slotNumbers_{};
  RgbPalette palette_;
  std::array<std::uint8_t, kNumbers> finalIndex_{};  // of each number
};

}  // namespace kav
