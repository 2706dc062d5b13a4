#pragma once
// Both output formats store the width and the row count in 16 bits.

#include <cstdint>

#include "input/picture.h"

namespace kav {

inline constexpr std::uint32_t kMaxDimension = 65535;

inline bool FitsFileHeader(const Picture& picture) {
  return picture.width() <= kMaxDimension && picture.height() <= kMaxDimension;
}

}  // namespace kav
