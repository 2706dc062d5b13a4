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
// The colours seen are one bit each of all 2^24 (2 MiB), and their ranks a 16-bit count per
// 64 colours (512 KiB), so gathering and mapping cost a few operations a pixel whatever the
// picture holds.

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
  std::uint8_t EntryOf(Rgb24 colour) const;

  TransparencyRules rules_;
  std::vector<std::uint64_t> seen_;   // one bit a colour
  std::vector<std::uint16_t> ranks_;  // the colours seen before each word of seen_
  bool sawTransparent_ = false;
  std::size_t colourCount_ = 0;
  RgbPalette palette_;
  Transparency transparency_;
  std::array<std::uint8_t, kPaletteEntries + 1> entryOfRank_{};
};

}  // namespace kav
