#include "color/transparency.h"

#include <numeric>

namespace kav {

void IndexUsage::Add(std::span<const std::uint8_t> indices) {
  for (const std::uint8_t index : indices) {
    used_[index] = true;
  }
}

IndexRemap RemapForTransparency(std::span<const std::uint8_t, kPaletteEntries> entryAlphas,
                                const IndexUsage& usage, const TransparencyRules& rules) {
  IndexRemap remap;
  std::iota(remap.newIndex.begin(), remap.newIndex.end(), std::uint8_t{0});
  const auto transparent = [&](std::size_t entry) {
    return rules.IsTransparent(entryAlphas[entry]);
  };
  std::optional<std::uint8_t> lowest;
  for (std::size_t entry = 0; entry < kPaletteEntries && !rules.keepIndices; ++entry) {
    if (transparent(entry)) {
      lowest = lowest.value_or(static_cast<std::uint8_t>(entry));
      remap.newIndex[entry] = rules.transparentIndex;
    }
  }
  if (!lowest) {
    return remap;
  }
  const std::uint8_t t = rules.transparentIndex;
  if (!transparent(t) && usage.Uses(t)) {
    remap.newIndex[t] = *lowest;
    remap.swapped = std::array{*lowest, t};
  }
  for (std::size_t entry = 0; entry < kPaletteEntries; ++entry) {
    remap.changes = remap.changes || remap.newIndex[entry] != entry;
  }
  return remap;
}

void ApplyRemap(const IndexRemap& remap, std::span<std::uint8_t> indices) {
  if (!remap.changes) {
    return;
  }
  for (std::uint8_t& index : indices) {
    index = remap.newIndex[index];
  }
}

}  // namespace kav
