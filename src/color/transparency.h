#pragma once
// Which pixels of a picture are transparent, the index T they take, and what a palette
// input's indices become so that they do. Single pictures and the frames of an animation
// follow the same rules, gathered over every frame before any frame is mapped.
//
// A pixel is transparent when its alpha is below the threshold; one at or above it keeps its
// colour as stored. Transparent pixels take T: 255 in RLE and RLS, MZR's transparent colour
// in MZR (drawn transparent there only with remapping on).
//
// Palette inputs keep their indices, except that the pixels of every transparent entry take
// T, and, when opaque pixels use T, those take the lowest-numbered transparent entry's index
// L instead and entries L and T of the palette are swapped. Truecolour inputs get an exact
// palette (color/exact_palette.h).

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "color/palette.h"

namespace kav {

// What one conversion asks of transparency.
struct TransparencyRules {
  std::uint8_t transparentIndex = 255;  // T
  bool formatDrawsTransparent = true;   // the output draws T transparent
  std::uint8_t alphaThreshold = 128;    // 1..255
  bool keepIndices = false;             // palette inputs: indices as stored, alpha ignored

  bool IsTransparent(std::uint8_t alpha) const { return alpha < alphaThreshold; }
};

// Which indices the pixels of a palette input use, over one frame or several.
class IndexUsage {
 public:
  void Add(std::span<const std::uint8_t> indices);
  bool Uses(std::uint8_t index) const { return used_[index]; }

 private:
  std::array<bool, kPaletteEntries> used_{};
};

// What a palette input's indices and entries become.
struct IndexRemap {
  std::array<std::uint8_t, kPaletteEntries> newIndex{};  // of each stored index
  // Entries L and T, exchanged in the palette, when opaque pixels used T.
  std::optional<std::array<std::uint8_t, 2>> swapped;
  bool changes = false;  // whether any index changes
};

// The alpha of each of the 256 entries of a palette input (entries past its own count are
// opaque black) and the indices its frames use give the remap the rules ask for; identity
// when no entry is transparent or the rules keep indices.
IndexRemap RemapForTransparency(std::span<const std::uint8_t, kPaletteEntries> entryAlphas,
                                const IndexUsage& usage, const TransparencyRules& rules);

// Applies `remap` to one frame's indices in place.
void ApplyRemap(const IndexRemap& remap, std::span<std::uint8_t> indices);

}  // namespace kav
