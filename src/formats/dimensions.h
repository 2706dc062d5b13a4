#pragma once
// Both output formats store the width and the row count in 16 bits.

#include <cstdint>

#include "input/bitmap_view.h"

namespace kav {

inline constexpr std::uint32_t kMaxDimension = 65535;

constexpr bool FitsFileHeader(const BitmapView& bitmap) {
  return bitmap.width <= kMaxDimension && bitmap.rowCount <= kMaxDimension;
}

}  // namespace kav
