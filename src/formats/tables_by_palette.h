#pragma once
// Colour tables kept per palette for the rest of the run. The sprites of one game mostly
// share a palette, and each of their files holds the same tables (32 shade tables in MZR, 8
// effect tables in RLE and RLS): they are built on the first file of each palette and copied
// for the others. Any thread may ask.

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "input/picture.h"
#include "platform/test_seams.h"

namespace kav {

// What tables are built from: red, green and blue of every entry. Alpha and the count of the
// input's own entries are left out, since no table looks at them.
using PaletteColours = std::array<std::uint8_t, 3 * kPaletteEntries>;

inline PaletteColours ColoursOf(const Palette& palette) {
  PaletteColours colours{};
  for (std::size_t i = 0; i < kPaletteEntries; ++i) {
    const Colour& entry = palette.entries[i];
    colours[3 * i] = entry.red;
    colours[3 * i + 1] = entry.green;
    colours[3 * i + 2] = entry.blue;
  }
  return colours;
}

template <typename Tables>
class TablesByPalette {
 public:
  using Build = Tables (*)(const Palette&);
  explicit TablesByPalette(Build build) : build_(build) {}

  // The tables of `palette`: those built for the same colours earlier, or built now. Without
  // the seams' leave (seams::KeepPaletteTables) every request builds its own.
  std::shared_ptr<const Tables> Of(const Palette& palette) {
    if (!seams::KeepPaletteTables()) {
      return std::make_shared<const Tables>(build_(palette));
    }
    const PaletteColours colours = ColoursOf(palette);
    const std::lock_guard lock(mutex_);
    const auto kept = std::find_if(kept_.begin(), kept_.end(), [&colours](const Kept& entry) {
      return entry.colours == colours;
    });
    if (kept != kept_.end()) {
      std::rotate(kept_.begin(), kept, kept + 1);  // the latest asked stays longest
      return kept_.front().tables;
    }
    // Built while the others wait: each palette's tables are built once.
    if (kept_.size() == kKeptPalettes) {
      kept_.pop_back();
    }
    kept_.insert(kept_.begin(), Kept{colours, std::make_shared<const Tables>(build_(palette))});
    return kept_.front().tables;
  }

 private:
  // A run of more palettes than this, taken in turn, builds some of them again.
  static constexpr std::size_t kKeptPalettes = 16;

  struct Kept {
    PaletteColours colours;
    std::shared_ptr<const Tables> tables;
  };

  Build build_;
  std::mutex mutex_;
  std::vector<Kept> kept_;  // the latest asked first
};

}  // namespace kav
