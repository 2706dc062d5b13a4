#pragma once
// Whole pictures onto a fixed palette by the nearest-colour rule (color/nearest_colour.h),
// with the same answer NearestEntry gives for every colour, fast: each 24-bit colour's answer
// is worked out once and kept in a table of all 2^24 colours (18 MiB, allocated with the
// mapper and kept for every picture it maps), and the entries are searched outwards from the
// wanted lightness, so that most of them are passed over unmeasured.
//
// A mapper is used by one thread at a time: give each worker its own.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "color/nearest_colour.h"
#include "color/palette.h"
#include "platform/memory_block.h"

namespace kav {

class PaletteMapper {
 public:
  // A mapper onto the entries [0, count) of `palette` other than transparency.index, or
  // nullopt when no entry is left. When the table cannot be allocated the mapper still
  // answers, working out every colour again.
  static std::optional<PaletteMapper> Make(const RgbPalette& palette,
                                           const Transparency& transparency);

  // The entry NearestEntry gives `colour`.
  std::uint8_t Nearest(Rgb24 colour);

  // Each pixel of `pixels` to its index in `indices` (one byte a pixel, rows top first):
  // transparent pixels take T, opaque ones their nearest entry, after ordered dithering
  // (color/ordered_dither.h) for MapOrdered. false, with nothing written, when `indices` or
  // `pixels.bytes` do not hold exactly the picture's pixels.
  bool Map(const RgbaPixels& pixels, std::span<std::uint8_t> indices);
  bool MapOrdered(const RgbaPixels& pixels, std::span<std::uint8_t> indices);

 private:
  struct Candidate {
    OkLab lab;
    std::uint8_t index = 0;
  };

  PaletteMapper(std::vector<Candidate> candidates, const Transparency& transparency);
  std::uint8_t Search(Rgb24 colour) const;
  template <bool kOrdered>
  bool MapPixels(const RgbaPixels& pixels, std::span<std::uint8_t> indices);

  std::vector<Candidate> candidates_;  // sorted by lightness, then index
  Transparency transparency_;
  MemoryBlock table_;  // the answer of each colour, then one bit a colour: answered yet
};

}  // namespace kav
